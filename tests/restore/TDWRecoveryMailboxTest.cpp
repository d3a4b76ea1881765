// Restores in mailbox mode: the mailbox folders, their information files and
// the message files at their digit paths, read back by Python.
#include "MessageFileChecker.h"
#include "PinnedZoneAndLocale.h"
#include "RestoreFixture.h"

#include "TestSupport.h"

#include "mail/TDWMailUtils.h"
#include "mail/TDWMessageFile.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QUuid>

namespace {

using State = TDWRecoveryProgress::State;

QByteArray serverMessage(int number)
{
    return QStringLiteral("From: Ann <ann@example.org>\r\nTo: demo@example.com\r\nSubject: Message %1\r\n"
                          "Date: Mon, 2 Oct 2023 10:%2:00 +0000\r\n\r\nBody of message %1.\r\n")
        .arg(number)
        .arg(number % 60, 2, 10, QLatin1Char('0'))
        .toUtf8();
}

// The message file the backup writes for the server's bytes.
QByteArray messageFile(QByteArray message)
{
    TDWMessageFile::convertLineEnds(message);
    TDWError error;
    const QByteArray plist = TDWMessageFile::propertyList(message, 0, &error);
    EXPECT_TRUE(error.isNull()) << error.description().toStdString();
    return TDWMessageFile::countLine(message.size()) + message + plist;
}

// Python's plistlib on an Info.plist: its "MailboxName", or what went wrong.
QString mailboxNameByPython(const QString &infoPlist)
{
    QProcess python;
    python.start(QStringLiteral("python3"), {QStringLiteral("-c"), QStringLiteral("import plistlib,sys; print(plistlib.load(open(sys.argv[1],'rb'), "
                                                                                  "fmt=plistlib.FMT_XML)['MailboxName'], end='')"),
                                             infoPlist});
    if (!python.waitForFinished(30000))
        return QStringLiteral("python3 did not finish");
    return QString::fromUtf8(python.exitCode() == 0 ? python.readAllStandardOutput() : python.readAllStandardError());
}

using MailboxRestore = RestoreFixture;

TEST_F(MailboxRestore, LaysOutMailboxesAndNumbersMessagesAcrossTheRequest)
{
    const PinnedZoneAndLocale pinned("UTC", "en_US");
    const QString rootUUID = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    ASSERT_TRUE(TDWMailUtils::createMailboxDirectoryAtPath(m_dest, rootUUID));
    const QString label = QStringLiteral("Work Projects");
    const QString mailbox = TDWMailUtils::mailboxFolderName(label);
    QList<TDWQueuedRecovery> items = {queued(addGrouping(Mail, QStringLiteral("imapfolder"), label))};
    // 1,000 messages of the label and one outside it; one more message whose
    // revision was never backed up.
    constexpr int Messages = 1001;
    for (int n = 1; n <= Messages; ++n) {
        const TDWManagedObjectID message =
            addItem(Mail, QStringLiteral("message"), QStringLiteral("Message %1").arg(n), QStringLiteral("emlx"), {{messageFile(serverMessage(n))}}).last();
        items << queued(message, n == Messages ? QString() : mailbox);
    }
    items << queued(addItem(Mail, QStringLiteral("message"), QStringLiteral("lost"), QStringLiteral("emlx"), {{"", TDWDocRev::DownloadFailed, false}})
                        .last(),
                    mailbox);

    const Outcome outcome = run(items, m_dest, true, {}, true, rootUUID);
    EXPECT_EQ(outcome.state, State::FinishedNotBackedUp);
    EXPECT_EQ(outcome.text, QStringLiteral("Restored 1,001 of 1,002 messages.  The other was not backed up."));
    EXPECT_EQ(outcome.numSteps, Messages + 1);
    EXPECT_EQ(outcome.numDirsRecovered, 1);
    // Finished only after the last step: no report before it said so.
    EXPECT_EQ(outcome.states.indexOf(State::FinishedNotBackedUp), outcome.states.size() - 1);

    EXPECT_EQ(mailboxNameByPython(m_dest + QStringLiteral("/Info.plist")), QFileInfo(m_dest).completeBaseName());
    EXPECT_EQ(mailboxNameByPython(m_dest + QLatin1Char('/') + mailbox + QStringLiteral("/Info.plist")), label);
    const QStringList uuids = QDir(m_dest + QLatin1Char('/') + mailbox).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(uuids.size(), 1);
    const QString uuid = uuids.first();
    EXPECT_FALSE(QUuid::fromString(uuid).isNull());
    EXPECT_EQ(uuid, uuid.toUpper());

    const QString inMailbox = m_dest + QLatin1Char('/') + mailbox + QLatin1Char('/') + uuid + QStringLiteral("/Data/");
    EXPECT_TRUE(QFileInfo::exists(inMailbox + QStringLiteral("0/Messages/999.emlx")));
    EXPECT_TRUE(QFileInfo::exists(inMailbox + QStringLiteral("1/Messages/1000.emlx")));
    EXPECT_FALSE(QFileInfo::exists(inMailbox + QStringLiteral("0/Messages/1000.emlx")));
    // The message outside the label goes to the root mailbox, numbered on.
    const QString outside = m_dest + QLatin1Char('/') + rootUUID + QStringLiteral("/Data/1/Messages/1001.emlx");
    EXPECT_EQ(contentsOf(outside), messageFile(serverMessage(Messages)));
    for (const int n : {1, 999, 1000}) {
        const QString path = inMailbox + TDWMailUtils::mailboxMessagePath(QString(), n);
        EXPECT_EQ(contentsOf(path), messageFile(serverMessage(n))) << n;
        EXPECT_EQ(mailtest::messageFileVerdict(path, serverMessage(n), 0), QString()) << n;
    }
}

TEST_F(MailboxRestore, ALabelNamedWithOtherCharactersHoldsItsMessages)
{
    // The browser names the prefix with the same function the restore uses.
    const QString label = QStringLiteral("Clients/Acme: 2024 ✓");
    const QString mailbox = TDWMailUtils::mailboxFolderName(label);
    const QList<TDWQueuedRecovery> items = {
        queued(addGrouping(Mail, QStringLiteral("imapfolder"), label)),
        queued(addItem(Mail, QStringLiteral("message"), QStringLiteral("m"), QStringLiteral("emlx"), {{messageFile(serverMessage(1))}}).last(), mailbox)};
    const Outcome outcome = run(items, m_dest, true, {}, true, QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    EXPECT_EQ(outcome.state, State::Finished) << outcome.text.toStdString();
    const QStringList entries = entriesUnder(m_dest + QLatin1Char('/') + mailbox);
    EXPECT_EQ(entries.filter(QStringLiteral("/Data/0/Messages/1.emlx")).size(), 1) << entries.join(QLatin1Char('\n')).toStdString();
}

} // namespace
