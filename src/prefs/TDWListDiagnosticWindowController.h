#pragma once

#include <QObject>

#include <memory>

class QPlainTextEdit;

// The list diagnostic window: a report of the raw list pages of one service
// for one account, for the user to read and copy. The application's delegate
// creates one on first use and keeps it for the run. Fetching the pages is
// not part of this program yet: the report stays empty.
class TDWListDiagnosticWindowController : public QObject
{
    Q_OBJECT

public:
    explicit TDWListDiagnosticWindowController(QObject *parent = nullptr);
    ~TDWListDiagnosticWindowController() override;

    void showWindow();
    QPlainTextEdit *window() const { return m_window.get(); }

private:
    std::unique_ptr<QPlainTextEdit> m_window;
};
