#include "EntriesFixture.h"

#include "common/TDWFileMgr.h"
#include "common/TDWServiceTable.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWUserDefaults.h"

namespace entrytest {

TDWDocEntry entry(const QString &docId, const QString &title, const QString &docType, const QString &etag, const QDateTime &modified)
{
    TDWDocEntry made;
    made.setDocId(docId);
    made.setTitle(title);
    made.setDocType(docType);
    made.setEtag(etag);
    made.setLastModifiedDate(modified);
    return made;
}

void EntriesTest::SetUp()
{
    stack.addAccount(Alice, {QStringLiteral("docs"), QStringLiteral("contacts"), QStringLiteral("calendar"), QStringLiteral("reader"),
                             QStringLiteral("picasaweb")});
}

void EntriesTest::TearDown()
{
    m_processor.reset();
    m_reader.reset();
    TDWUserDefaults::standard()->removeObjectForKey(QStringLiteral("dontbackuppredicate"));
}

TDWDocListEntryProcessor &EntriesTest::run(int hour, const QString &service, TDWServiceDelegate *delegate)
{
    start = dotest::at(hour);
    auto iteration = TDWBackupIteration::newWithMoc(*stack.moc);
    iteration->setIterationStartTime(start);
    EXPECT_TRUE(stack.moc->save(nullptr));
    const QString folderType = TDWServiceTable::shared().serviceConfig(service).folderType;
    m_processor = std::make_unique<TDWDocListEntryProcessor>(Alice, service, iteration->objectID(), stack.store(Alice, service), folderType,
                                                             delegate);
    stack.moc->reset();
    return *m_processor;
}

TDWDoc::Ptr EntriesTest::doc(const QString &docId, const QString &service)
{
    m_reader = TDWMasterStore::shared().newMoc();
    return TDWDoc::byDocId(docId, stack.store(Alice, service), *m_reader, nullptr);
}

QList<TDWDocRev::Ptr> EntriesTest::revisions(const QString &docId, const QString &service)
{
    const TDWDoc::Ptr item = doc(docId, service);
    if (!item)
        return {};
    QList<TDWDocRev::Ptr> all = item->docRevs();
    std::sort(all.begin(), all.end(), [](const TDWDocRev::Ptr &a, const TDWDocRev::Ptr &b) { return a->objectID().rowId() < b->objectID().rowId(); });
    return all;
}

TDWDocRev::Ptr EntriesTest::latest(const QString &docId, const QString &service)
{
    const TDWDoc::Ptr item = doc(docId, service);
    return item ? TDWDocRev::latestForDoc(item, QDateTime(), *m_reader, nullptr) : nullptr;
}

QList<TDWDocParent::Ptr> EntriesTest::parentLinks(const QString &docId, const QString &service)
{
    const TDWDoc::Ptr item = doc(docId, service);
    return item ? item->parentDocs() : QList<TDWDocParent::Ptr>();
}

QString EntriesTest::itemsPath(const QString &service)
{
    return TDWFileMgr::backedUpItemsPathForService(service);
}

} // namespace entrytest
