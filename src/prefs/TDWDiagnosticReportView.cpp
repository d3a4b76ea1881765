#include "prefs/TDWDiagnosticReportView.h"

#include <QFontDatabase>
#include <QTextCursor>

TDWDiagnosticReportView::TDWDiagnosticReportView(QWidget *parent)
    : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
}

void TDWDiagnosticReportView::addOutputString(const QString &text)
{
    QString piece = text;
    piece.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(piece + QStringLiteral("\n\n"));
}

void TDWDiagnosticReportView::setRunning(bool running)
{
    setTextInteractionFlags(running ? Qt::NoTextInteraction : Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    if (!running)
        setFocus();
}
