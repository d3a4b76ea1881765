#include "MailServerFixture.h"

#include "MailTestSupport.h"
#include "TestSupport.h"

#include "accounts/TDWCredential.h"
#include "accounts/TDWKeychainMgr.h"
#include "dataobjects/TDWBackupIteration.h"
#include "mail/TDWAllMailUpdateOperation.h"
#include "mail/TDWImapConnectionMgr.h"
#include "mail/TDWMailUtils.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWOperationQueue.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/imap/TDWImapSession.h"
#include "platform/keychain/TDWFileKeyring.h"
#include "platform/keychain/TDWKeyring.h"

#include <QJsonArray>

using namespace std::chrono_literals;

void MailServerFixture::SetUp()
{
    MailStoreFixture::SetUp();
    m_account->setAutoAddNewLabels(true);
    save();
    m_token = QStringLiteral("ya29.mail-") + QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name())
        + QLatin1Char('-') + QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name());
    TDWKeyring::setBackend(std::make_shared<TDWFileKeyring>(tdwtest::freshDir(QStringLiteral("keyring"))));
    auto credential = std::make_shared<TDWCredential>();
    credential->setRefreshToken(QStringLiteral("refresh"));
    credential->setAccessToken(m_token);
    ASSERT_TRUE(TDWKeychainMgr::keychainMgr()->setCredential(credential, Alice, true));
    m_start = TDWClock::now();
    TDWClock::setNowProvider([this] { return m_start.addSecs(m_elapsed); });
    TDWLog::setObserver([this](const QString &line) {
        std::lock_guard lock(m_logMutex);
        m_log.append(line);
    });
}

void MailServerFixture::TearDown()
{
    TDWLog::setObserver({});
    TDWClock::setNowProvider({});
    TDWClock::setDurationScale(1.0);
    TDWUserDefaults::standard()->removeObjectForKey(QStringLiteral("Hostname"));
    TDWKeyring::setBackend(nullptr);
    m_server.stop();
    MailStoreFixture::TearDown();
}

bool MailServerFixture::startServer(const QJsonObject &mailbox, const QJsonObject &server)
{
    QJsonObject scenario = server;
    scenario.insert(QStringLiteral("accounts"), QJsonArray{QJsonObject{{"user", Alice}, {"tokens", QJsonArray{m_token}}, {"mailbox", mailbox}}});
    if (!m_server.start(scenario))
        return false;
    qputenv("TDW_EXTRA_CA", m_server.caFile().toUtf8());
    TDWUserDefaults::standard()->setString(QStringLiteral("127.0.0.1:%1").arg(m_server.port()), QStringLiteral("Hostname"));
    return true;
}

std::shared_ptr<TDWImapSession> MailServerFixture::session()
{
    return TDWImapConnectionMgr::imapSessionForUsername(Alice, m_token);
}

TDWManagedObjectID MailServerFixture::beginIteration(int days)
{
    m_elapsed = qint64(days) * 86400;
    auto iteration = TDWBackupIteration::newWithMoc(*m_moc);
    iteration->setIterationStartTime(TDWClock::now());
    TDWError error;
    const QList<TDWImapFolder> folders = session()->fetchAllFoldersOperation()->run(&error);
    EXPECT_TRUE(error.isNull()) << error.description().toStdString();
    EXPECT_TRUE(TDWMailUtils::updateAccount(*m_account, TDWMailUtils::foldersWithFlagsFrom(folders), std::nullopt, TDWClock::now()));
    save();
    return iteration->objectID();
}

bool MailServerFixture::sync(int days)
{
    auto operation = std::make_shared<TDWAllMailUpdateOperation>(Alice, beginIteration(days));
    TDWOperationQueue queue;
    queue.addOperation(operation);
    EXPECT_TRUE(mailtest::waitUntil([&] { return queue.operationCount() == 0; }, 300s));
    return operation->isFinished() && operation->success();
}

QStringList MailServerFixture::loggedLines()
{
    std::lock_guard lock(m_logMutex);
    return m_log;
}
