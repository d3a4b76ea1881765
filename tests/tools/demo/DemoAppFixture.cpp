#include "DemoAppFixture.h"

#include "TestBrowser.h"

#include "agent/TDWBackupScheduler.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "ui/TDWAccountFlowController.h"
#include "ui/TDWAccountViewController.h"
#include "ui/TDWContentView.h"
#include "ui/TDWFirstTimeUserController.h"
#include "ui/TDWLabelViewController.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace demotest {

DemoServers *DemoAppFixture::s_servers = nullptr;

void DemoAppFixture::SetUpTestSuite()
{
    s_servers = new DemoServers;
    ASSERT_TRUE(s_servers->start());
    s_servers->exportProgramEnvironment();
}

void DemoAppFixture::TearDownTestSuite()
{
    if (!s_servers)
        return;
    s_servers->stop();
    delete s_servers;
    s_servers = nullptr;
}

void DemoAppFixture::SetUp()
{
    AppFixture::SetUp();
    // What scripts/demo writes into the settings before the program starts.
    TDWUserDefaults::standard()->setString(s_servers->imapHostname(), QStringLiteral("Hostname"));
    TDWUserDefaults::standard()->synchronize();
    countRunEnds();
}

void DemoAppFixture::TearDown()
{
    if (m_observer)
        TDWNotificationCenter::defaultCenter().removeObserver(*m_observer);
    AppFixture::TearDown();
}

void DemoAppFixture::countRunEnds()
{
    m_observer = TDWNotificationCenter::defaultCenter().addObserver(QStringLiteral("failedBackup"), [this](const TDWNotification &) {
        ++runsEnded;
    });
}

TDWFirstTimeUserController *DemoAppFixture::firstRun() const
{
    return controller->firstTimeUserController();
}

QWidget *DemoAppFixture::page() const
{
    return TDWContentView::current(firstRun()->window());
}

void DemoAppFixture::goThroughFirstRun()
{
    tdwtest::RecordingUrlHandler browser;
    makeProgramController();
    launch();
    ASSERT_TRUE(firstRun());
    onPage<QPushButton>(QStringLiteral("continue"))->click();
    ASSERT_TRUE(firstRun()->accountFlowController());
    ASSERT_EQ(page(), firstRun()->accountFlowController()->accountViewController()->view());
    onPage<QLineEdit>(QStringLiteral("usernameField"))->setText(DemoServers::Address);
    for (const QString &service : Services)
        onPage<QCheckBox>(service)->setChecked(true);
    onPage<QPushButton>(QStringLiteral("continue"))->click();

    ASSERT_TRUE(QTest::qWaitFor([&] { return !browser.opened.isEmpty(); }, RunTimeoutMs));
    EXPECT_EQ(tdwtest::TestBrowser::answerConsent(browser.opened.first(), QStringLiteral("allow")).response.statusCode(), 200);
    ASSERT_TRUE(QTest::qWaitFor(
        [this] {
            const TDWLabelViewController *labels = firstRun() ? firstRun()->accountFlowController()->labelViewController() : nullptr;
            return labels && page() == labels->view();
        },
        RunTimeoutMs));
    if (!onPage<QCheckBox>(QStringLiteral("unlabeled"))->isChecked())
        onPage<QCheckBox>(QStringLiteral("unlabeled"))->click();
    QCheckBox *customLabels = onPage<QCheckBox>(QStringLiteral("customLabels"));
    for (int clicks = 0; clicks < 2 && customLabels->checkState() != Qt::Checked; ++clicks)
        customLabels->click();
    ASSERT_EQ(customLabels->checkState(), Qt::Checked);
    onPage<QPushButton>(QStringLiteral("continue"))->click();
    ASSERT_TRUE(waitFor([this] { return startupFinished; }));
    ASSERT_TRUE(controller->windows()->mainWindowController());
}

bool DemoAppFixture::waitForRunEnd(int endedBefore)
{
    return QTest::qWaitFor([&] { return runsEnded > endedBefore && !controller->backupScheduler()->backupInProgress(); }, RunTimeoutMs);
}

} // namespace demotest
