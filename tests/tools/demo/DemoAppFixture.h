#pragma once

// The application started through its own start-up in fresh folders against
// the demo's servers (started once for the test program, as scripts/demo
// starts them), and the first run gone through as the user goes through it.
#include "AppTestSupport.h"
#include "DemoServers.h"

#include "platform/notify/TDWNotificationCenter.h"

#include <QStringList>
#include <QWidget>

#include <optional>

class TDWFirstTimeUserController;

namespace demotest {

// Every service of the sample account.
inline const QStringList Services = {QStringLiteral("mail"), QStringLiteral("docs"), QStringLiteral("contacts"), QStringLiteral("calendar"),
                                     QStringLiteral("tasks")};
// A backup run of the whole sample account, on a loaded machine: a limit that only a run that hangs reaches.
constexpr int RunTimeoutMs = 240000;

class DemoAppFixture : public apptest::AppFixture
{
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    TDWFirstTimeUserController *firstRun() const;
    // The first-run window's page now.
    QWidget *page() const;

    template<class Widget>
    Widget *onPage(const QString &name) const
    {
        Widget *found = page() ? page()->findChild<Widget *>(name) : nullptr;
        EXPECT_TRUE(found) << name.toStdString();
        return found;
    }

    // The first run as the user goes through it: the settings page, the
    // account page with every service, Allow on the consent page in the
    // browser, every label on the label step.
    void goThroughFirstRun();
    // Waits for the end of the backup run under way or queued, by the cycle's
    // own "ended" notice.
    bool waitForRunEnd(int endedBefore);
    // Observes the cycle's "ended" notices (SetUp does it for the fixture's own tests).
    void countRunEnds();

    static DemoServers *s_servers;
    int runsEnded = 0;

private:
    std::optional<TDWNotificationCenter::Token> m_observer;
};

} // namespace demotest
