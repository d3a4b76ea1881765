#include "restore/TDWRecoveringStatusWindowController.h"

#include "restore/TDWRecoveryProgress.h"
#include "restore/TDWRecoveryUserOperation.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cmath>

namespace {

// The bar's steps: fine enough for a restore of many thousand items.
constexpr int ProgressSteps = 10000;

} // namespace

TDWRecoveringStatusWindowController::TDWRecoveringStatusWindowController(std::shared_ptr<TDWRecoveryUserOperation> request, QObject *parent)
    : QObject(parent)
    , m_request(std::move(request))
{
    connect(m_request->progress().get(), &TDWRecoveryProgress::updated, this, &TDWRecoveringStatusWindowController::updateProgress);
    QTimer::singleShot(ShowDelayMs, this, &TDWRecoveringStatusWindowController::showIfInProgress);
}

TDWRecoveringStatusWindowController::~TDWRecoveringStatusWindowController() = default;

void TDWRecoveringStatusWindowController::showIfInProgress()
{
    m_delayOver = true;
    if (m_request->progress()->state() == TDWRecoveryProgress::State::InProgress)
        showWindow();
    else if (!m_window)
        deleteLater();
}

void TDWRecoveringStatusWindowController::showWindow()
{
    if (!m_window)
        loadWindow();
    m_window->show();
    // Wayland may only mark the window as wanting attention.
    m_window->raise();
    m_window->activateWindow();
}

void TDWRecoveringStatusWindowController::loadWindow()
{
    m_window = std::make_unique<QWidget>();
    m_window->setWindowTitle(tr("Restore"));
    m_text = new QLabel;
    m_text->setObjectName(QStringLiteral("text"));
    m_text->setWordWrap(true);
    m_progressIndicator = new QProgressBar;
    m_progressIndicator->setObjectName(QStringLiteral("progressIndicator"));
    m_progressIndicator->setTextVisible(false);
    m_cancelButton = new QPushButton(tr("Cancel"));
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    m_okButton = new QPushButton(tr("OK"));
    m_okButton->setObjectName(QStringLiteral("okButton"));
    m_okButton->setDefault(true);
    connect(m_cancelButton, &QPushButton::clicked, this, &TDWRecoveringStatusWindowController::cancel);
    connect(m_okButton, &QPushButton::clicked, this, &TDWRecoveringStatusWindowController::okButtonClick);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cancelButton);
    buttons->addWidget(m_okButton);
    auto *layout = new QVBoxLayout(m_window.get());
    layout->addWidget(m_text);
    layout->addWidget(m_progressIndicator);
    layout->addStretch();
    layout->addLayout(buttons);
    m_window->resize(440, 130);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        m_window->move(screen->availableGeometry().center() - m_window->rect().center());
    updateWindow();
}

void TDWRecoveringStatusWindowController::updateProgress()
{
    if (m_window) {
        updateWindow();
        return;
    }
    // A restore that went through without anything to say stays invisible.
    const TDWRecoveryProgress::State state = m_request->progress()->state();
    if (state == TDWRecoveryProgress::State::Failed || state == TDWRecoveryProgress::State::FinishedNotBackedUp)
        showWindow();
    else if ((state == TDWRecoveryProgress::State::Finished && m_delayOver) || state == TDWRecoveryProgress::State::Cancelled)
        deleteLater();
}

void TDWRecoveringStatusWindowController::updateWindow()
{
    const TDWRecoveryProgress &progress = *m_request->progress();
    const TDWRecoveryProgress::State state = progress.state();
    m_text->setText(progress.text());
    switch (state) {
    case TDWRecoveryProgress::State::Failed:
        m_progressIndicator->hide();
        m_cancelButton->hide();
        m_okButton->show();
        return;
    case TDWRecoveryProgress::State::Cancelled:
        closeWindow();
        return;
    case TDWRecoveryProgress::State::Finished:
        m_progressIndicator->setRange(0, ProgressSteps);
        m_progressIndicator->setValue(ProgressSteps);
        closeWindow();
        return;
    case TDWRecoveryProgress::State::FinishedNotBackedUp:
        m_progressIndicator->hide();
        m_cancelButton->hide();
        m_okButton->show();
        m_window->raise();
        m_window->activateWindow();
        return;
    case TDWRecoveryProgress::State::InProgress:
        break;
    }
    m_cancelButton->show();
    m_okButton->hide();
    if (const std::optional<double> value = progress.barValue()) {
        m_progressIndicator->setRange(0, ProgressSteps);
        m_progressIndicator->setValue(int(std::lround(*value * ProgressSteps)));
    } else {
        // A busy indicator until the first file is copied.
        m_progressIndicator->setRange(0, 0);
    }
    m_progressIndicator->show();
}

void TDWRecoveringStatusWindowController::cancel()
{
    m_request->cancel();
    closeWindow();
}

void TDWRecoveringStatusWindowController::okButtonClick()
{
    closeWindow();
}

void TDWRecoveringStatusWindowController::closeWindow()
{
    if (m_window)
        m_window->hide();
    deleteLater();
}
