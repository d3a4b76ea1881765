#pragma once

#include "FakeGmailImap.h"
#include "MailStoreFixture.h"

#include "platform/store/TDWManagedObjectID.h"

#include <QJsonObject>
#include <QStringList>

#include <atomic>
#include <memory>
#include <mutex>

class TDWImapSession;

// The mail stores of MailStoreFixture with the fake Gmail server for the
// account: its credential in a keyring of the test's own (a token per test,
// since sessions are cached per account and token), the server as the
// program's IMAP host, an injectable clock and the log lines written.
class MailServerFixture : public MailStoreFixture
{
protected:
    void SetUp() override;
    void TearDown() override;

    // `mailbox`: the account's mailbox keys; `server`: server keys (tools/fake-imap/README.md).
    bool startServer(const QJsonObject &mailbox, const QJsonObject &server = {});
    std::shared_ptr<TDWImapSession> session();

    // A backup iteration `days` after the test's start, with the folder
    // records brought up to date from the server's folder list first, as the
    // run does before it synchronises All Mail.
    TDWManagedObjectID beginIteration(int days);
    // One All Mail synchronisation in that iteration; whether it succeeded.
    bool sync(int days);

    QStringList loggedLines();

    FakeGmailImap m_server;
    QString m_token;
    QDateTime m_start;
    std::atomic<qint64> m_elapsed = 0;
    std::mutex m_logMutex;
    QStringList m_log;
};
