#pragma once

#include "platform/foundation/TDWOperation.h"
#include "platform/store/TDWManagedObjectID.h"
#include "platform/store/TDWPersistentStore.h"

#include <QList>
#include <QString>

// Checks, before a service's backup, that the file of every backed-up revision
// (export status 3) of one account and service still lies in the backup
// folder, and marks those whose file is gone as missing (4), so that the
// download step fetches the latest of them again; the shared activity monitor
// is told while it runs. Callers run main() directly on their own worker thread.
class TDWCheckForMissingOperation : public TDWOperation
{
    Q_OBJECT

public:
    // Revisions are examined this many at a time, each batch in a fresh context.
    static constexpr qsizetype BatchSize = 1000;

    // The account-and-service store is looked up here, once.
    TDWCheckForMissingOperation(const QString &username, const QString &service);

    const QString &username() const { return m_username; }
    const QString &service() const { return m_service; }

    // Checks one batch of revision identifiers and saves what it marked.
    void checkDocRevIds(const QList<TDWManagedObjectID> &docRevIds);

    // The whole check, on the calling thread.
    void main() override;

    // Removes the folders in the account's part of the service's backup folder
    // that no item or revision names: a run stopped after making an item's or a
    // revision's folder and before saving its row left them, and the next run
    // would otherwise number its folders past them ("X-1", revision "3") and
    // keep their files for ever. Only for services with a folder per item and
    // revision; to be run before the service's listing makes new folders.
    void removeOrphanFolders();

private:
    QString m_username;
    QString m_service;
    TDWPersistentStorePtr m_accountServiceStore;
};
