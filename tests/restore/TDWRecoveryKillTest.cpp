// A restore killed at every durable write: what was in the destination stays
// as it was, and every restored name holds a whole copy or nothing.
#include "RestoreFixture.h"

#include "TestSupport.h"

#include "platform/foundation/TDWSafeFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>

namespace {

struct ChildRun
{
    bool killed = false;
    int exitCode = -1;
    int writes = -1;
};

class RestoreKill : public RestoreFixture
{
protected:
    ChildRun runRestore(const QString &dest, const QStringList &revisionUris, int killAt)
    {
        QProcess runner;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TDW_TEST_KILL_AT_WRITE"), QString::number(killAt));
        runner.setProcessEnvironment(environment);
        runner.start(QStringLiteral(TDW_RESTORE_KILL_RUNNER), QStringList{m_stack.folder, m_backupFolder, dest} + revisionUris);
        EXPECT_TRUE(runner.waitForFinished(120000));
        ChildRun child;
        child.killed = runner.exitStatus() == QProcess::CrashExit;
        child.exitCode = runner.exitCode();
        const QByteArray out = runner.readAllStandardOutput();
        if (out.startsWith("writes "))
            child.writes = out.mid(7).trimmed().toInt();
        if (!child.killed && child.exitCode != 0)
            ADD_FAILURE() << runner.readAllStandardError().toStdString();
        return child;
    }

    // A destination that already holds the user's own file.
    static QString destinationWithUserFile()
    {
        const QString dest = tdwtest::freshDir(QStringLiteral("dest"));
        QFile own(dest + QStringLiteral("/keep.txt"));
        EXPECT_TRUE(own.open(QIODevice::WriteOnly));
        own.write("the user's own file");
        return dest;
    }
};

TEST_F(RestoreKill, AKillAtEveryDurableWriteLeavesTheDestinationWhole)
{
    const QMap<QString, QByteArray> files = {
        {QStringLiteral("Plan.txt"), "the plan"},
        {QStringLiteral("Picture.txt"), QByteArray(300 * 1024, 'p')},
        {QStringLiteral("Budget.txt"), "the budget"},
    };
    QStringList uris;
    for (auto it = files.begin(); it != files.end(); ++it)
        uris << addFile(it.key().chopped(4), it.value()).uriRepresentation().toString();

    const ChildRun reference = runRestore(destinationWithUserFile(), uris, 0);
    ASSERT_EQ(reference.exitCode, 0);
    ASSERT_GE(reference.writes, int(files.size()));

    for (int killAt = 1; killAt <= reference.writes; ++killAt) {
        SCOPED_TRACE(killAt);
        const QString dest = destinationWithUserFile();
        const ChildRun child = runRestore(dest, uris, killAt);
        EXPECT_TRUE(child.killed);
        EXPECT_EQ(contentsOf(dest + QStringLiteral("/keep.txt")), "the user's own file");
        for (const QString &name : QDir(dest).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot)) {
            if (name == QLatin1String("keep.txt") || TDWSafeFile::isTemporaryName(name))
                continue;
            ASSERT_TRUE(files.contains(name)) << name.toStdString();
            EXPECT_EQ(contentsOf(dest + QLatin1Char('/') + name), files.value(name)) << name.toStdString() << " is not whole";
        }
    }
}

} // namespace
