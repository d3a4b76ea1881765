#include "ApiBackupFixture.h"

#include "FakeGoogleServer.h"
#include "TestSupport.h"

#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWOperationQueue.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/notify/TDWNotificationCenter.h"

#include <QCoreApplication>

namespace apitest {

namespace {

// A safety net against a stand-in that would wait for ever, not a timing check.
constexpr auto Patience = std::chrono::seconds(20);

} // namespace

Script &Script::shared()
{
    static Script script;
    return script;
}

void Script::reset()
{
    std::lock_guard lock(m_mutex);
    duringList = nullptr;
    listFailure = {};
    downloadFailure = nullptr;
    downloadsMayEnd = nullptr;
    downloadMade = nullptr;
    m_made = 0;
    m_listRuns.clear();
    m_downloaded.clear();
    m_running = 0;
    m_mostAtOnce = 0;
}

QList<Script::ListRun> Script::listRuns() const
{
    std::lock_guard lock(m_mutex);
    return m_listRuns;
}

QList<TDWManagedObjectID> Script::downloaded() const
{
    std::lock_guard lock(m_mutex);
    return m_downloaded;
}

int Script::mostAtOnce() const
{
    std::lock_guard lock(m_mutex);
    return m_mostAtOnce;
}

int Script::made() const
{
    return m_made;
}

void Script::madeDownload()
{
    const int made = ++m_made;
    if (downloadMade)
        downloadMade(made);
}

void Script::listStarted(const ListRun &run)
{
    std::lock_guard lock(m_mutex);
    m_listRuns.append(run);
}

void Script::listEnded(bool cancelled)
{
    std::lock_guard lock(m_mutex);
    m_listRuns.last().cancelled = cancelled;
}

int Script::downloadStarted(const TDWManagedObjectID &id, const QString &username)
{
    std::unique_lock lock(m_mutex);
    EXPECT_EQ(username, Alice);
    m_downloaded.append(id);
    const int number = int(m_downloaded.size());
    ++m_running;
    m_mostAtOnce = std::max(m_mostAtOnce, m_running);
    m_changed.notify_all();
    if (downloadsMayEnd) {
        const std::function<bool(int, int)> mayEnd = downloadsMayEnd;
        // The condition may read other objects, so it is polled rather than notified.
        const auto deadline = std::chrono::steady_clock::now() + Patience;
        while (!mayEnd(m_running, int(m_downloaded.size())) && std::chrono::steady_clock::now() < deadline)
            m_changed.wait_for(lock, std::chrono::milliseconds(5));
    }
    return number;
}

void Script::downloadEnded()
{
    std::lock_guard lock(m_mutex);
    --m_running;
    m_changed.notify_all();
}

ScriptedListRetrieval::ScriptedListRetrieval(const QString &username, const QString &service, const TDWManagedObjectID &backupIterationId,
                                             TDWOperationQueue *downloadQueue)
    : TDWListRetrievalOperation(username, backupIterationId, service)
    , m_downloadQueue(downloadQueue)
{
}

void ScriptedListRetrieval::main()
{
    Script &script = Script::shared();
    script.listStarted({accountUsername(), service(), backupIterationObjectID(), m_downloadQueue, false});
    if (script.duringList)
        script.duringList();
    setFailureCause(script.listFailure);
    script.listEnded(isCancelled());
}

RecordingDownload::RecordingDownload(const TDWManagedObjectID &docRevId, const QString &username)
    : m_docRevId(docRevId)
    , m_username(username)
{
    Script::shared().madeDownload();
}

void RecordingDownload::main()
{
    Script &script = Script::shared();
    const int number = script.downloadStarted(m_docRevId, m_username);
    if (script.downloadFailure)
        m_failure = script.downloadFailure(number);
    script.downloadEnded();
}

void ApiBackupTest::SetUp()
{
    Script::shared().reset();
    registerStandIns();
    TDWUserDefaults::standard()->registerDefaults({{QStringLiteral("googleDriveSimultaneous"), 4}});

    stack.addAccount(Alice, {QStringLiteral("docs"), QStringLiteral("contacts"), QStringLiteral("reader")});
    stack.addAccount(Bob, {QStringLiteral("docs")});
    const TDWBackupIteration::Ptr iteration = TDWBackupIteration::newWithMoc(*stack.moc);
    iteration->setIterationStartTime(dotest::at(10));
    TDWError error;
    ASSERT_TRUE(stack.moc->save(&error)) << error.description().toStdString();
    iterationId = iteration->objectID();

    TDWActivityMonitor::setShared(&monitor);
    m_statusToken = TDWNotificationCenter::defaultCenter().addObserver(QStringLiteral("indexretrievalstatuschange"),
                                                                       [this](const TDWNotification &notification) {
                                                                           m_statusChanges.append(notification.userInfo());
                                                                       });
    TDWLog::setObserver([this](const QString &line) {
        static std::mutex mutex;
        std::lock_guard lock(mutex);
        log.append(line);
    });
}

void ApiBackupTest::registerStandIns()
{
    TDWListRetrievalClasses::shared().registerClass<ScriptedListRetrieval>(TDWApiBackupOperation::ListRetrievalClass);
    TDWExportOperationClasses::shared().registerClass<RecordingDownload>(QStringLiteral("TDWStraightDownloadOperation"));
    TDWExportOperationClasses::shared().registerClass<RecordingDownload>(QStringLiteral("TDWContactExportOperation"));
}

void ApiBackupTest::TearDown()
{
    TDWLog::setObserver({});
    TDWNotificationCenter::defaultCenter().removeObserver(m_statusToken);
    TDWActivityMonitor::setShared(nullptr);
    for (const QString &key : {QStringLiteral("googleDriveSimultaneous"), QStringLiteral("DontDoExports"), QStringLiteral("dontbackuppredicate")})
        TDWUserDefaults::standard()->removeObjectForKey(key);
}

TDWManagedObjectID ApiBackupTest::seed(const QString &service, qint64 exportStatus, int modifiedHour, bool latest, bool deleted,
                                       const QString &username)
{
    const TDWPersistentStorePtr store = stack.store(username, service);
    EXPECT_TRUE(store);
    const TDWDoc::Ptr doc = TDWDoc::newWithMoc(*stack.moc, store);
    doc->setAccountUsername(username);
    doc->setService(service);
    doc->setDocId(QStringLiteral("doc-%1").arg(m_nextDocId++));
    doc->setDocType(service == QLatin1String("contacts") ? QStringLiteral("contact") : QStringLiteral("document"));
    doc->setDeleted(deleted);
    doc->setIncludeInStatus(true);
    const TDWDocRev::Ptr rev = TDWDocRev::newWithMoc(*stack.moc, store);
    rev->setDoc(doc);
    rev->setTitle(QStringLiteral("Item %1").arg(m_nextDocId));
    rev->setExportStatus(exportStatus);
    rev->setLatest(latest);
    rev->setLastModifiedDate(dotest::at(modifiedHour));
    rev->setFirstSeenDate(dotest::at(1));
    rev->setLastSeenDate(dotest::at(1));
    TDWError error;
    EXPECT_TRUE(stack.moc->save(&error)) << error.description().toStdString();
    return rev->objectID();
}

qint64 ApiBackupTest::statusOf(const TDWManagedObjectID &id)
{
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    const auto rev = std::dynamic_pointer_cast<TDWDocRev>(moc->existingObjectWithID(id, nullptr));
    return rev ? rev->exportStatus() : -1;
}

void ApiBackupTest::setEnabled(const QString &username, const QString &service, bool enabled)
{
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    TDWError error;
    const TDWAccount::Ptr account = TDWAccount::byUsername(username, *moc, &error);
    ASSERT_TRUE(account);
    account->setEnabled(enabled, service);
    ASSERT_TRUE(moc->save(&error)) << error.description().toStdString();
}

bool ApiBackupTest::runToEnd(const std::shared_ptr<TDWApiBackupOperation> &operation)
{
    TDWOperationQueue queue;
    queue.addOperation(operation);
    const bool finished = tdwtest::waitUntil([&] { return operation->isFinished(); });
    // What the operation posted last reaches its observers too.
    QCoreApplication::processEvents();
    return finished;
}

int ApiBackupTest::statusChangesPosted(const QString &username, const QString &service) const
{
    const QVariantMap wanted{{QStringLiteral("accountUsername"), username}, {QStringLiteral("service"), service}};
    return int(std::count(m_statusChanges.begin(), m_statusChanges.end(), wanted));
}

} // namespace apitest
