// The message file format and its writer: what the file holds, checked by an
// independent reader (Python's email and plistlib), and how an old file is
// replaced.
#include "mail/TDWMessageFile.h"
#include "mail/TDWMessageFileWriter.h"
#include "mail/TDWProcessMessageResultOperation.h"

#include "MailStoreFixture.h"
#include "MailTestSupport.h"
#include "MessageFileChecker.h"
#include "TestSupport.h"

#include "common/TDWFileMgr.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWFileLock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/imap/TDWImapBodySink.h"
#include "platform/imap/TDWImapError.h"
#include "platform/imap/TDWImapFlags.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writable(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && (info.st_mode & S_IWUSR);
}

// Writes a message file as a download does: the server's bytes in chunks of `chunk` bytes.
bool writeMessageFile(const QString &path, const QByteArray &server, qint64 flagWord, qsizetype chunk = 7, TDWError *error = nullptr)
{
    TDWMessageFileWriter writer(path, flagWord);
    if (!writer.open(error))
        return false;
    for (qsizetype at = 0; at < server.size(); at += chunk)
        if (!writer.append(server.constData() + at, std::min(chunk, server.size() - at), error))
            return false;
    return writer.commit(error);
}

const QByteArray EightBitMessage = QByteArray("Date: Tue, 03 Mar 2020 10:00:00 +0100\r\n"
                                              "From: Bob <bob@example.org>\r\n"
                                              "Subject: =?UTF-8?B?R3LDvMOfZQ==?= aus Zurich\r\n"
                                              "Content-Type: text/plain; charset=macintosh\r\n"
                                              "\r\n"
                                              "Caf\x8e au lait\r\n"
                                              "a bare \r in a line\r\n");

TEST(TDWMessageFileTest, CountLineIsTheDecimalLengthPaddedToTenCharacters)
{
    EXPECT_EQ(TDWMessageFile::countLine(0), QByteArray("0         \n"));
    EXPECT_EQ(TDWMessageFile::countLine(1234), QByteArray("1234      \n"));
    EXPECT_EQ(TDWMessageFile::countLine(1234567890), QByteArray("1234567890\n"));
    EXPECT_EQ(TDWMessageFile::countLine(12345678901), QByteArray("12345678901\n"));
}

TEST(TDWMessageFileTest, OnlyCarriageReturnsBeforeALineFeedGo)
{
    struct Case
    {
        QByteArray in;
        QByteArray out;
    };
    const Case cases[] = {
        {"", ""},
        {"a\r\nb\r\n", "a\nb\n"},
        {"a\nb", "a\nb"},
        {"a\rb\r", "a\rb\r"},
        {"\r\r\n\r\n", "\r\n\n"},
        {"\x8e\xff\r\n", "\x8e\xff\n"},
    };
    for (const Case &c : cases) {
        QByteArray message = c.in;
        TDWMessageFile::convertLineEnds(message);
        EXPECT_EQ(message, c.out) << c.in.toHex().toStdString();
    }
}

TEST(TDWMessageFileTest, FlagWordFromImapFlags)
{
    struct Case
    {
        qint64 imapFlags;
        qint64 word;
    };
    const Case cases[] = {
        {0, 0},
        {TDWImapMessageFlagSeen | TDWImapMessageFlagFlagged, 17},
        {TDWImapMessageFlagAnswered, 4},
        {TDWImapMessageFlagForwarded, 256},
        {TDWImapMessageFlagDeleted | TDWImapMessageFlagDraft | TDWImapMessageFlagMDNSent, 0},
        {0x1ff, 1 | 4 | 16 | 256},
    };
    for (const Case &c : cases)
        EXPECT_EQ(TDWMessageFile::flagWordFromImapFlags(c.imapFlags), c.word) << c.imapFlags;
}

// The server's bytes are stored as they came: no character set is assumed,
// so 8-bit bytes stay single bytes and the count line counts exactly them,
// however the bytes were cut into chunks on the way (a CR LF split too).
TEST(TDWMessageFileTest, TheFileHoldsTheServersBytesWithLineFeedsAndTheirCount)
{
    QByteArray expected = EightBitMessage;
    expected.replace("\r\n", "\n");
    for (const qsizetype chunk : {qsizetype(1), qsizetype(2), qsizetype(7), EightBitMessage.size()}) {
        SCOPED_TRACE(chunk);
        const QString path = tdwtest::freshDir(QStringLiteral("emlx")) + QStringLiteral("/1.emlx");
        TDWError error;
        ASSERT_TRUE(writeMessageFile(path, EightBitMessage, 17, chunk, &error)) << error.description().toStdString();
        const QByteArray file = readAll(path);
        EXPECT_TRUE(file.startsWith(TDWMessageFile::countLine(expected.size()) + expected));
        EXPECT_TRUE(file.contains("Caf\x8e au lait\n"));
        EXPECT_EQ(mailtest::messageFileVerdict(path, EightBitMessage, 17), QString());
    }
}

// Carriage returns at the ends of chunks: only one before a line feed goes,
// wherever the chunk ended.
TEST(TDWMessageFileTest, LineEndsSplitBetweenChunksAreConverted)
{
    const QByteArray server = "Subject: s\r\n\r\na\r\r\nb\rc\r\n\r";
    QByteArray expected = server;
    TDWMessageFile::convertLineEnds(expected);
    for (qsizetype chunk = 1; chunk <= server.size(); ++chunk) {
        const QString path = tdwtest::freshDir(QStringLiteral("emlx")) + QStringLiteral("/1.emlx");
        ASSERT_TRUE(writeMessageFile(path, server, 0, chunk));
        EXPECT_TRUE(readAll(path).startsWith(TDWMessageFile::countLine(expected.size()) + expected)) << "chunks of " << chunk;
    }
}

// Until it is committed the old file stays whole; an aborted one leaves nothing.
TEST(TDWMessageFileTest, TheFileAppearsOnlyWhenCommitted)
{
    const QString dir = tdwtest::freshDir(QStringLiteral("emlx"));
    const QString path = dir + QStringLiteral("/1.emlx");
    ASSERT_TRUE(writeMessageFile(path, "Subject: old\r\n\r\nold\r\n", 0));
    const QByteArray old = readAll(path);
    {
        TDWMessageFileWriter writer(path, 0);
        ASSERT_TRUE(writer.open(nullptr));
        ASSERT_TRUE(writer.append(EightBitMessage.constData(), EightBitMessage.size(), nullptr));
        EXPECT_EQ(readAll(path), old);
        writer.abort();
    }
    EXPECT_EQ(readAll(path), old);
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("1.emlx")});
}

TEST(TDWMessageFileTest, HeadersThatAreMissingLeaveTheirDefaults)
{
    const QByteArray cases[] = {
        "From: a@example.org\r\n\r\nno subject, no date\r\n",
        "Subject: only headers\r\nDate: Wed, 1 Jan 2025 00:00:00 +0000\r\n",
        "\r\nno header at all\r\n",
        "Subject: \r\n\r\nan empty subject\r\n",
    };
    for (const QByteArray &server : cases) {
        SCOPED_TRACE(server.toStdString());
        const QString path = tdwtest::freshDir(QStringLiteral("emlx")) + QStringLiteral("/1.emlx");
        ASSERT_TRUE(writeMessageFile(path, server, 1));
        EXPECT_EQ(mailtest::messageFileVerdict(path, server, 1), QString());
    }
}

// A subject with control characters still gives a readable property list.
TEST(TDWMessageFileTest, ASubjectWithControlCharactersIsStoredWithoutThem)
{
    const QString path = tdwtest::freshDir(QStringLiteral("emlx")) + QStringLiteral("/1.emlx");
    ASSERT_TRUE(writeMessageFile(path, "Subject: bell\x07 and =?UTF-8?Q?esc=1B?=\r\n\r\nbody\r\n", 0));
    EXPECT_TRUE(readAll(path).contains("<string>bell and esc</string>"));
}

class ProcessMessageResultTest : public MailStoreFixture
{
protected:
    void SetUp() override
    {
        MailStoreFixture::SetUp();
        auto doc = TDWDoc::newWithMoc(*m_moc, m_mailStore);
        doc->setDocId(QStringLiteral("1001"));
        doc->setDocType(QStringLiteral("message"));
        doc->setService(QStringLiteral("mail"));
        doc->setAccountUsername(Alice);
        auto revision = TDWDocRev::newWithMoc(*m_moc, m_mailStore);
        revision->setDoc(doc);
        revision->setFilePath(QStringLiteral("alice/Hello/1001.emlx"));
        revision->setTitle(QStringLiteral("Hello"));
        revision->setExportStatus(TDWDocRev::DownloadPending);
        revision->setLatest(true);
        revision->setIsUnread(true);
        revision->setStarred(true);
        save();
        m_revisionId = revision->objectID();
        m_path = QDir(TDWFileMgr::backedUpItemsPathForService(QStringLiteral("mail"))).filePath(revision->filePath());
        TDWLog::setObserver([this](const QString &line) { m_log.append(line); });
    }

    void TearDown() override
    {
        TDWLog::setObserver({});
        TDWUserDefaults::standard()->removeObjectForKey(QStringLiteral("lockBackupFiles"));
        MailStoreFixture::TearDown();
    }

    // Downloads `server` for the revision as the download does: its file
    // prepared, the bytes streamed in through a body sink (unless the download
    // failed first with `downloadError`), and what came of it recorded.
    void process(const QByteArray &server, const TDWError &downloadError = {})
    {
        auto result = std::make_shared<TDWProcessMessageResultOperation>(m_revisionId);
        std::unique_ptr<TDWMessageFileWriter> file = result->prepareFile();
        ASSERT_TRUE(file);
        TDWImapBodySink sink(std::move(file));
        TDWError error = downloadError;
        if (error.isNull()) {
            sink.begin(server.size());
            sink.write(server.constData(), server.size());
            sink.commit(&error);
        }
        result->setInputError(error);
        result->start();
        ASSERT_TRUE(result->isFinished());
    }

    qint64 savedStatus()
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        const auto revision = std::dynamic_pointer_cast<TDWDocRev>(moc->existingObjectWithID(m_revisionId, nullptr));
        return revision ? revision->exportStatus() : -1;
    }

    // A good earlier backup of the message, locked as backups are.
    void writeOldBackup()
    {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(m_path).path()));
        ASSERT_TRUE(writeMessageFile(m_path, "From: a@example.org\r\n\r\nthe old copy\r\n", 1));
        ASSERT_TRUE(TDWFileLock::setLocked(m_path, true));
    }

    TDWManagedObjectID m_revisionId;
    QString m_path;
    QStringList m_log;
};

TEST_F(ProcessMessageResultTest, AMessageIsStoredLockedAndRecordedBackedUp)
{
    TDWUserDefaults::standard()->setBool(true, QStringLiteral("lockBackupFiles"));
    process(EightBitMessage);
    EXPECT_EQ(savedStatus(), TDWDocRev::BackedUp);
    EXPECT_FALSE(writable(m_path));
    // No IMAP flags were stored: unread and starred give flagged only.
    EXPECT_EQ(mailtest::messageFileVerdict(m_path, EightBitMessage, 16), QString());
}

TEST_F(ProcessMessageResultTest, ALockedOldFileIsReplacedAndTheSettingDecidesTheNewLock)
{
    for (const bool lock : {true, false}) {
        SCOPED_TRACE(lock);
        writeOldBackup();
        TDWUserDefaults::standard()->setBool(lock, QStringLiteral("lockBackupFiles"));
        process(EightBitMessage);
        EXPECT_EQ(savedStatus(), TDWDocRev::BackedUp);
        EXPECT_EQ(mailtest::messageFileVerdict(m_path, EightBitMessage, 16), QString());
        EXPECT_EQ(writable(m_path), !lock);
    }
}

// An answer without data, a failed download and a file that cannot be
// written all leave the earlier backup whole: it is never removed first.
TEST_F(ProcessMessageResultTest, AFailureKeepsTheOldFile)
{
    writeOldBackup();
    const QByteArray old = readAll(m_path);

    process(QByteArray());
    EXPECT_EQ(savedStatus(), TDWDocRev::DownloadFailed);
    EXPECT_EQ(readAll(m_path), old);
    EXPECT_TRUE(m_log.contains(QStringLiteral("ERROR: Unable to retrieve message: The server sent no content for the message.")));

    process(QByteArray(), TDWImapError::make(TDWImapError::Cancelled, QStringLiteral("gone")));
    EXPECT_EQ(savedStatus(), TDWDocRev::DownloadFailed);
    EXPECT_EQ(readAll(m_path), old);
    EXPECT_TRUE(m_log.contains(QStringLiteral("ERROR: Unable to retrieve message: gone")));

    // A folder that refuses new files: the temporary file cannot be made
    // (permissions do not hold back the superuser).
    if (::geteuid() == 0)
        return;
    const QString folder = QFileInfo(m_path).path();
    ASSERT_TRUE(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    process(EightBitMessage);
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(savedStatus(), TDWDocRev::DownloadFailed);
    EXPECT_EQ(readAll(m_path), old);
    EXPECT_TRUE(m_log.contains(QStringLiteral("ERROR: Failed to write message to “%1”").arg(m_path)));
}

} // namespace
