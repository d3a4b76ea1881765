#include "mail/TDWMultiMessageExportOperation.h"

#include "common/TDWServiceIds.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWMailFolder.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "mail/TDWImapConnectionMgr.h"
#include "mail/TDWMessageFileWriter.h"
#include "mail/TDWProcessMessageResultOperation.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWOperationQueue.h"
#include "platform/foundation/TDWStallWatch.h"
#include "platform/imap/TDWImapSession.h"
#include "platform/store/TDWContextReset.h"
#include "platform/store/TDWFetchRequest.h"
#include "status/TDWActivityMonitor.h"

#include <QHash>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

using namespace std::chrono_literals;

namespace {

// Identifiers per "self in" query, well below SQLite's limit of bound values.
constexpr qsizetype RowChunk = 500;

std::optional<QList<QVariantMap>> dictionaries(TDWManagedObjectContext &moc, const QString &entity, const QList<TDWManagedObjectID> &ids,
                                               const QStringList &keys, const TDWPersistentStorePtr &store, TDWError *error)
{
    QVariantList refs;
    refs.reserve(ids.size());
    for (const TDWManagedObjectID &id : ids)
        refs.append(QVariant::fromValue(id.predicateObjectRef()));
    TDWFetchRequest request(entity);
    request.setPredicate(TDWPredicate::parse(QStringLiteral("self in %@"), {QVariant(refs)}));
    request.setAffectedStores({store});
    request.setPropertiesToFetch(keys);
    return moc.executeDictionaryFetchRequest(request, error);
}

} // namespace

// Held for every message to download: the revision by its row id alone.
struct TDWMultiMessageExportOperation::Row
{
    qint64 docRevRow = 0;
    quint32 uid = 0;
    qint64 allMailSeq = 0;
};

// What the request lanes share.
struct TDWMultiMessageExportOperation::Run
{
    std::mutex mutex;
    std::condition_variable changed;
    qsizetype next = 0;
    // Messages that could not be downloaded; only these count toward MaxFailures.
    int failures = 0;
    // A failure that reaches past its message (the connection, the sign-in, All
    // Mail itself): no new request is made once it is set.
    TDWError stop;
    int lanesRunning = 0;
    int pendingWrites = 0;
};

TDWMultiMessageExportOperation::TDWMultiMessageExportOperation(const QString &accountUsername, QList<TDWManagedObjectID> docRevIds)
    : m_accountUsername(accountUsername)
    , m_docRevIds(std::move(docRevIds))
{
}

TDWMultiMessageExportOperation::~TDWMultiMessageExportOperation() = default;

bool TDWMultiMessageExportOperation::completeSuccess() const
{
    return m_completeSuccess;
}

int TDWMultiMessageExportOperation::numRequested() const
{
    return m_numRequested;
}

void TDWMultiMessageExportOperation::main()
{
    std::optional<QList<Row>> rows = readRows();
    m_docRevIds = {};
    if (!rows) {
        m_completeSuccess = false;
        return;
    }
    // Nothing that fails from here on may pass for a download that went well.
    const std::shared_ptr<TDWImapSession> session = TDWImapConnectionMgr::imapSessionForUsername(m_accountUsername);
    if (!session) {
        tdwLog(QStringLiteral("ERROR: Unable to get an IMAP session to download messages of %1").arg(m_accountUsername));
        m_completeSuccess = false;
        return;
    }
    const QString folder = allMailFolderPath();
    if (folder.isEmpty()) {
        tdwLog(QStringLiteral("ERROR: Unable to find the All Mail folder to download messages of %1").arg(m_accountUsername));
        m_completeSuccess = false;
        return;
    }
    download(session, folder, std::move(*rows));
}

std::optional<QList<TDWMultiMessageExportOperation::Row>> TDWMultiMessageExportOperation::readRows()
{
    const std::shared_ptr<TDWStoreMgr> storeMgr = TDWMasterStore::shared().storeMgr();
    const TDWPersistentStorePtr store = storeMgr ? storeMgr->storeForAccountUsername(m_accountUsername, TDWServiceIds::Mail) : nullptr;
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    if (!store || !moc) {
        tdwLog(QStringLiteral("ERROR: Unable to fetch allMailUids: %1").arg(QStringLiteral("no mail store is open")));
        return std::nullopt;
    }
    const TDWContextReset resetOnExit{moc.get()};
    m_storeIdentifier = store->identifier();
    TDWError error;
    const QString docKey = QStringLiteral("doc");
    QList<Row> rows;
    rows.reserve(m_docRevIds.size());
    // Chunk by chunk, so that only the compact rows are held for the whole list.
    for (qsizetype start = 0; start < m_docRevIds.size(); start += RowChunk) {
        const auto revisions =
            dictionaries(*moc, QStringLiteral("DocRev"), m_docRevIds.mid(start, RowChunk), {TDWFetchRequest::ObjectIDKey, docKey}, store, &error);
        QList<TDWManagedObjectID> docIds;
        if (revisions) {
            for (const QVariantMap &revision : *revisions)
                docIds.append(revision.value(docKey).value<TDWManagedObjectID>());
        }
        const auto docs = revisions ? dictionaries(*moc, QStringLiteral("Doc"), docIds,
                                                   {TDWFetchRequest::ObjectIDKey, QStringLiteral("allMailUid"), QStringLiteral("allMailSeq")}, store,
                                                   &error)
                                    : std::nullopt;
        if (!docs) {
            tdwLog(QStringLiteral("ERROR: Unable to fetch allMailUids: %1").arg(error.localizedDescription()));
            return std::nullopt;
        }
        QHash<TDWManagedObjectID, QVariantMap> docById;
        for (const QVariantMap &doc : *docs)
            docById.insert(doc.value(TDWFetchRequest::ObjectIDKey).value<TDWManagedObjectID>(), doc);
        for (const QVariantMap &revision : *revisions) {
            const QVariantMap doc = docById.value(revision.value(docKey).value<TDWManagedObjectID>());
            // "<UIDVALIDITY>-<UID>"; a message the listing has not placed in All Mail cannot be asked for.
            bool ok = false;
            const quint32 uid = doc.value(QStringLiteral("allMailUid")).toString().section(QLatin1Char('-'), 1, 1).toUInt(&ok);
            if (!ok || uid == 0)
                continue;
            rows.append({revision.value(TDWFetchRequest::ObjectIDKey).value<TDWManagedObjectID>().rowId(), uid,
                         doc.value(QStringLiteral("allMailSeq")).toLongLong()});
        }
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Row &a, const Row &b) { return a.allMailSeq > b.allMailSeq; });
    return rows;
}

QString TDWMultiMessageExportOperation::allMailFolderPath()
{
    const std::shared_ptr<TDWStoreMgr> storeMgr = TDWMasterStore::shared().storeMgr();
    const TDWPersistentStorePtr store = storeMgr ? storeMgr->storeForAccountUsername(m_accountUsername, TDWServiceIds::Mail) : nullptr;
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    if (!store || !moc)
        return {};
    const TDWContextReset resetOnExit{moc.get()};
    const TDWMailFolder::Ptr folder = TDWMailFolder::currentAllMailFolderByStore(store, *moc);
    return folder ? folder->encodedFolderPath() : QString();
}

void TDWMultiMessageExportOperation::download(const std::shared_ptr<TDWImapSession> &session, const QString &folder, QList<Row> rows)
{
    const auto run = std::make_shared<Run>();
    // A stall ends the requests in flight and asks for no more.
    const auto watch = std::make_shared<TDWStallWatch>(TDWClock::duration(600s), QStringLiteral("ERROR: Looks like export operation got stuck. Killing off."));
    const TDWStallWatch::Installed watching = watch->install();
    TDWOperationQueue writers;
    TDWActivityMonitor *monitor = TDWActivityMonitor::shared();

    auto lane = [&, run] {
        for (;;) {
            qsizetype index;
            {
                std::lock_guard lock(run->mutex);
                if (watch->isCancelled() || isCancelled() || run->failures >= MaxFailures || !run->stop.isNull() || run->next >= rows.size())
                    break;
                index = run->next++;
            }
            const Row &row = rows.at(index);
            const TDWManagedObjectID docRevId = TDWManagedObjectID::permanent(m_storeIdentifier, QStringLiteral("DocRev"), row.docRevRow);
            // Told before the request goes out, so that its end can never be reported first.
            if (monitor)
                monitor->downloadBeganForDocRevObjectId(docRevId);
            auto writer = std::make_shared<TDWProcessMessageResultOperation>(docRevId);
            // The message goes to its file as it arrives.
            std::unique_ptr<TDWMessageFileWriter> file = writer->prepareFile();
            if (!file) {
                m_completeSuccess = false;
                continue;
            }
            const auto fetch = session->fetchMessageByUIDToWriterOperation(folder, row.uid, std::move(file), true);
            fetch->setProgress([watch](qint64, qint64) { watch->touch(); });
            ++m_numRequested;
            TDWError error;
            watch->request(fetch, &error);
            {
                std::unique_lock lock(run->mutex);
                if (!error.isNull()) {
                    m_completeSuccess = false;
                    if (error.scope() == TDWError::Scope::Item)
                        ++run->failures;
                    else if (run->stop.isNull())
                        run->stop = error;
                }
                run->changed.wait(lock, [&] { return run->pendingWrites < MaxPendingWrites; });
                ++run->pendingWrites;
            }
            writer->setInputError(error);
            writer->setCompletionCallback([run] {
                {
                    std::lock_guard lock(run->mutex);
                    --run->pendingWrites;
                }
                run->changed.notify_all();
            });
            writers.addOperation(writer);
        }
        {
            std::lock_guard lock(run->mutex);
            --run->lanesRunning;
        }
        run->changed.notify_all();
    };

    const int laneCount = int(std::min<qsizetype>(MaxRequestsInFlight, rows.size()));
    run->lanesRunning = laneCount;
    TDWOperationQueue lanes;
    lanes.setMaxConcurrentOperationCount(MaxRequestsInFlight);
    for (int i = 0; i < laneCount; ++i)
        lanes.addOperation(lane);

    {
        std::unique_lock lock(run->mutex);
        run->changed.wait(lock, [&] { return run->lanesRunning == 0; });
    }
    lanes.waitUntilAllOperationsAreFinished();
    writers.waitUntilAllOperationsAreFinished();
    // Told once here; each message that failed is told by its writer.
    if (!run->stop.isNull() && run->stop.scope() != TDWError::Scope::Cancelled)
        tdwLog(QStringLiteral("ERROR: Stopped downloading messages of %1: %2").arg(m_accountUsername, run->stop.localizedDescription()));
}
