#include "StatusMenuFixture.h"

#include "common/BKSNotUtils.h"
#include "common/TDWServiceTable.h"
#include "common/TDWSettingsKeys.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWBackupIteration.h"
#include "platform/foundation/TDWBlockOperation.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/power/TDWSleepNotices.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

namespace statusmenutest {

namespace {
const QStringList ActiveServices = {QStringLiteral("mail"), QStringLiteral("docs"), QStringLiteral("contacts"), QStringLiteral("calendar"),
                                    QStringLiteral("tasks")};

QString key(const QString &username, const QString &service)
{
    return username + QLatin1Char('|') + service;
}
} // namespace

qint32 FakeStatusMgr::statusForAccount(const std::shared_ptr<TDWAccount> &account, const QString &service, TDWManagedObjectContext &) const
{
    return codes.value(key(account->username(), service), TDWStatusMgr::BackedUp);
}

void FakeStatusMgr::set(const QString &username, const QString &service, qint32 code)
{
    codes.insert(key(username, service), code);
}

void FakeStatusMgr::setAll(const QString &username, const QList<qint32> &codesInOrder)
{
    for (qsizetype i = 0; i < codesInOrder.size(); ++i)
        set(username, ActiveServices.at(i), codesInOrder.at(i));
}

StatusMenuFixture::StatusMenuFixture()
{
    TDWUserDefaults::standard()->removeObjectForKey(TDWSettingsKeys::LatestBackupIterationUrl);
    TDWUserDefaults::standard()->removeObjectForKey(QStringLiteral("ShowDebugMenuItems"));
    TDWBackupSchedulerEnvironment environment;
    environment.reachability = std::make_unique<schedtest::FakeReachability>(true);
    environment.sleepNotices = std::make_unique<TDWSleepNotices>();
    environment.makeTimer = timers.factory();
    environment.makeBackupOperation = [this] {
        auto run = std::make_shared<schedtest::HeldRun>();
        runs.push_back(run);
        return run;
    };
    environment.makeRuleUpdate = [](const std::optional<QStringList> &, const QStringList &) { return std::make_shared<TDWBlockOperation>([] {}); };
    environment.makeDownloadCountUpdate = [](const QString &, const QString &) { return std::make_shared<TDWBlockOperation>([] {}); };
    environment.globalStatus = [this] { return statusMgr->globalStatus(); };
    scheduler = std::make_unique<TDWBackupScheduler>(TDWServiceTable::shared().serviceConfigs(), stack.coordinator, std::move(environment));
}

StatusMenuFixture::~StatusMenuFixture()
{
    mgr.reset();
    for (const std::shared_ptr<schedtest::HeldRun> &run : runs)
        run->release();
    scheduler.reset();
}

TDWStatusItemMgr &StatusMenuFixture::make()
{
    mgr = std::make_unique<TDWStatusItemMgr>(scheduler.get(), stack.coordinator, statusMgr, [this] { return currentAccountUsername; });
    mgr->draw();
    // The item is made from the event loop, a moment after draw().
    EXPECT_TRUE(schedtest::waitFor([this] { return mgr->trayIcon()->contextMenu() == mgr->menu(); }));
    return *mgr;
}

void StatusMenuFixture::post(const QString &name, const QString &username)
{
    QVariantMap userInfo;
    if (!username.isEmpty())
        userInfo.insert(QStringLiteral("accountUsername"), username);
    BKSNotUtils::postNotificationName(name, nullptr, userInfo, true);
}

QStringList StatusMenuFixture::lines() const
{
    QStringList result;
    for (const QAction *action : mgr->menu()->actions()) {
        if (action->isSeparator()) {
            result.append(QStringLiteral("---"));
            continue;
        }
        QString line = action->text();
        if (!action->isEnabled())
            line += QStringLiteral(" [off]");
        if (action->isChecked())
            line += QStringLiteral(" [on]");
        result.append(line);
    }
    return result;
}

QStringList StatusMenuFixture::accountLines() const
{
    const QStringList all = lines();
    return all.mid(3, all.indexOf(QStringLiteral("Preferences…")) - 3);
}

} // namespace statusmenutest
