#pragma once

#include "app/TDWAppController.h"
#include "app/TDWAppMenus.h"
#include "app/TDWAppPrompts.h"
#include "app/TDWQuitFlow.h"
#include "app/TDWRecoveryQueue.h"
#include "app/TDWWindowRegistry.h"

#include <QAction>
#include <QByteArray>
#include <QList>
#include <QTcpServer>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace apptest {

// Answers the application's questions from a script and records what was asked.
class ScriptedPrompts : public TDWAppPrompts
{
public:
    struct Log
    {
        QStringList asked; // "quit", "quit+login", "startAtLogin"
        QStringList errors;
    };

    explicit ScriptedPrompts(std::shared_ptr<Log> log)
        : m_log(std::move(log))
    {
    }

    QList<QuitAnswer> quitAnswers;
    QList<StartAtLoginAnswer> startAtLoginAnswers;

    QuitAnswer askToQuit(bool offerStartAtLogin) override;
    StartAtLoginAnswer askToStartAtLogin() override;
    void showError(const QString &message) override;

private:
    std::shared_ptr<Log> m_log;
};

// A plain HTTP server on 127.0.0.1 that answers every request with an empty
// 200 and keeps each request as it arrived (request line, headers, body).
class RecordingHttpServer
{
public:
    RecordingHttpServer();
    // "http://127.0.0.1:<port>".
    QString url() const;
    QList<QByteArray> requests;

private:
    void serve(QTcpSocket *socket);
    QTcpServer m_server;
};

// A fresh home, XDG folders and settings for each test, and an application
// delegate started in them the way main() starts it.
class AppFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Makes the delegate (with its scripted prompts) on a backup scheduler
    // whose network is offline and whose runs do nothing; call once per test.
    TDWAppController &makeController();
    // Makes the delegate (with its scripted prompts) on the program's own
    // backup scheduler: real network, timers and backup runs.
    TDWAppController &makeProgramController();
    // Runs both launch steps and the event loop until start-up has come to
    // rest: finished, waiting in the first-run window, or stopped.
    void launch();
    // The menu item with that action, anywhere in the menus; null if none.
    QAction *menuItem(const char *selector) const;
    // Runs the event loop until the condition holds; false if it never does.
    static bool waitFor(const std::function<bool()> &condition);

    // A store with one account, and the settings of a user who has used the
    // program before, as a previous run leaves them.
    void prepareReturningUser(const QStringList &usernames = {QStringLiteral("returning@example.com")});

    QString dataFolder() const;

    std::shared_ptr<ScriptedPrompts::Log> prompted = std::make_shared<ScriptedPrompts::Log>();
    ScriptedPrompts *prompts = nullptr;
    std::unique_ptr<TDWAppController> controller;
    // What the backup scheduler did: it stands on a network that is offline
    // (so Back Up Now queues a run at once), with no sleep notices.
    std::atomic<int> backupRunsMade = 0;
    std::atomic<int> ruleUpdatesRun = 0;
    QList<int> stops; // exit codes of stopped()
    bool startupFinished = false;
    QString home;
};

} // namespace apptest
