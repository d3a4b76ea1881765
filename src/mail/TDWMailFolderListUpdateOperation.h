#pragma once

#include "platform/foundation/TDWOperation.h"
#include "platform/foundation/TDWStallWatch.h"
#include "platform/imap/TDWImapFolder.h"
#include "platform/store/TDWManagedObjectID.h"
#include "platform/store/TDWPersistentStore.h"

#include <QList>
#include <QString>

#include <atomic>
#include <memory>

// Once per backup run, before All Mail is synchronised: reads the account's
// IMAP folder list and brings its mail folder records and the dated history
// of its label backup settings up to date, then posts
// "mailfolderlistchanged" (after every successful update, changed or not).
//
// Its work blocks on an IMAP request, so it never runs on the main thread. A
// watchdog on the main thread cancels the operation when the
// request has waited 300 s for its answer.
class TDWMailFolderListUpdateOperation : public TDWOperation
{
public:
    TDWMailFolderListUpdateOperation(const QString &accountUsername, const TDWManagedObjectID &backupIterationObjectID);
    ~TDWMailFolderListUpdateOperation() override;

    bool mustNotBlockMainThread() const override;
    void cancel() override;

    // True once the update saved; read after the operation finished.
    bool success() const;

protected:
    void main() override;

private:
    bool update();
    // The store work for the folder list the server gave.
    bool handleFolders(const QList<TDWImapFolder> &folders);

    const QString m_accountUsername;
    const TDWManagedObjectID m_backupIterationObjectID;
    TDWPersistentStorePtr m_accountServiceStore;
    std::atomic<bool> m_success = false;
    std::shared_ptr<TDWStallWatch> m_watch;
};
