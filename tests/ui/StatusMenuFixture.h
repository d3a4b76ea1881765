#pragma once

#include "DataObjectsTestSupport.h"
#include "SchedulerTestSupport.h"
#include "agent/TDWBackupScheduler.h"
#include "status/TDWStatusMgr.h"
#include "ui/TDWStatusItemMgr.h"

#include <QHash>
#include <QStringList>

#include <memory>
#include <vector>

namespace statusmenutest {

// A status evaluator that answers what the test scripted: a code per account
// and service (7, backed up, unless set) and a global status.
class FakeStatusMgr : public TDWStatusMgr
{
public:
    qint32 statusForAccount(const std::shared_ptr<TDWAccount> &account, const QString &service, TDWManagedObjectContext &moc) const override;
    qint32 globalStatus() const override { return global; }

    void set(const QString &username, const QString &service, qint32 code);
    // The four active services' codes, in table order (mail, docs, contacts, calendar).
    void setAll(const QString &username, const QList<qint32> &codes);

    QHash<QString, qint32> codes;
    qint32 global = TDWStatusMgr::AllBackedUp;
};

// A fixture store, the scripted evaluator and a scheduler on fake timers
// whose backup runs wait for the test; the manager is made by make().
class StatusMenuFixture
{
public:
    StatusMenuFixture();
    ~StatusMenuFixture();

    // Makes the manager, draws it and waits until its item is shown.
    TDWStatusItemMgr &make();
    // Posts on the main thread and returns once the manager has handled it.
    static void post(const QString &name, const QString &username = {});
    // One line per menu item: "---" for a separator, else its text, with
    // " [off]" when disabled and " [on]" when checked.
    QStringList lines() const;
    // The account area: from the first group's separator to the one after the last group.
    QStringList accountLines() const;

    dotest::MetadataStack stack;
    std::shared_ptr<FakeStatusMgr> statusMgr = std::make_shared<FakeStatusMgr>();
    schedtest::FakeTimers timers;
    std::vector<std::shared_ptr<schedtest::HeldRun>> runs;
    std::unique_ptr<TDWBackupScheduler> scheduler;
    QString currentAccountUsername;
    std::unique_ptr<TDWStatusItemMgr> mgr;
};

} // namespace statusmenutest
