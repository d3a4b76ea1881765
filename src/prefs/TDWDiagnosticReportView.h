#pragma once

#include <QPlainTextEdit>

// The text of a diagnostic report, as plain text (stored XML entries must show
// as written, never as markup) in the system's fixed-width font. The user
// reads and copies it; it is never edited, and cannot be selected while the
// report is still being written.
class TDWDiagnosticReportView : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit TDWDiagnosticReportView(QWidget *parent = nullptr);

    // Appends the text (CR LF as LF) and one empty line.
    void addOutputString(const QString &text);
    void setRunning(bool running);
};
