#pragma once

#include "DataObjectsTestSupport.h"

#include "agent/TDWApiBackupOperation.h"
#include "agent/TDWItemDownload.h"
#include "agent/TDWListRetrievalOperation.h"
#include "platform/store/TDWManagedObjectID.h"
#include "status/TDWActivityMonitor.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

#include <gtest/gtest.h>

namespace apitest {

inline const QString Alice = QStringLiteral("alice@example.com");
inline const QString Bob = QStringLiteral("bob@example.com");

// What the stand-ins registered by the tests did, shared with the test.
// The list and download classes are made by the registry, so they find it here.
class Script
{
public:
    static Script &shared();
    void reset();

    // The list retrieval: when it ran, with what, and whether it was
    // cancelled when it ended; it runs `duringList` first.
    struct ListRun
    {
        QString username;
        QString service;
        TDWManagedObjectID backupIterationId;
        TDWOperationQueue *downloadQueue = nullptr;
        bool cancelled = false;
    };
    std::function<void()> duringList;
    QList<ListRun> listRuns() const;
    // Why the list retrieval failed, as its protocol layer would say; null: it did not.
    TDWError listFailure;
    // Why the download that started as number `started` (from 1) failed; null: it did not.
    std::function<TDWError(int started)> downloadFailure;

    // The downloads: the revisions in the order they started, and the most
    // that ran at once. Each waits until `downloadsMayEnd` holds for the
    // number running and the number started so far.
    std::function<bool(int running, int started)> downloadsMayEnd;
    QList<TDWManagedObjectID> downloaded() const;
    int mostAtOnce() const;
    // The downloads made, counted as they are made; `downloadMade` runs with the count.
    std::function<void(int made)> downloadMade;
    int made() const;

    // Called by the stand-ins.
    void listStarted(const ListRun &run);
    void listEnded(bool cancelled);
    void madeDownload();
    // The number the download started as.
    int downloadStarted(const TDWManagedObjectID &id, const QString &username);
    void downloadEnded();

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    QList<ListRun> m_listRuns;
    QList<TDWManagedObjectID> m_downloaded;
    int m_running = 0;
    int m_mostAtOnce = 0;
    std::atomic<int> m_made = 0; // read by conditions that run under m_mutex
};

// Stands in for the item list retrieval, which is registered by that name.
class ScriptedListRetrieval : public TDWListRetrievalOperation
{
    Q_OBJECT

public:
    ScriptedListRetrieval(const QString &username, const QString &service, const TDWManagedObjectID &backupIterationId,
                          TDWOperationQueue *downloadQueue);

protected:
    void main() override;

private:
    TDWOperationQueue *m_downloadQueue;
};


// Stands in for a service's download class.
class RecordingDownload : public TDWOperation, public TDWItemDownload
{
    Q_OBJECT

public:
    RecordingDownload(const TDWManagedObjectID &docRevId, const QString &username);
    TDWError failureCause() const override { return m_failure; }

protected:
    void main() override;

private:
    TDWManagedObjectID m_docRevId;
    QString m_username;
    TDWError m_failure; // set in main(), read once the download has finished
};

// A data folder with Alice (Drive, contacts, Reader) and Bob (Drive), one
// backup iteration, the shared activity monitor, and the stand-ins registered.
class ApiBackupTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;
    // Registers the list retrieval and the Drive and contacts downloads.
    virtual void registerStandIns();

    // Seeds one item with its latest revision and saves; the revision's identifier.
    TDWManagedObjectID seed(const QString &service, qint64 exportStatus, int modifiedHour, bool latest = true, bool deleted = false,
                            const QString &username = Alice);
    qint64 statusOf(const TDWManagedObjectID &id);
    void setEnabled(const QString &username, const QString &service, bool enabled);

    // Runs the operation on a queue of its own, as the backup run does, while
    // this thread goes on delivering what is posted to it; whether it finished.
    bool runToEnd(const std::shared_ptr<TDWApiBackupOperation> &operation);
    // The account service's status changes the monitor posted for the user and service.
    int statusChangesPosted(const QString &username, const QString &service) const;

    dotest::MetadataStack stack;
    TDWActivityMonitor monitor;
    TDWManagedObjectID iterationId;
    QStringList log;

private:
    QList<QVariantMap> m_statusChanges;
    quint64 m_statusToken = 0;
    int m_nextDocId = 1;
};

} // namespace apitest
