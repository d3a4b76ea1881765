#include "mail/TDWAllMailUpdateOperation.h"

#include "common/TDWServiceIds.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWDoc.h"
#include "mail/TDWDocsForMessages.h"
#include "dataobjects/TDWEntityFetch.h"
#include "dataobjects/TDWMailFolder.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "mail/TDWDeletedMessages.h"
#include "mail/TDWImapConnectionMgr.h"
#include "mail/TDWMessageLabelLinks.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/imap/TDWImapSession.h"
#include "status/TDWActivityMonitor.h"

#include <QCoreApplication>
#include <QThread>

#include <thread>

using namespace std::chrono_literals;

namespace {

// Flags, Gmail labels and message id; the thread id besides; and for the
// full fetch the headers, internal date and subject too. The UID always comes.
constexpr int FlagsOnlyRequest = TDWImapMessagesRequestKindFlags | TDWImapMessagesRequestKindGmailLabels | TDWImapMessagesRequestKindGmailMessageID;
constexpr int FlagsAndGmailIdsRequest = FlagsOnlyRequest | TDWImapMessagesRequestKindGmailThreadID;
constexpr int FullRequest = FlagsAndGmailIdsRequest | TDWImapMessagesRequestKindHeaders | TDWImapMessagesRequestKindStructure
    | TDWImapMessagesRequestKindInternalDate | TDWImapMessagesRequestKindHeaderSubject;

int requestKindFor(TDWMessageRevisions::SyncType type)
{
    switch (type) {
    case TDWMessageRevisions::FlagsOnly:
        return FlagsOnlyRequest;
    case TDWMessageRevisions::FlagsAndGmailIds:
        return FlagsAndGmailIdsRequest;
    case TDWMessageRevisions::Full:
        return FullRequest;
    }
    return FullRequest;
}

bool onMainThread()
{
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

} // namespace

TDWAllMailUpdateOperation::TDWAllMailUpdateOperation(const QString &accountUsername, const TDWManagedObjectID &backupIterationObjectID)
    : m_watch(std::make_shared<TDWImapRequestWatch>(QStringLiteral("ERROR: Looks like TDWAllMailUpdateOperation got stuck. Killing off.")))
{
    m_context.accountUsername = accountUsername;
    m_context.backupIterationObjectID = backupIterationObjectID;
}

TDWAllMailUpdateOperation::~TDWAllMailUpdateOperation() = default;

bool TDWAllMailUpdateOperation::isConcurrent() const
{
    return true;
}

void TDWAllMailUpdateOperation::cancel()
{
    TDWOperation::cancel();
    m_watch->cancel();
}

bool TDWAllMailUpdateOperation::success() const
{
    return m_success;
}

TDWImapIndexSet TDWAllMailUpdateOperation::batchNumbers(qint64 first, qint64 messageCount)
{
    const qint64 last = std::min(first + BatchSize - 1, std::min<qint64>(messageCount, UINT32_MAX));
    if (first < 1 || last < first)
        return {};
    return TDWImapIndexSet::fromRange(quint32(first), quint32(last));
}

void TDWAllMailUpdateOperation::main()
{
    m_watch->setOwner(weak_from_this());
    // The requests block the thread they run on, which must not be the main one.
    if (onMainThread())
        std::thread([self = std::static_pointer_cast<TDWAllMailUpdateOperation>(shared_from_this())] { self->runAndFinish(); }).detach();
    else
        runAndFinish();
}

void TDWAllMailUpdateOperation::runAndFinish()
{
    m_success = synchronise();
    finish();
}

bool TDWAllMailUpdateOperation::synchronise()
{
    QString allMailFolderPath;
    auto type = TDWMessageRevisions::FlagsOnly;
    if (!prepare(&allMailFolderPath, &type))
        return false;
    const std::shared_ptr<TDWImapSession> session = TDWImapConnectionMgr::imapSessionForUsername(m_context.accountUsername);
    if (!session) {
        tdwLog(QStringLiteral("ERROR: Unable to get IMAP folder info: no access token for %1").arg(m_context.accountUsername));
        return false;
    }

    const TDWImapRequestWatch::Installed watching = m_watch->install();

    TDWError error;
    const TDWImapFolderInfo info = m_watch->request(session->folderInfoOperation(allMailFolderPath), &error);
    if (isCancelled())
        return false;
    if (!error.isNull() || info.messageCount < 0) {
        tdwLog(QStringLiteral("ERROR: Unable to get IMAP folder info: %1").arg(error.description()));
        return false;
    }
    m_context.allMailUidValidity = info.uidValidity;
    if (!syncBatches(*session, allMailFolderPath, info.messageCount, type))
        return false;
    return handleSuccess();
}

bool TDWAllMailUpdateOperation::prepare(QString *allMailFolderPath, TDWMessageRevisions::SyncType *type)
{
    const auto storeMgr = TDWMasterStore::shared().storeMgr();
    m_context.store = storeMgr ? storeMgr->storeForAccountUsername(m_context.accountUsername, TDWServiceIds::Mail) : nullptr;
    if (!m_context.store) {
        tdwLog(QStringLiteral("ERROR: Unable to find account/service store."));
        return false;
    }
    const auto moc = TDWMasterStore::shared().newMoc();
    TDWError error;
    const qint64 withoutGmailId =
        TDWEntityFetch(*moc, QStringLiteral("Doc")).where(QStringLiteral("deleted = 0 and gmailMessageId = nil")).in(m_context.store).count(&error);
    if (withoutGmailId == TDWManagedObjectContext::NotFound)
        tdwLog(QStringLiteral("ERROR: Unable to determine if there are docs without a gmail message id: %1").arg(error.description()));
    // Items of older versions learn their Gmail ids from the light fetch.
    *type = withoutGmailId != 0 ? TDWMessageRevisions::FlagsAndGmailIds : TDWMessageRevisions::FlagsOnly;

    const auto iteration = std::dynamic_pointer_cast<TDWBackupIteration>(moc->existingObjectWithID(m_context.backupIterationObjectID, nullptr));
    if (!iteration) {
        tdwLog(QStringLiteral("ERROR: Unable to find backup iteration in TDWAllMailUpdateOperation"));
        return false;
    }
    m_context.backupIterationDate = iteration->iterationStartTime();

    const TDWMailFolder::Ptr allMail = TDWMailFolder::currentAllMailFolderByStore(m_context.store, *moc);
    *allMailFolderPath = allMail ? allMail->encodedFolderPath() : QString();
    const auto account = TDWAccount::byUsername(m_context.accountUsername, *moc, nullptr);
    m_context.backupUnlabeled = account && account->backupUnlabeled();
    moc->reset();
    if (allMailFolderPath->isEmpty()) {
        tdwLog(QStringLiteral("ERROR: Unable to find All Mail folder in TDWAllMailUpdateOperation"));
        return false;
    }
    return true;
}

bool TDWAllMailUpdateOperation::syncBatches(TDWImapSession &session, const QString &allMailFolderPath, qint64 messageCount,
                                            TDWMessageRevisions::SyncType type)
{
    // The batch that reaches the last message is always fetched in full.
    const auto typeFrom = [&](qint64 first, TDWMessageRevisions::SyncType current) {
        if (current != TDWMessageRevisions::Full && messageCount < first + BatchSize) {
            m_firstFullSequence = first;
            return TDWMessageRevisions::Full;
        }
        return current;
    };
    int numFailures = 0;
    qint64 first = 1;
    type = typeFrom(first, type);
    if (isCancelled())
        return false;
    std::future<BatchFetch> fetch = startFetch(session, allMailFolderPath, first, messageCount, type);
    for (;;) {
        const BatchFetch batch = fetch.get();
        if (isCancelled())
            return false;
        if (!batch.error.isNull()) {
            tdwLog(QStringLiteral("ERROR: Unable to find message by sequence number in startSyncingStartingWithIndex: %1 -- %2")
                       .arg(batch.error.description(), batch.error.localizedDescription()));
            // A lost connection or a refused sign-in will not mend in two seconds.
            if (numFailures >= MaxRetries || batch.error.endsRun())
                return false;
            ++numFailures;
            tdwLog(QStringLiteral("Will retry after %1 seconds").arg(2.0, 0, 'f', 6));
            if (!m_watch->sleep(TDWClock::duration(2s)) || isCancelled())
                return false;
            fetch = startFetch(session, allMailFolderPath, first, messageCount, type);
            continue;
        }
        numFailures = 0;
        const QList<TDWImapMessage> &messages = batch.messages;

        if (messages.isEmpty() || type == TDWMessageRevisions::Full) {
            if (m_firstFullSequence == -1)
                m_firstFullSequence = first;
        } else {
            const std::optional<bool> matches = batchMatchesStore(messages, first);
            if (!matches)
                return false;
            if (!*matches) {
                // The sequence numbers no longer point at the stored items:
                // from here on everything is fetched in full.
                type = TDWMessageRevisions::Full;
                m_firstFullSequence = first;
                fetch = startFetch(session, allMailFolderPath, first, messageCount, type);
                continue;
            }
        }

        const bool last = first + BatchSize - 1 >= messageCount;
        const qint64 next = first + BatchSize;
        const TDWMessageRevisions::SyncType nextType = last ? type : typeFrom(next, type);
        if (!last)
            fetch = startFetch(session, allMailFolderPath, next, messageCount, nextType);
        if (!TDWMessageRevisions(m_context).processMessageArray(messages, first, type))
            return false;
        if (!TDWMessageLabelLinks(m_context).syncFoldersForMessageArray(messages))
            return false;
        m_messagesListed += messages.size();
        if (last)
            return true;
        if (isCancelled())
            return false;
        first = next;
        type = nextType;
    }
}

std::future<TDWAllMailUpdateOperation::BatchFetch> TDWAllMailUpdateOperation::startFetch(TDWImapSession &session, const QString &allMailFolderPath,
                                                                                        qint64 first, qint64 messageCount,
                                                                                        TDWMessageRevisions::SyncType type)
{
    if (TDWActivityMonitor *monitor = TDWActivityMonitor::shared())
        monitor->updateRetrievingAllMailListForAccountUsername(m_context.accountUsername, 1, messageCount, first);
    const TDWImapIndexSet numbers = batchNumbers(first, messageCount);
    if (numbers.isEmpty()) {
        std::promise<BatchFetch> none;
        none.set_value({});
        return none.get_future();
    }
    auto operation = session.fetchMessagesByNumberOperation(allMailFolderPath, requestKindFor(type), numbers);
    return std::async(std::launch::async, [watch = m_watch, operation] {
        BatchFetch batch;
        batch.messages = watch->request(operation, &batch.error);
        return batch;
    });
}

std::optional<bool> TDWAllMailUpdateOperation::batchMatchesStore(const QList<TDWImapMessage> &messages, qint64 first)
{
    const auto moc = TDWMasterStore::shared().newMoc();
    const qint64 n = messages.size();
    const TDWDoc::Ptr last = TDWDoc::byAllMailMessageSequence(qint32(first + n - 1), m_context.store, *moc, nullptr);
    if (!last || last->allMailUid() != TDWDocsForMessages::allMailKey(m_context.allMailUidValidity, messages.last().uid))
        return false;
    const qint64 group = TDWMessageRevisions::sequenceGroupOf(first);
    TDWEntityFetch docFetch(*moc, QStringLiteral("Doc"));
    const qint64 docs = TDWMessageRevisions::inSequenceGroup(docFetch, QStringLiteral("t.pk"), group)
                            .where(QStringLiteral("allMailSeqGroup = %@ and deleted = 0"), {group})
                            .in(m_context.store)
                            .count(nullptr);
    TDWEntityFetch revisionFetch(*moc, QStringLiteral("DocRev"));
    const qint64 revisions = TDWMessageRevisions::inSequenceGroup(revisionFetch, QStringLiteral("t.\"doc\""), group)
                                 .where(QStringLiteral("doc.allMailSeqGroup = %@ and doc.deleted = 0 and latest = 1"), {group})
                                 .in(m_context.store)
                                 .count(nullptr);
    moc->reset();
    if (docs == TDWManagedObjectContext::NotFound || revisions == TDWManagedObjectContext::NotFound) {
        tdwLog(QStringLiteral("ERROR: Unable to determine number of items for an allMailSeqGroup."));
        return std::nullopt;
    }
    return docs == n && revisions == docs;
}

bool TDWAllMailUpdateOperation::handleSuccess()
{
    TDWDeletedMessages deleted(m_context);
    // An empty listing proves nothing about what the backup holds: nothing is
    // marked deleted from it.
    if (m_messagesListed == 0)
        tdwLog(QStringLiteral("All Mail of %1 listed no message; none is marked deleted").arg(m_context.accountUsername));
    else if (m_firstFullSequence != -1 && !deleted.virtuallyDeleteOldWithSequenceGreaterThan(m_firstFullSequence - 1))
        return false;
    if (isCancelled())
        return false;
    deleted.purgeOldDeletedBackups();
    return true;
}
