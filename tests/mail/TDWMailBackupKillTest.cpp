// Reliability of the whole mail backup: a run stopped (SIGKILL) just before
// one of its message files or store saves and started again loses no message
// (each has a file holding the server's bytes), keeps one latest revision per
// message and ends as a run that was never stopped.
#include "MailKillFixture.h"

#include "common/TDWServiceTable.h"
#include "platform/foundation/TDWSafeFile.h"

#include <QDirIterator>

namespace {

const QString Backup = QStringLiteral("backup");
// Enough messages for the downloads' four requests in flight to overlap
// their writes, few enough for a kill at every fifth write to stay quick.
constexpr int MessageCount = 60;
constexpr int KillStride = 5;

// The message files of a data folder by docId, as their bytes, and the files
// no revision names.
struct MessageFiles
{
    QMap<QString, QByteArray> byDocId;
    QStringList unnamed;
};

class MailBackupKillTest : public MailKillFixture
{
protected:
    // Generated messages with 8-bit bytes in headers and bodies, some in labels.
    static QList<QByteArray> messages()
    {
        QList<QByteArray> raw;
        for (int i = 0; i < MessageCount; ++i)
            raw.append("Date: Tue, 03 Mar 2020 10:" + QByteArray::number(10 + i % 50) + ":00 +0100\r\nFrom: Bob <bob@example.org>\r\n"
                       "Subject: Caf\xe9 " + QByteArray::number(i) + "\r\n\r\nline one \x8e\r\n" + QByteArray(i * 37, 'x') + "\r\n");
        return raw;
    }

    static QJsonObject mailbox()
    {
        QJsonArray scenario;
        const QList<QByteArray> raw = messages();
        for (qsizetype i = 0; i < raw.size(); ++i)
            scenario.append(QJsonObject{{"raw_base64", QString::fromLatin1(raw.at(i).toBase64())},
                                        {"flags", i % 3 ? QJsonArray{"\\Seen"} : QJsonArray{}},
                                        {"labels", i % 4 ? QJsonArray{"\\Inbox"} : QJsonArray{"\\Inbox", "Work"}}});
        return {{"messages", scenario}};
    }

    static MessageFiles messageFiles(const QString &dataDir)
    {
        const QString folder = QDir(dataDir).filePath(QStringLiteral("backups/") + TDWServiceTable::shared().serviceConfig(QStringLiteral("mail")).itemDir);
        QMap<QString, QString> docIdByPath;
        const QString rows = query(dataDir, QStringLiteral("SELECT d.docId, r.filePath FROM DocRev r JOIN Doc d ON r.doc = d.pk WHERE r.latest = 1;"));
        for (const QString &row : rows.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            docIdByPath.insert(QDir(folder).filePath(row.section(QLatin1Char('|'), 1)), row.section(QLatin1Char('|'), 0, 0));
        MessageFiles files;
        QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile file(path);
            if (!docIdByPath.contains(path))
                files.unnamed.append(QDir(folder).relativeFilePath(path));
            else if (file.open(QIODevice::ReadOnly))
                files.byDocId.insert(docIdByPath.value(path), file.readAll());
        }
        return files;
    }
};

// The docIds whose file is missing from or differs between the two.
QStringList differingFiles(const QMap<QString, QByteArray> &actual, const QMap<QString, QByteArray> &expected)
{
    QStringList docIds;
    for (auto it = expected.begin(); it != expected.end(); ++it)
        if (actual.value(it.key()) != it.value())
            docIds.append(it.key());
    for (const QString &docId : actual.keys())
        if (!expected.contains(docId))
            docIds.append(docId);
    return docIds;
}

// Whether the message file holds the server's bytes (CR LF as LF) after its count line.
bool holdsServerBytes(const QByteArray &file, QByteArray server)
{
    server.replace("\r\n", "\n");
    const qsizetype lineEnd = file.indexOf('\n');
    return lineEnd > 0 && file.left(lineEnd).trimmed().toLongLong() == server.size() && file.mid(lineEnd + 1, server.size()) == server;
}

TEST_F(MailBackupKillTest, ABackupStoppedAtEveryFifthWriteAndStartedAgainEndsAsIfNeverStopped)
{
    ASSERT_TRUE(startServer(mailbox()));
    const QString reference = tdwtest::freshDir(QStringLiteral("reference"));
    const Run first = referenceRun(Backup, reference, 0);
    ASSERT_EQ(first.exitCode, 0);
    // A file and a save at least for each message.
    ASSERT_GT(first.writes, MessageCount);
    const QString expected = dump(reference);
    EXPECT_FALSE(expected.contains(QStringLiteral("two latest")));
    const MessageFiles expectedFiles = messageFiles(reference);
    EXPECT_EQ(expectedFiles.unnamed, QStringList());
    ASSERT_EQ(expectedFiles.byDocId.size(), MessageCount);

    // Every message's file holds the bytes the server sent.
    const QList<QByteArray> raw = messages();
    QSet<int> matched;
    for (const QByteArray &file : expectedFiles.byDocId)
        for (int i = 0; i < raw.size(); ++i)
            if (holdsServerBytes(file, raw.at(i)))
                matched.insert(i);
    EXPECT_EQ(matched.size(), MessageCount);

    for (int n = 1; n <= first.writes; n += KillStride) {
        SCOPED_TRACE(testing::Message() << "killed before write " << n << " of " << first.writes);
        const QString dir = tdwtest::freshDir(QStringLiteral("killed"));
        ASSERT_TRUE(runStep(Backup, dir, 0, n).killed);
        const Run again = runStep(Backup, dir, 0, 0);
        ASSERT_FALSE(again.killed);
        EXPECT_EQ(again.exitCode, 0);
        EXPECT_EQ(difference(dump(dir), expected), QString());
        const MessageFiles files = messageFiles(dir);
        EXPECT_EQ(differingFiles(files.byDocId, expectedFiles.byDocId), QStringList());
        // What the kill left unfinished is only a temporary file, which start-up sweeps away.
        for (const QString &path : files.unnamed)
            EXPECT_TRUE(TDWSafeFile::isTemporaryName(QFileInfo(path).fileName())) << path.toStdString();
        if (HasFailure())
            return;
    }
}

} // namespace
