#include "prefs/TDWListDiagnosticWindowController.h"

#include <QPlainTextEdit>

TDWListDiagnosticWindowController::TDWListDiagnosticWindowController(QObject *parent)
    : QObject(parent)
    , m_window(std::make_unique<QPlainTextEdit>())
{
    m_window->setWindowTitle(tr("List Diagnostics"));
    // Read and copied, never edited.
    m_window->setReadOnly(true);
    m_window->resize(700, 500);
}

TDWListDiagnosticWindowController::~TDWListDiagnosticWindowController() = default;

void TDWListDiagnosticWindowController::showWindow()
{
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}
