#include "BookkeepingFixture.h"

#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWUserDefaults.h"

namespace bktest {

QList<Seed> statusTable()
{
    QList<Seed> seeds;
    for (qint64 status = TDWDocRev::NothingToDownload; status <= TDWDocRev::ExcludedByRule; ++status)
        for (bool latest : {true, false})
            for (bool deleted : {false, true})
                seeds.append({.status = status, .latest = latest, .deleted = deleted});
    return seeds;
}

void BookkeepingTest::SetUp()
{
    stack.addAccount(Alice, {Mail, Docs, Contacts});
    ASSERT_TRUE(stack.store(Alice, Docs) && stack.store(Alice, Contacts) && stack.store(Alice, Mail));
}

void BookkeepingTest::TearDown()
{
    TDWUserDefaults::standard()->removeObjectForKey(QStringLiteral("dontbackuppredicate"));
}

QList<TDWManagedObjectID> BookkeepingTest::seed(const QList<Seed> &seeds, const QString &service)
{
    const TDWPersistentStorePtr store = stack.store(Alice, service);
    QList<TDWDocRev::Ptr> revisions;
    for (const Seed &seed : seeds) {
        auto doc = TDWDoc::newWithMoc(*stack.moc, store);
        doc->setDocId(QString::number(m_nextDocId++));
        doc->setDocType(seed.docType);
        doc->setAccountUsername(Alice);
        doc->setService(service);
        doc->setDeleted(seed.deleted);
        doc->setIncludeInStatus(seed.includeInStatus);
        auto revision = TDWDocRev::newWithMoc(*stack.moc, store);
        revision->setDoc(doc);
        revision->setTitle(seed.title);
        revision->setLatest(seed.latest);
        revision->setExportStatus(seed.status);
        revisions.append(revision);
    }
    EXPECT_TRUE(stack.moc->save(nullptr));
    QList<TDWManagedObjectID> ids;
    for (const TDWDocRev::Ptr &revision : revisions)
        ids.append(revision->objectID());
    stack.moc->reset();
    return ids;
}

qint64 BookkeepingTest::statusOf(const TDWManagedObjectID &id)
{
    auto moc = TDWMasterStore::shared().newMoc();
    const auto revision = std::static_pointer_cast<TDWDocRev>(moc->existingObjectWithID(id, nullptr));
    return revision ? revision->exportStatus() : -1;
}

TDWAccountServiceSetting::Ptr BookkeepingTest::setting(const QString &service)
{
    stack.moc->reset();
    return TDWAccountServiceSetting::byAccountUsername(Alice, service, *stack.moc);
}

void BookkeepingTest::setCounts(const QString &service, bool upToDate, qint64 pending, qint64 failed, qint64 missing, qint64 done)
{
    const TDWAccountServiceSetting::Ptr current = setting(service);
    ASSERT_TRUE(current);
    current->setDownloadCountsUpToDate(upToDate);
    current->setNumDownloadsPending(pending);
    current->setNumDownloadsFailed(failed);
    current->setNumDownloadsMissing(missing);
    current->setNumDownloadsDone(done);
    ASSERT_TRUE(stack.moc->save(nullptr));
    stack.moc->reset();
}

} // namespace bktest
