// The upgrade at start-up killed outright (SIGKILL) at each of its durable
// writes: the dated copy, every store's migration and swap, the settings on the
// way. Each store is then whole, at its old layout byte for byte or complete at
// the new one; the next start carries on; a failed upgrade stops with the alert.
// Neither leaves files behind that the upgrade made.
#include "AppTestSupport.h"
#include "DataObjectsTestSupport.h"
#include "LaterMetadataModel.h"
#include "MetadataStoreChecks.h"

#include "TestSupport.h"

#include "common/TDWFileMgr.h"
#include "common/TDWFileUpkeep.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWTestKillPoint.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <cstdio>

using namespace apptest;
using migrationtest::LaterLayoutSteps;

namespace {

// The child's folders (home, data and config below it) and the later layout it starts with.
const char *RootVariable = "TDW_UPGRADE_KILL_ROOT";
const char *StepsVariable = "TDW_UPGRADE_KILL_STEPS";

const QString Ann = QStringLiteral("ann@example.com");
const QString Bo = QStringLiteral("bo@example.com");

LaterLayoutSteps stepsNamed(const QString &name)
{
    return {.failingAccountStoreStep = name.contains(QLatin1String("failing")), .onCopies = name.contains(QLatin1String("copies"))};
}

QByteArray bytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The child: the application's start-up on the folders below the root, with the later model.
class TDWUpgradeKillChild : public AppFixture
{
protected:
    void SetUp() override
    {
        const QString root = qEnvironmentVariable(RootVariable);
        if (root.isEmpty())
            GTEST_SKIP() << "run by TDWUpgradeKill";
        home = QDir(root).filePath(QStringLiteral("home"));
        qputenv("HOME", QFile::encodeName(home));
        qputenv("XDG_DATA_HOME", QFile::encodeName(QDir(root).filePath(QStringLiteral("data"))));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(QDir(root).filePath(QStringLiteral("config"))));
        qputenv("TDW_KEYRING", "file");
        TDWFileMgr::reset();
        TDWMasterStore::shared().setManagedObjectModel(migrationtest::laterMetadataModel(stepsNamed(qEnvironmentVariable(StepsVariable))));
    }

    void TearDown() override
    {
        AppFixture::TearDown();
        if (IsSkipped())
            return;
        // Every durable write, the ones made on the way out included.
        std::printf("WRITES %d\n", TDWTestKillPoint::writesSoFar());
        std::fflush(stdout);
    }
};

TEST_F(TDWUpgradeKillChild, Start)
{
    // What main() does before the application's delegate starts.
    const QString dataDir = TDWFileMgr::defaultDataDir();
    TDWLog::setLogFile(QDir(dataDir).filePath(QStringLiteral("Logs/Tidewell.log")));
    TDWFileUpkeep::atStartup(dataDir, QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)).filePath(QStringLiteral("Tidewell")));
    makeController();
    launch();
    std::printf("STARTED %d ALERTS %lld\n", startupFinished ? 1 : 0, qint64(prompted->errors.size()));
    std::fflush(stdout);
}

// How a child start ended.
struct ChildRun
{
    bool killed = false;
    bool started = false;
    int alerts = -1;
    int writes = -1;
};

class TDWUpgradeKill : public AppFixture
{
protected:
    // A returning user with two accounts whose mail stores hold items, every
    // store closed with its log folded in; copied below a root of its own.
    QString makeTemplate()
    {
        prepareReturningUser({Ann, Bo});
        {
            TDWMasterStore &master = TDWMasterStore::shared();
            master.setPersistentStoreCoordinator(master.persistentStoreCoordinatorMigrating(false));
            const auto storeMgr = TDWStoreMgr::initWithPersistentStoreCoordinator(master.persistentStoreCoordinator(), master.masterStore());
            EXPECT_TRUE(storeMgr);
            const auto moc = master.newMoc();
            for (const QString &user : {Ann, Bo}) {
                const TDWPersistentStorePtr store = storeMgr ? storeMgr->storeForAccountUsername(user, QStringLiteral("mail")) : nullptr;
                EXPECT_TRUE(store);
                for (int i = 0; store && i < 3; ++i)
                    TDWDoc::newWithMoc(*moc, store)->setDocId(QStringLiteral("%1-%2").arg(user).arg(i));
            }
            EXPECT_TRUE(moc->save(nullptr));
            master.setPersistentStoreCoordinator(nullptr);
        }
        const QString root = tdwtest::freshDir(QStringLiteral("upgrade-template"));
        copy(dataFolder(), QDir(root).filePath(QStringLiteral("data/Tidewell")));
        copy(QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)).filePath(QStringLiteral("Tidewell")),
             QDir(root).filePath(QStringLiteral("config/Tidewell")));
        m_template = root;
        m_stores = relativeStores(root);
        EXPECT_EQ(m_stores.size(), 3);
        for (const QString &store : std::as_const(m_stores)) {
            const QString path = QDir(root).filePath(store);
            EXPECT_FALSE(QFile::exists(path + QStringLiteral("-wal"))) << store.toStdString();
            m_original.insert(store, bytes(path));
            m_rows.insert(store, migrationtest::tableRowCounts(path));
            EXPECT_EQ(migrationtest::layoutVersion(path), QStringLiteral("1"));
        }
        return root;
    }

    // A fresh copy of the template.
    QString freshRoot() const
    {
        const QString root = tdwtest::freshDir(QStringLiteral("upgrade-run"));
        copy(QDir(m_template).filePath(QStringLiteral("data")), QDir(root).filePath(QStringLiteral("data")));
        copy(QDir(m_template).filePath(QStringLiteral("config")), QDir(root).filePath(QStringLiteral("config")));
        return root;
    }

    static void copy(const QString &from, const QString &to)
    {
        QDir().mkpath(QFileInfo(to).absolutePath());
        ASSERT_EQ(QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-a"), from, to}), 0) << from.toStdString();
    }

    static QString dataPath(const QString &root) { return QDir(root).filePath(QStringLiteral("data/Tidewell/TidewellData.sqlite3")); }

    // The stores of the root, relative to it.
    static QStringList relativeStores(const QString &root)
    {
        QStringList stores;
        for (const QString &path : migrationtest::metadataStoreFiles(dataPath(root)))
            stores.append(QDir(root).relativeFilePath(path));
        return stores;
    }

    static ChildRun runChild(const QString &root, const QString &steps, int killAt)
    {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(RootVariable), root);
        environment.insert(QString::fromLatin1(StepsVariable), steps);
        environment.insert(QStringLiteral("TDW_TEST_KILL_AT_WRITE"), QString::number(killAt));
        // The sandbox a killed child cannot remove goes with this test's own.
        environment.insert(QStringLiteral("TMPDIR"), tdwtest::freshDir(QStringLiteral("child-tmp")));
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=TDWUpgradeKillChild.Start")});
        EXPECT_TRUE(child.waitForFinished(120000));
        ChildRun run;
        run.killed = child.exitStatus() == QProcess::CrashExit;
        const QString output = QString::fromUtf8(child.readAllStandardOutput());
        for (const QString &line : output.split(QLatin1Char('\n'))) {
            const QStringList words = line.split(QLatin1Char(' '));
            if (words.size() == 4 && words[0] == QLatin1String("STARTED")) {
                run.started = words[1] == QLatin1String("1");
                run.alerts = words[3].toInt();
            } else if (words.size() == 2 && words[0] == QLatin1String("WRITES")) {
                run.writes = words[1].toInt();
            }
        }
        return run;
    }

    // Each store whole: at the old layout byte for byte, or at the new one with
    // every row and the new columns. Answers the stores at the new layout.
    int expectEachStoreWhole(const QString &root) const
    {
        int migrated = 0;
        for (const QString &store : m_stores) {
            SCOPED_TRACE(store.toStdString());
            const QString path = QDir(root).filePath(store);
            if (!QFile::exists(path)) {
                ADD_FAILURE() << "the store is gone";
                continue;
            }
            const QString version = migrationtest::layoutVersion(path);
            if (version == QStringLiteral("1")) {
                EXPECT_TRUE(bytes(path) == m_original.value(store)) << "an old store that is not byte for byte as it was";
            } else {
                EXPECT_EQ(version, QStringLiteral("2"));
                ++migrated;
                EXPECT_EQ(migrationtest::tableRowCounts(path).toStdString(), m_rows.value(store).toStdString());
                EXPECT_TRUE(store.contains(QLatin1String("Auxiliary")) ? migrationtest::hasColumn(path, QStringLiteral("Doc"), QStringLiteral("testLabel__ci"))
                                                                        : migrationtest::hasColumn(path, QStringLiteral("Account"), QStringLiteral("testNote")));
            }
            migrationtest::expectSound(path);
        }
        return migrated;
    }

    // Store files that are neither the user's stores with their logs nor a
    // whole dated copy of the master store, one a line.
    std::string leftovers(const QString &root) const
    {
        QStringList found;
        const QString master = QDir(root).relativeFilePath(dataPath(root));
        for (QDirIterator it(QDir(root).filePath(QStringLiteral("data")), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
            const QString path = it.next();
            const QString name = QDir(root).relativeFilePath(path);
            if (!name.contains(QLatin1String(".sqlite3")))
                continue;
            QString base = name;
            for (const QString &suffix : {QStringLiteral("-wal"), QStringLiteral("-shm")})
                if (base.endsWith(suffix))
                    base.chop(suffix.size());
            if (m_stores.contains(base))
                continue;
            const bool datedCopy = QFileInfo(name).fileName().startsWith(QLatin1String("TidewellData_backup_")) && name.endsWith(QLatin1String(".sqlite3"));
            if (datedCopy && dotest::sqlite(path, QStringLiteral("PRAGMA integrity_check")) == QStringLiteral("ok")
                && migrationtest::tableRowCounts(path) == m_rows.value(master))
                continue;
            found.append(name);
        }
        return found.join(QLatin1Char('\n')).toStdString();
    }

    QString m_template;
    QStringList m_stores;
    QHash<QString, QByteArray> m_original;
    QHash<QString, QString> m_rows;
};

TEST_F(TDWUpgradeKill, AKillAtEveryDurableWriteLeavesEachStoreWholeAndTheNextStartCarriesOn)
{
    makeTemplate();
    if (HasFailure())
        return;
    for (const QString &steps : {QStringLiteral("in place"), QStringLiteral("on copies")}) {
        SCOPED_TRACE(steps.toStdString());
        const QString reference = freshRoot();
        const ChildRun whole = runChild(reference, steps, 0);
        ASSERT_FALSE(whole.killed);
        ASSERT_TRUE(whole.started);
        EXPECT_EQ(expectEachStoreWhole(reference), m_stores.size());
        EXPECT_EQ(leftovers(reference), "");
        ASSERT_GT(whole.writes, 0);

        for (int n = 1; n <= whole.writes; ++n) {
            SCOPED_TRACE(testing::Message() << "killed at write " << n << " of " << whole.writes);
            const QString root = freshRoot();
            EXPECT_TRUE(runChild(root, steps, n).killed);
            expectEachStoreWhole(root);
            const ChildRun next = runChild(root, steps, 0);
            EXPECT_FALSE(next.killed);
            EXPECT_TRUE(next.started);
            EXPECT_EQ(expectEachStoreWhole(root), m_stores.size());
            EXPECT_EQ(leftovers(root), "");
        }
    }
}

TEST_F(TDWUpgradeKill, AFailedUpgradeStopsWithTheAlertAndLeavesNoFilesOfItsOwn)
{
    makeTemplate();
    if (HasFailure())
        return;
    for (const QString &steps : {QStringLiteral("failing in place"), QStringLiteral("failing on copies")}) {
        SCOPED_TRACE(steps.toStdString());
        const QString root = freshRoot();
        const ChildRun failed = runChild(root, steps, 0);
        EXPECT_FALSE(failed.killed);
        EXPECT_FALSE(failed.started);
        EXPECT_EQ(failed.alerts, 1);
        // The master store goes first and is whole at the new layout; the failing store is as it was.
        EXPECT_EQ(expectEachStoreWhole(root), 1);
        EXPECT_EQ(leftovers(root), "");

        // A release whose step works carries on from there.
        const ChildRun next = runChild(root, QStringLiteral("in place"), 0);
        EXPECT_TRUE(next.started);
        EXPECT_EQ(expectEachStoreWhole(root), m_stores.size());
        EXPECT_EQ(leftovers(root), "");
    }
}

} // namespace
