#include "status/TDWActivityWindowController.h"

#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

TDWActivityWindowController::TDWActivityWindowController(QObject *parent)
    : QObject(parent)
    , m_window(std::make_unique<QWidget>())
{
    m_window->setWindowTitle(tr("Activity"));
    auto *layout = new QVBoxLayout(m_window.get());
    auto *label = new QLabel(tr("The progress of each backup appears here."));
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
    m_window->resize(423, 309);
}

TDWActivityWindowController::~TDWActivityWindowController() = default;

void TDWActivityWindowController::showWindow()
{
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}
