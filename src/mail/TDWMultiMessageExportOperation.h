#pragma once

#include "platform/foundation/TDWOperation.h"
#include "platform/store/TDWManagedObjectID.h"

#include <QList>
#include <QString>

#include <atomic>
#include <memory>

class TDWImapSession;

// Downloads the messages of a list of message revisions from the account's
// All Mail by UID, newest message (highest All Mail sequence number) first,
// at most four requests in flight. Each message streams into its message
// file as it arrives (no message is held in memory, and one far larger than
// the server listed it is refused: that message fails, the old file stays);
// what came of it goes to a TDWProcessMessageResultOperation on a queue of
// its own, so the store never holds up the network. Results waiting for their
// turn are bounded, so memory does not grow with the list.
//
// main() blocks its thread until every request made is answered and every
// writer is done. A message that cannot be downloaded is skipped; after ten
// such messages it stops asking. A failure that reaches further (the
// connection, the sign-in, All Mail itself) stops it at once, and so does a
// cancellation (requests in flight are still answered and written). When no
// answer and no progress came for 600 s it cancels the requests in flight.
class TDWMultiMessageExportOperation : public TDWOperation
{
    Q_OBJECT

public:
    static constexpr int MaxRequestsInFlight = 4;
    static constexpr int MaxFailures = 10;
    // Results handed to writers and not yet recorded.
    static constexpr int MaxPendingWrites = 8;

    TDWMultiMessageExportOperation(const QString &accountUsername, QList<TDWManagedObjectID> docRevIds);
    ~TDWMultiMessageExportOperation() override;

    // False when some message could not be downloaded, a failure beyond its
    // messages stopped the run, or the download could not start at all (the
    // revisions unreadable, no IMAP session, no All Mail folder); read after
    // the operation finished.
    bool completeSuccess() const;
    // Requests made so far.
    int numRequested() const;

protected:
    void main() override;

private:
    struct Row;
    struct Run;

    std::optional<QList<Row>> readRows();
    QString allMailFolderPath();
    void download(const std::shared_ptr<TDWImapSession> &session, const QString &folder, QList<Row> rows);

    const QString m_accountUsername;
    // Let go of once read into rows.
    QList<TDWManagedObjectID> m_docRevIds;
    QString m_storeIdentifier;
    std::atomic<bool> m_completeSuccess = true;
    std::atomic<int> m_numRequested = 0;
};
