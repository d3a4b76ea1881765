// Reliability of the mail list step: a run stopped (SIGKILL) right after any
// one of its saves and started again ends with the same mail store as a run
// that was never stopped: nothing lost, no revision twice.
#include "MailSyncFixture.h"

#include <QDirIterator>

using namespace std::chrono_literals;

namespace {

class MailListKillTest : public MailSyncFixture
{
protected:
    struct Run
    {
        bool killed = false;
        int exitCode = -1;
        int saves = 0;
    };

    // One mail list step of the iteration that starts `days` after the
    // test's start, in a child process with its own data folder.
    Run runStep(const QString &dataDir, int days, int killAtSave)
    {
        QProcess runner;
        runner.start(QStringLiteral(TDW_MAIL_LIST_KILL_RUNNER),
                     {dataDir, m_keyring, Alice, m_token, QStringLiteral("127.0.0.1:%1").arg(m_server.port()),
                      m_start.addDays(days).toString(Qt::ISODateWithMs), QString::number(killAtSave)});
        EXPECT_TRUE(runner.waitForFinished(120000));
        Run run;
        run.killed = runner.exitStatus() == QProcess::CrashExit;
        run.exitCode = runner.exitCode();
        const QByteArray out = runner.readAllStandardOutput();
        if (out.startsWith("saves "))
            run.saves = out.mid(6).trimmed().toInt();
        if (!run.killed && run.exitCode != 0)
            ADD_FAILURE() << runner.readAllStandardError().toStdString();
        return run;
    }

    // The one account-and-service store there is: the account's "mail" store.
    static QString mailStorePath(const QString &dataDir)
    {
        const QStringList stores = QDir(QDir(dataDir).filePath(QStringLiteral("Auxiliary Stores"))).entryList({QStringLiteral("*.sqlite3")}, QDir::Files);
        EXPECT_EQ(stores.size(), 1);
        return stores.isEmpty() ? QString() : QDir(dataDir).filePath(QStringLiteral("Auxiliary Stores/") + stores.first());
    }

    // The mail store's content as the sqlite3 shell reads it, without row
    // numbers and file names (each new revision's name is made unique).
    static QString dump(const QString &dataDir)
    {
        const QString path = mailStorePath(dataDir);
        QProcess shell;
        shell.start(QStringLiteral("sqlite3"),
                    {path, QStringLiteral(
                               "SELECT 'doc', docId, deleted, deletedDate, allMailUid, allMailSeq, isUnlabeledMessage FROM Doc ORDER BY docId;"
                               "SELECT 'rev', d.docId, r.firstSeenDate, r.lastSeenDate, r.obsoletedDate, r.latest, r.exportStatus, r.title "
                               "FROM DocRev r JOIN Doc d ON r.doc = d.pk ORDER BY 2, 3;"
                               "SELECT 'link', d.docId, f.messageTag, i.current, i.firstSeenDate, i.obsoletedDate FROM MailItem i "
                               "JOIN Doc d ON i.messageDoc = d.pk JOIN MailFolder f ON i.mailFolder = f.pk ORDER BY 2, 3, 5;"
                               "SELECT 'folder', folderPath, messageTag, current, backup, firstSeenDate, obsoletedDate FROM MailFolder ORDER BY 2, 6;"
                               "SELECT 'setting', settingName, backupEnabled, current, firstSeenDate FROM BackupSettingHistory ORDER BY 2, 5;"
                               "SELECT 'two latest', d.docId FROM DocRev r JOIN Doc d ON r.doc = d.pk GROUP BY d.pk HAVING sum(r.latest) != 1;")});
        EXPECT_TRUE(shell.waitForFinished(30000));
        EXPECT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();
        return QString::fromUtf8(shell.readAllStandardOutput());
    }

    // The lines only one of the two dumps has, a few of each side.
    static QString difference(const QString &actual, const QString &expected)
    {
        const QStringList a = actual.split(QLatin1Char('\n')), e = expected.split(QLatin1Char('\n'));
        const QSet<QString> aSet(a.begin(), a.end()), eSet(e.begin(), e.end());
        QStringList lines;
        for (const QString &line : a)
            if (!eSet.contains(line) && lines.size() < 8)
                lines.append(QStringLiteral("+ ") + line);
        for (const QString &line : e)
            if (!aSet.contains(line) && lines.size() < 16)
                lines.append(QStringLiteral("- ") + line);
        if (lines.isEmpty() && a != e)
            lines.append(QStringLiteral("same lines, other order or count"));
        return lines.join(QLatin1Char('\n'));
    }

    static void copyFolder(const QString &from, const QString &to)
    {
        QDirIterator files(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString path = files.next();
            const QString target = QDir(to).filePath(QDir(from).relativeFilePath(path));
            ASSERT_TRUE(QDir().mkpath(QFileInfo(target).absolutePath()));
            ASSERT_TRUE(QFile::copy(path, target)) << target.toStdString();
        }
    }

    // Every kill point of the step of `days`, each from a copy of `before`
    // (an empty folder when null): killed, started again, compared.
    void killEverywhere(const QString &before, int days, int saves, const QString &expected)
    {
        for (int n = 1; n <= saves; ++n) {
            SCOPED_TRACE(testing::Message() << "killed after save " << n << " of " << saves);
            const QString dir = tdwtest::freshDir(QStringLiteral("killed"));
            if (!before.isNull())
                copyFolder(before, dir);
            ASSERT_TRUE(runStep(dir, days, n).killed);
            const Run again = runStep(dir, days, 0);
            ASSERT_FALSE(again.killed);
            EXPECT_EQ(again.exitCode, 0);
            EXPECT_EQ(difference(dump(dir), expected), QString());
            if (HasFailure())
                return;
        }
    }

    QString m_keyring = tdwtest::freshDir(QStringLiteral("runner-keyring"));
};

TEST_F(MailListKillTest, AStepStoppedAfterAnySaveAndStartedAgainEndsAsIfNeverStopped)
{
    // Two batches of All Mail, so that kills land between them too.
    ASSERT_TRUE(startServer({{"generate", 1100}}));
    const QString reference = tdwtest::freshDir(QStringLiteral("reference"));
    const Run first = runStep(reference, 0, 0);
    ASSERT_EQ(first.exitCode, 0);
    ASSERT_GT(first.saves, 4);
    const QString afterFirst = dump(reference);
    EXPECT_NE(afterFirst.count(QStringLiteral("rev|")), 0);
    EXPECT_FALSE(afterFirst.contains(QStringLiteral("two latest")));
    killEverywhere(QString(), 0, first.saves, afterFirst);

    const QString firstState = tdwtest::freshDir(QStringLiteral("first"));
    copyFolder(reference, firstState);
    // Between the runs: a flag, labels, a deletion mid-mailbox and an arrival.
    const QJsonArray listed = serverMessages();
    m_server.control({{"op", "flag"}, {"uid", listed.at(10).toObject().value(QStringLiteral("uid"))}, {"add", QJsonArray{"\\Flagged"}}});
    m_server.control({{"op", "label"}, {"uid", listed.at(20).toObject().value(QStringLiteral("uid"))}, {"add", QJsonArray{"Travel"}},
                      {"remove", QJsonArray{"Work"}}});
    m_server.control({{"op", "expunge"}, {"uid", listed.at(500).toObject().value(QStringLiteral("uid"))}});
    m_server.control({{"op", "add_message"}, {"raw", "From: a@example.org\r\nSubject: new\r\n\r\nx\r\n"}, {"labels", QJsonArray{"Travel"}}});
    const Run second = runStep(reference, 1, 0);
    ASSERT_EQ(second.exitCode, 0);
    const QString afterSecond = dump(reference);
    EXPECT_NE(afterSecond, afterFirst);
    EXPECT_FALSE(afterSecond.contains(QStringLiteral("two latest")));
    killEverywhere(firstState, 1, second.saves, afterSecond);
}

} // namespace
