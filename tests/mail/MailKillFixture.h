#pragma once

// The reliability tests' way to run one step of a backup run (mail_kill_runner)
// in a child process, stopped with SIGKILL by the kill point at a chosen
// durable write, and to read the mail store it leaves behind.
#include "MailSyncFixture.h"

#include <QDirIterator>

class MailKillFixture : public MailSyncFixture
{
protected:
    struct Run
    {
        bool killed = false;
        int exitCode = -1;
        int writes = 0;
    };

    // One `step` ("list" or "backup") of the iteration that starts `days`
    // after the test's start, in a child process with its own data folder,
    // stopped just before its write `killAt` (0: never).
    Run runStep(const QString &step, const QString &dataDir, int days, int killAt)
    {
        QProcess runner;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TDW_TEST_KILL_AT_WRITE"), QString::number(killAt));
        runner.setProcessEnvironment(environment);
        runner.start(QStringLiteral(TDW_MAIL_KILL_RUNNER),
                     {dataDir, m_keyring, Alice, m_token, QStringLiteral("127.0.0.1:%1").arg(m_server.port()),
                      m_start.addDays(days).toString(Qt::ISODateWithMs), step});
        EXPECT_TRUE(runner.waitForFinished(120000));
        Run run;
        run.killed = runner.exitStatus() == QProcess::CrashExit;
        run.exitCode = runner.exitCode();
        const QByteArray out = runner.readAllStandardOutput();
        if (out.startsWith("writes "))
            run.writes = out.mid(7).trimmed().toInt();
        if (!run.killed && run.exitCode != 0)
            ADD_FAILURE() << runner.readAllStandardError().toStdString();
        return run;
    }

    // A `step` nobody stops, made after one in a scratch folder has written
    // what every run shares (the user defaults, the keyring): its writes are
    // then those of each later run, so that every kill point is reached.
    Run referenceRun(const QString &step, const QString &dataDir, int days)
    {
        runStep(step, tdwtest::freshDir(QStringLiteral("scratch")), days, 0);
        return runStep(step, dataDir, days, 0);
    }

    // The one account-and-service store there is: the account's "mail" store.
    static QString mailStorePath(const QString &dataDir)
    {
        const QStringList stores = QDir(QDir(dataDir).filePath(QStringLiteral("Auxiliary Stores"))).entryList({QStringLiteral("*.sqlite3")}, QDir::Files);
        EXPECT_EQ(stores.size(), 1);
        return stores.isEmpty() ? QString() : QDir(dataDir).filePath(QStringLiteral("Auxiliary Stores/") + stores.first());
    }

    // What the sqlite3 shell answers to `queries` on the folder's mail store.
    static QString query(const QString &dataDir, const QString &queries)
    {
        QProcess shell;
        shell.start(QStringLiteral("sqlite3"), {mailStorePath(dataDir), queries});
        EXPECT_TRUE(shell.waitForFinished(30000));
        EXPECT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();
        return QString::fromUtf8(shell.readAllStandardOutput());
    }

    // The mail store's content, without row numbers and file names (each new
    // revision's name is made unique).
    static QString dump(const QString &dataDir)
    {
        return query(dataDir,
                     QStringLiteral(
                         "SELECT 'doc', docId, deleted, deletedDate, allMailUid, allMailSeq, isUnlabeledMessage FROM Doc ORDER BY docId;"
                         "SELECT 'rev', d.docId, r.firstSeenDate, r.lastSeenDate, r.obsoletedDate, r.latest, r.exportStatus, r.title "
                         "FROM DocRev r JOIN Doc d ON r.doc = d.pk ORDER BY 2, 3;"
                         "SELECT 'link', d.docId, f.messageTag, i.current, i.firstSeenDate, i.obsoletedDate FROM MailItem i "
                         "JOIN Doc d ON i.messageDoc = d.pk JOIN MailFolder f ON i.mailFolder = f.pk ORDER BY 2, 3, 5;"
                         "SELECT 'folder', folderPath, messageTag, current, backup, firstSeenDate, obsoletedDate FROM MailFolder ORDER BY 2, 6;"
                         "SELECT 'setting', settingName, backupEnabled, current, firstSeenDate FROM BackupSettingHistory ORDER BY 2, 5;"
                         "SELECT 'two latest', d.docId FROM DocRev r JOIN Doc d ON r.doc = d.pk GROUP BY d.pk HAVING sum(r.latest) != 1;"));
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

    QString m_keyring = tdwtest::freshDir(QStringLiteral("runner-keyring"));
};
