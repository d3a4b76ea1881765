#pragma once

#include "platform/store/TDWManagedObjectID.h"
#include "status/TDWActivityMonitorBackupStatus.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <mutex>
#include <optional>

// The one place where every stage of a backup reports its progress: one record
// per busy account and service and one under "global", and the revisions whose
// files are being downloaded. Every report changes the records under one lock
// and posts a notification (object: the monitor) that is queued for the main
// thread, so no observer runs under the lock; reports may come from any thread.
// Made once the store is open; the application holds it for the whole run and
// makes it the shared one, which the backup engine reports to.
class TDWActivityMonitor : public QObject
{
public:
    // Record statuses. The displays give every one a text; no report sets
    // RetrievingListAgain, LoggingIn, LoginFailed or CreatingSnapshot.
    enum Status : qint64 {
        NoStageReported = 0,
        RetrievingList = 1,
        RetrievingListAgain = 2,
        ListRetrievalFailed = 3,
        LoggingIn = 4,
        LoginFailed = 5,
        QueueingDownloads = 6,
        Downloading = 7,
        CheckingRules = 9,
        CreatingSnapshot = 10,
        UpdatingStatusCache = 11,
        ValidatingBackups = 12,
    };

    TDWActivityMonitor();
    ~TDWActivityMonitor() override;

    // The application's monitor; null before start-up has made it and after quit.
    static TDWActivityMonitor *shared();
    static void setShared(TDWActivityMonitor *monitor);

    // Backup cycle.
    void beganBackupCycle();
    void endedBackupCycle();

    // Global record.
    void startedCheckingRules();
    void startedStatusCache();
    void doneGlobal();
    void done();

    // Per account and service.
    void startedRetrievingMailListForAccountUsername(const QString &username, bool initial);
    // The All Mail pass has reached `currentIndex` of the sequence numbers
    // from `startIndex` to `messageCount`.
    void updateRetrievingAllMailListForAccountUsername(const QString &username, qint64 startIndex, qint64 messageCount,
                                                       qint64 currentIndex);
    void startedRetrievingApiListForAccountUsername(const QString &username, const QString &service, bool initial);
    void updateApiListForAccountUsername(const QString &username, const QString &service, qint64 numItemsRetrieved);
    // reason 0: the list was retrieved; any other: it was not.
    void doneRetrievingListForAccountUsername(const QString &username, const QString &service, qint32 reason);
    void startedValidatingBackupsForAccountUsername(const QString &username, const QString &service);
    void queueingIndividualItemBackupsForAccountUsername(const QString &username, const QString &service);
    void queuedIndividualItemBackupsForAccountUsername(const QString &username, const QString &service, qint64 numItems,
                                                       bool moreBatches);
    void doneBackingUpAccountUsername(const QString &username, const QString &service);

    // Downloads of revisions (store object identifiers of TDWDocRev); the
    // revision is looked up in a context of the calling thread.
    void downloadBeganForDocRevObjectId(const TDWManagedObjectID &docRevId);
    // All of them join the downloads at once; "retrievalstarted" follows for
    // each in order, up to the first that no longer exists (logged).
    void downloadBeganForDocRevObjectIds(const QList<TDWManagedObjectID> &docRevIds);
    // reason: 0 retrieved, 1 failed, 2 cancelled (accepted, not used).
    void downloadStoppedForDocRevObjectId(const TDWManagedObjectID &docRevId, qint32 reason, bool willRetry);

    // Queries: copies of the records as they are now.
    std::optional<TDWActivityMonitorBackupStatus> indexRetrievalStatusForUsername(const QString &username,
                                                                                   const QString &service) const;
    std::optional<TDWActivityMonitorBackupStatus> globalOperationStatus() const;
    // Every record in the order in which its key was first stored.
    QList<TDWActivityMonitorBackupStatus> currentStatusValues() const;
    bool docRevExportRetrievalInProgress(const TDWManagedObjectID &docRevId) const;

    // The fraction numerator / denominator as progress shows it: 0 when
    // nothing is done (even of nothing), 1 when done of nothing; not clamped.
    static double getPctWithNumerator(qint64 numerator, qint64 denominator);

private:
    static QString keyFor(const QString &username, const QString &service);
    TDWActivityMonitorBackupStatus &recordCreatingIfNecessary(const QString &username, const QString &service);
    TDWActivityMonitorBackupStatus &globalRecordCreatingIfNecessary();
    void setGlobalStatus(qint64 status);
    void removeKey(const QString &key);
    void notifyWithAccountUsername(const QString &username, const QString &service);
    void notifyGlobal();

    mutable std::recursive_mutex m_mutex; // guards the three fields below
    QStringList m_orderedAccountServiceKeys;
    QHash<QString, TDWActivityMonitorBackupStatus> m_indexRetrievalStatusValues;
    QSet<TDWManagedObjectID> m_currentDownloads;
};
