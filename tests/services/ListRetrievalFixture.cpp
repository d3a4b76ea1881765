#include "ListRetrievalFixture.h"

#include "TestSupport.h"

#include "accounts/TDWCredential.h"
#include "accounts/TDWKeychainMgr.h"
#include "agent/TDWApiBackupOperation.h"
#include "agent/TDWListRetrievalOperation.h"
#include "app/TDWRegisterClasses.h"
#include "common/TDWFileMgr.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWDataProperty.h"
#include "dataobjects/TDWEntityFetch.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWOperationQueue.h"
#include "platform/foundation/TDWUserDefaults.h"

#include <QDir>
#include <QUrlQuery>

namespace listtest {

tdwtest::FakeGoogleServer *ListRetrievalTest::s_fake = nullptr;

void ListRetrievalTest::startFake(const QJsonObject &scenario)
{
    s_fake = new tdwtest::FakeGoogleServer;
    ASSERT_TRUE(s_fake->start(scenario));
}

void ListRetrievalTest::stopFake()
{
    delete s_fake;
    s_fake = nullptr;
}

void ListRetrievalTest::SetUp()
{
    TDWRegisterClasses();
    s_fake->control(QStringLiteral("reset"), QJsonDocument(QJsonObject{}));
    s_fake->clearRequests();
    TDWActivityMonitor::setShared(&monitor);
    TDWLog::setObserver([this](const QString &line) {
        std::lock_guard lock(m_logMutex);
        log.append(line);
    });
}

void ListRetrievalTest::TearDown()
{
    TDWLog::setObserver({});
    TDWActivityMonitor::setShared(nullptr);
    for (const QString &key : {QStringLiteral("DeleteReferenceDeltaSeconds"), QStringLiteral("altRetrievalMethod")})
        TDWUserDefaults::standard()->removeObjectForKey(key);
}

void ListRetrievalTest::addAccount(const QStringList &services, bool limitGoogleDocs)
{
    ASSERT_TRUE(TDWAccount::addAccountWithUsername(User, {}, 1, services, limitGoogleDocs, *stack.moc));
    auto credential = std::make_shared<TDWCredential>();
    credential->setAccessToken(Token);
    credential->setRefreshToken(QStringLiteral("rt-user"));
    credential->setAccessTokenExpires(TDWClock::now().addSecs(3600));
    credential->setServiceIds(services);
    ASSERT_TRUE(TDWKeychainMgr::keychainMgr()->setCredential(credential, User, true));
}

TDWManagedObjectID ListRetrievalTest::newIteration(const QDateTime &start)
{
    const TDWBackupIteration::Ptr iteration = TDWBackupIteration::newWithMoc(*stack.moc);
    // Whole seconds, as every date the store keeps.
    iteration->setIterationStartTime(start.isValid() ? start : QDateTime::fromSecsSinceEpoch(TDWClock::now().toSecsSinceEpoch(), Qt::UTC));
    TDWError error;
    EXPECT_TRUE(stack.moc->save(&error)) << error.description().toStdString();
    const TDWManagedObjectID id = iteration->objectID();
    stack.moc->reset();
    return id;
}

RunOutcome ListRetrievalTest::run(const QString &service)
{
    return runInIteration(service, newIteration());
}

RunOutcome ListRetrievalTest::runInIteration(const QString &service, const TDWManagedObjectID &iterationId)
{
    RunOutcome outcome;
    std::unique_ptr<TDWListRetrievalOperation> made =
        TDWListRetrievalClasses::shared().create(TDWApiBackupOperation::ListRetrievalClass, User, service, iterationId, nullptr);
    EXPECT_TRUE(made);
    if (!made)
        return outcome;
    const std::shared_ptr<TDWListRetrievalOperation> retrieval(std::move(made));
    TDWOperationQueue queue;
    queue.addOperation(retrieval);
    outcome.finished = tdwtest::waitUntil([&] { return retrieval->isFinished(); }, std::chrono::seconds(60));
    outcome.failure = retrieval->failureCause();
    for (const TDWActivityMonitorBackupStatus &record : monitor.currentStatusValues())
        if (record.accountUsername == User && record.service == service)
            outcome.succeeded = record.status == TDWActivityMonitor::RetrievingList;
    stack.moc->reset();
    return outcome;
}

QMap<QString, bool> ListRetrievalTest::items(const QString &service)
{
    QMap<QString, bool> found;
    TDWError error;
    for (const TDWDoc::Ptr &doc : TDWDoc::allByStore(store(service), *stack.moc, &error).value_or(QList<TDWDoc::Ptr>()))
        found.insert(doc->docId(), doc->deleted());
    stack.moc->reset();
    return found;
}

QString ListRetrievalTest::dataProperty(const QString &service, const QString &name)
{
    const QString value = TDWDataProperty::propertyValueForName(name, store(service), *stack.moc);
    stack.moc->reset();
    return value;
}

void ListRetrievalTest::setDataProperty(const QString &service, const QString &name, const QString &value)
{
    if (value.isNull())
        TDWDataProperty::removePropertyForName(name, store(service), *stack.moc);
    else
        TDWDataProperty::setPropertyValue(value, name, store(service), *stack.moc);
    TDWError error;
    EXPECT_TRUE(stack.moc->save(&error));
    stack.moc->reset();
}

QString ListRetrievalTest::pageFolder(const QString &service)
{
    TDWError error;
    const TDWAccount::Ptr account = TDWAccount::byUsername(User, *stack.moc, &error);
    const QString dirPath = account ? account->dirPath() : QString();
    stack.moc->reset();
    return QDir(TDWFileMgr::itemListXmlPathForService(service)).filePath(dirPath);
}

QStringList ListRetrievalTest::queries(const QString &path)
{
    QStringList found;
    for (const QJsonValue &request : s_fake->requestsTo(path))
        found << request.toObject().value(QStringLiteral("query")).toString();
    return found;
}

bool ListRetrievalTest::logged(const QString &fragment) const
{
    std::lock_guard lock(m_logMutex);
    for (const QString &line : log)
        if (line.contains(fragment))
            return true;
    return false;
}

} // namespace listtest
