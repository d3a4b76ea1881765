#pragma once

#include "mail/TDWAllMailSyncContext.h"
#include "mail/TDWMessageRevisions.h"
#include "platform/foundation/TDWFetchAhead.h"
#include "platform/foundation/TDWOperation.h"
#include "platform/foundation/TDWStallWatch.h"
#include "platform/imap/TDWImapIndexSet.h"
#include "platform/imap/TDWImapMessage.h"
#include "platform/store/TDWManagedObjectID.h"

#include <QList>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>

class TDWImapSession;

// Mirrors one account's Gmail All Mail into its mail store in one backup run:
// walks the folder by sequence number in batches of 1000, fetching only the
// flags and Gmail ids while the stored items still match the batch and
// everything (headers too) from the first batch that does not, and from the
// batch that reaches the end; records items, revisions and label links per
// batch; then marks deleted what the full part of the pass did not see again
// and purges what expired.
//
// Its work blocks on IMAP requests, so it never runs on the main thread. A
// watchdog on the main thread cancels the operation when one IMAP
// request has waited 300 s for its answer; time between requests is not a stall.
// The next batch is fetched while the current one is stored: one request in
// flight at a time, batches stored in order.
class TDWAllMailUpdateOperation : public TDWOperation
{
public:
    static constexpr qint64 BatchSize = 1000;
    // Failed fetches of one batch retried in a row before the run fails.
    static constexpr int MaxRetries = 4;

    TDWAllMailUpdateOperation(const QString &accountUsername, const TDWManagedObjectID &backupIterationObjectID);
    ~TDWAllMailUpdateOperation() override;

    bool mustNotBlockMainThread() const override;
    void cancel() override;

    // True once the run ended well; read after the operation finished.
    bool success() const;

    // The sequence numbers of the batch that starts at `first`: up to
    // BatchSize of them, never past the folder's message count (servers may
    // refuse numbers past it); empty when the folder has none from `first` on.
    static TDWImapIndexSet batchNumbers(qint64 first, qint64 messageCount);

protected:
    void main() override;

private:
    bool synchronise();
    bool prepare(QString *allMailFolderPath, TDWMessageRevisions::SyncType *type);
    bool syncBatches(TDWImapSession &session, const QString &allMailFolderPath, qint64 messageCount, TDWMessageRevisions::SyncType type);
    // Starts the fetch of the batch from `first` into m_nextBatch, so the
    // store work of the batch before it can run meanwhile.
    void startFetch(TDWImapSession &session, const QString &allMailFolderPath, qint64 first, qint64 messageCount,
                    TDWMessageRevisions::SyncType type);
    // Whether the stored items of the batch's sequence group still stand for
    // these messages; null when the store cannot tell (logged).
    std::optional<bool> batchMatchesStore(const QList<TDWImapMessage> &messages, qint64 first);
    // Marks deleted what the pass did not list again (unless it listed
    // nothing at all), then purges what expired.
    bool handleSuccess();

    TDWAllMailSyncContext m_context;
    qint64 m_firstFullSequence = -1;
    qint64 m_messagesListed = 0;
    std::atomic<bool> m_success = false;
    std::shared_ptr<TDWStallWatch> m_watch;
    TDWFetchAhead<QList<TDWImapMessage>> m_nextBatch;
};
