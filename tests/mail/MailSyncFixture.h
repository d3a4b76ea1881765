#pragma once

// A test's own fake Gmail server, an account signed in to it, and the ways the
// mail tests run passes and read the mail store back.
#include "FakeGmailImap.h"
#include "MailStoreFixture.h"
#include "MailTestSupport.h"
#include "TestSupport.h"

#include "accounts/TDWCredential.h"
#include "accounts/TDWKeychainMgr.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWEntityFetch.h"
#include "dataobjects/TDWMailItem.h"
#include "dataobjects/TDWMasterStore.h"
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

#include <QCoreApplication>
#include <QJsonArray>
#include <QProcess>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

inline const QString DeleteReferenceDeltaSeconds = QStringLiteral("DeleteReferenceDeltaSeconds");

class MailSyncFixture : public MailStoreFixture
{
protected:
    void SetUp() override
    {
        MailStoreFixture::SetUp();
        m_account->setAutoAddNewLabels(true);
        save();
        // Sessions are cached per account and token for the whole program: a token per test.
        m_token = QStringLiteral("ya29.sync-") + QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name());
        TDWKeyring::setBackend(std::make_shared<TDWFileKeyring>(tdwtest::freshDir(QStringLiteral("keyring"))));
        auto credential = std::make_shared<TDWCredential>();
        credential->setRefreshToken(QStringLiteral("refresh"));
        credential->setAccessToken(m_token);
        ASSERT_TRUE(TDWKeychainMgr::keychainMgr()->setCredential(credential, Alice, true));
        TDWUserDefaults::standard()->removeObjectForKey(DeleteReferenceDeltaSeconds);
        m_start = TDWClock::now();
        TDWClock::setNowProvider([this] { return m_start.addSecs(m_elapsed); });
        TDWLog::setObserver([this](const QString &line) {
            std::lock_guard lock(m_logMutex);
            m_log.append(line);
        });
    }

    void TearDown() override
    {
        TDWLog::setObserver({});
        TDWClock::setNowProvider({});
        TDWClock::setDurationScale(1.0);
        TDWUserDefaults::standard()->removeObjectForKey(DeleteReferenceDeltaSeconds);
        TDWUserDefaults::standard()->removeObjectForKey(QStringLiteral("Hostname"));
        TDWKeyring::setBackend(nullptr);
        m_server.stop();
        MailStoreFixture::TearDown();
    }

    bool startServer(const QJsonObject &mailbox, const QJsonObject &server = {})
    {
        QJsonObject scenario = server;
        scenario.insert(QStringLiteral("accounts"), QJsonArray{QJsonObject{{"user", Alice}, {"tokens", QJsonArray{m_token}}, {"mailbox", mailbox}}});
        if (!m_server.start(scenario))
            return false;
        qputenv("TDW_EXTRA_CA", m_server.caFile().toUtf8());
        TDWUserDefaults::standard()->setString(QStringLiteral("127.0.0.1:%1").arg(m_server.port()), QStringLiteral("Hostname"));
        return true;
    }

    std::shared_ptr<TDWImapSession> session() { return TDWImapConnectionMgr::imapSessionForUsername(Alice, m_token); }

    // A backup iteration `days` after the test's start.
    TDWManagedObjectID newIteration(int days)
    {
        m_elapsed = qint64(days) * 86400;
        auto iteration = TDWBackupIteration::newWithMoc(*m_moc);
        iteration->setIterationStartTime(TDWClock::now());
        save();
        return iteration->objectID();
    }

    // A backup iteration `days` after the test's start, with the folder
    // records brought up to date from the server's folder list first, as the
    // run does before it synchronises All Mail.
    TDWManagedObjectID beginIteration(int days)
    {
        const TDWManagedObjectID iteration = newIteration(days);
        TDWError error;
        const QList<TDWImapFolder> folders = session()->fetchAllFoldersOperation()->run(&error);
        EXPECT_TRUE(error.isNull()) << error.description().toStdString();
        EXPECT_TRUE(TDWMailUtils::updateAccount(*m_account, TDWMailUtils::foldersWithFlagsFrom(folders), std::nullopt, TDWClock::now()));
        save();
        return iteration;
    }

    std::shared_ptr<TDWAllMailUpdateOperation> runSync(const TDWManagedObjectID &iteration)
    {
        auto operation = std::make_shared<TDWAllMailUpdateOperation>(Alice, iteration);
        TDWOperationQueue queue;
        queue.addOperation(operation);
        EXPECT_TRUE(tdwtest::waitUntil([&] { return queue.operationCount() == 0; }, std::chrono::seconds(300)));
        EXPECT_TRUE(operation->isFinished());
        return operation;
    }

    // Runs the operation on a queue of its own until it is done, then hands
    // the main thread's queued events out (they must not finish it again);
    // answers how often its completion was called.
    static int runCountingCompletions(const std::shared_ptr<TDWOperation> &operation)
    {
        std::atomic<int> completions = 0;
        operation->setCompletionCallback([&] { ++completions; });
        TDWOperationQueue queue;
        queue.addOperation(operation);
        EXPECT_TRUE(tdwtest::waitUntil([&] { return queue.operationCount() == 0; }, std::chrono::seconds(300)));
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        return completions;
    }

    bool sync(int days) { return runSync(beginIteration(days))->success(); }

    // The mail store as the sqlite3 shell reads it: one number.
    QString sqlite3(const QString &query)
    {
        QProcess shell;
        shell.start(QStringLiteral("sqlite3"), {m_mailStore->path(), query});
        EXPECT_TRUE(shell.waitForFinished(30000));
        EXPECT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();
        return QString::fromUtf8(shell.readAllStandardOutput()).trimmed();
    }

    qint64 count(const QString &entity, const QString &predicate, const QVariantList &arguments = {})
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        return TDWEntityFetch(*moc, entity).where(predicate, arguments).in(m_mailStore).count(nullptr);
    }

    // The message item of the message with that All Mail UID (in a context of its own).
    TDWDoc::Ptr docWithUid(TDWManagedObjectContext &moc, qint64 uid)
    {
        const auto docs = TDWEntityFetch(moc, QStringLiteral("Doc"))
                              .where(QStringLiteral("allMailUid ENDSWITH %@"), {QStringLiteral("-%1").arg(uid)})
                              .in(m_mailStore)
                              .objects<TDWDoc>(nullptr);
        return docs && docs->size() == 1 ? docs->first() : nullptr;
    }

    QList<TDWDocRev::Ptr> revisionsOf(const TDWDoc::Ptr &doc)
    {
        auto revisions = doc->docRevs();
        std::sort(revisions.begin(), revisions.end(), [](const auto &a, const auto &b) { return a->firstSeenDate() < b->firstSeenDate(); });
        return revisions;
    }

    QSet<QString> currentLabelsOf(const TDWDoc::Ptr &doc)
    {
        QSet<QString> tags;
        for (const TDWMailItem::Ptr &item : doc->mailItems())
            if (item->current())
                tags.insert(item->mailFolder()->messageTag());
        return tags;
    }

    QJsonArray serverMessages() { return m_server.control({{"op", "messages"}}).toObject().value(QStringLiteral("messages")).toArray(); }

    QStringList loggedLines()
    {
        std::lock_guard lock(m_logMutex);
        return m_log;
    }

    FakeGmailImap m_server;
    QString m_token;
    QDateTime m_start;
    std::atomic<qint64> m_elapsed = 0;
    std::mutex m_logMutex;
    QStringList m_log;
};
