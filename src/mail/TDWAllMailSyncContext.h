#pragma once

#include "platform/store/TDWManagedObjectID.h"
#include "platform/store/TDWPersistentStore.h"

#include <QDateTime>
#include <QString>

// What every step of one All Mail synchronisation shares: whose mail, which
// store, the backup iteration whose start time dates every record written,
// and what the server and the account said at the start.
struct TDWAllMailSyncContext
{
    QString accountUsername;
    TDWManagedObjectID backupIterationObjectID;
    QDateTime backupIterationDate;
    TDWPersistentStorePtr store;
    quint32 allMailUidValidity = 0;
    bool backupUnlabeled = false;
};
