#include "app/TDWQuitFlow.h"

#include "agent/TDWBackupScheduler.h"
#include "app/TDWAppController.h"
#include "app/TDWRecoveryQueue.h"
#include "app/TDWStartupFixups.h"
#include "common/TDWSettingsKeys.h"
#include "platform/foundation/TDWMainThread.h"
#include "platform/foundation/TDWUserDefaults.h"

#include <QTimer>

namespace {

// The pause before quitting once the login item has been added.
constexpr int QuitAfterLoginItemDelayMs = 1000;

TDWUserDefaults *defaults()
{
    return TDWUserDefaults::standard();
}

} // namespace

TDWQuitFlow::TDWQuitFlow(TDWAppController &app)
    : m_app(app)
{
}

bool TDWQuitFlow::inLoginItems() const
{
    const auto &inLoginItems = m_app.loginItems().inLoginItems;
    return !inLoginItems || inLoginItems();
}

void TDWQuitFlow::quitConfirming()
{
    if (m_userSaidQuit || defaults()->boolForKey(TDWSettingsKeys::QuitNoPrompt) || !defaults()->boolForKey(TDWSettingsKeys::FirstTime)) {
        quit();
        return;
    }
    const TDWAppPrompts::QuitAnswer answer = m_app.prompts().askToQuit(!inLoginItems());
    switch (answer.choice) {
    case TDWAppPrompts::QuitChoice::Quit:
        if (answer.suppress)
            defaults()->setBool(true, TDWSettingsKeys::QuitNoPrompt);
        quit();
        break;
    case TDWAppPrompts::QuitChoice::QuitAndStartAtLogin:
        addToLoginItemsThenQuit();
        break;
    case TDWAppPrompts::QuitChoice::DontQuit:
        break;
    }
}

void TDWQuitFlow::quit()
{
    m_userSaidQuit = true;
    terminate();
}

void TDWQuitFlow::addToLoginItemsThenQuit()
{
    if (const auto &add = m_app.loginItems().addToLoginItems)
        add();
    m_userSaidQuit = true;
    QTimer::singleShot(QuitAfterLoginItemDelayMs, this, &TDWQuitFlow::terminate);
}

void TDWQuitFlow::terminate()
{
    // Quitting works the windows and waits in the main thread's event loop:
    // a request from another thread is carried over to it.
    if (!TDWMainThread::isCurrent()) {
        TDWMainThread::post(this, [this] { terminate(); });
        return;
    }
    // A second quit while the first waits for restores adds nothing.
    if (m_app.isStopping() || m_terminating)
        return;
    m_terminating = true;
    const TerminateReply reply = applicationShouldTerminate();
    m_terminating = false;
    if (reply == TerminateReply::Now)
        emit approved();
}

TDWQuitFlow::TerminateReply TDWQuitFlow::applicationShouldTerminate()
{
    defaults()->synchronize();
    if (!m_userSaidQuit && !inLoginItems() && !defaults()->boolForKey(TDWSettingsKeys::QuitNoPrompt) && !m_restartingTemp
        && defaults()->boolForKey(TDWSettingsKeys::FirstTimeV2)) {
        const TDWAppPrompts::StartAtLoginAnswer answer = m_app.prompts().askToStartAtLogin();
        if (answer.choice == TDWAppPrompts::StartAtLoginChoice::StartAtLogin) {
            addToLoginItemsThenQuit();
            return TerminateReply::Cancel;
        }
        if (answer.suppress)
            defaults()->setBool(true, TDWSettingsKeys::QuitNoPrompt);
    }
    m_app.recoveryQueue()->waitUntilAllOperationsAreFinished();
    if (m_app.backupScheduler() && m_app.backupScheduler()->backupInProgress())
        defaults()->setBool(true, TDWSettingsKeys::LastCancelled);
    m_app.quitTidewellMonitor();
    TDWStartupFixups::deleteQuickLookFolder();
    return TerminateReply::Now;
}
