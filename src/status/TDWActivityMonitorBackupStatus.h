#pragma once

#include <QString>
#include <QtGlobal>

// The progress of one account and service (or of the work that belongs to no
// account) as the activity monitor keeps it. A plain value: the monitor hands
// out copies, so a reader on another thread never sees one half-changed.
struct TDWActivityMonitorBackupStatus
{
    QString accountUsername; // empty in the global record
    QString service;         // empty in the global record
    QString errorMessage;
    qint64 status = 0;
    qint64 numItemsRetrieved = 0;
    double pctComplete = 0.0;
    double subPctComplete = 0.0;
    bool initial = false;
    qint64 mailFolderIndex = 0;
    qint64 mailFolderCount = 0;
    qint64 numQueuedItems = 0;
    qint64 numQueuedItemsProcessed = 0;
    bool moreBatches = false;

    // Orders records by user name, then by service (plain string order):
    // negative, 0 or positive.
    int compareKey(const TDWActivityMonitorBackupStatus &other) const
    {
        const int byUsername = QString::compare(accountUsername, other.accountUsername);
        return byUsername != 0 ? byUsername : QString::compare(service, other.service);
    }
};
