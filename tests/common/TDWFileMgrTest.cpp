#include "common/TDWFileMgr.h"

#include "common/TDWServiceTable.h"
#include "platform/foundation/TDWUserDefaults.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

namespace {

QString xdg(const char *name)
{
    return QDir::cleanPath(qEnvironmentVariable(name));
}

class TDWFileMgrTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_cacheHome = qgetenv("XDG_CACHE_HOME");
        TDWFileMgr::reset();
        m_fatal.clear();
        TDWFileMgr::setFatalHandler([this](const TDWError &error) {
            std::lock_guard lock(m_mutex);
            m_fatal << error.localizedDescription();
        });
        TDWUserDefaults::standard()->removeObjectForKey(QStringLiteral("altbackuploc"));
    }

    void TearDown() override
    {
        qputenv("XDG_CACHE_HOME", m_cacheHome);
        TDWFileMgr::setFatalHandler({});
        TDWFileMgr::reset();
        TDWUserDefaults::standard()->removeObjectForKey(QStringLiteral("altbackuploc"));
    }

    QStringList fatal() const
    {
        std::lock_guard lock(m_mutex);
        return m_fatal;
    }

private:
    QByteArray m_cacheHome;
    mutable std::mutex m_mutex;
    QStringList m_fatal;
};

} // namespace

TEST_F(TDWFileMgrTest, LayoutLiesInTheXdgFoldersAndFollowsTheServiceTable)
{
    // These two never set the layout up themselves.
    EXPECT_TRUE(TDWFileMgr::appSupportDir().isEmpty());
    EXPECT_TRUE(TDWFileMgr::defaultBackupLocation().isEmpty());

    const QDir data(xdg("XDG_DATA_HOME") + QStringLiteral("/Tidewell"));
    EXPECT_EQ(TDWFileMgr::dataFilePath(), data.filePath(QStringLiteral("TidewellData.sqlite3")));
    EXPECT_TRUE(QFileInfo(data.path()).isDir());
    EXPECT_EQ(TDWFileMgr::appSupportDir(), data.path());
    EXPECT_EQ(TDWFileMgr::tempPath(), xdg("XDG_CACHE_HOME") + QStringLiteral("/Tidewell"));
    EXPECT_TRUE(QFileInfo(TDWFileMgr::tempPath()).isDir());
    EXPECT_EQ(TDWFileMgr::altLocBookmarkFileLocation(), data.filePath(QStringLiteral("backuplocation.bookmarkfile")));
    EXPECT_EQ(TDWFileMgr::auxiliaryStoresDir(), data.filePath(QStringLiteral("Auxiliary Stores")));
    EXPECT_TRUE(QFileInfo(TDWFileMgr::auxiliaryStoresDir()).isDir());

    const QString backups = data.filePath(QStringLiteral("backups"));
    EXPECT_EQ(TDWFileMgr::defaultBackupLocation(), backups);
    EXPECT_EQ(TDWFileMgr::backedUpItemsPath(), backups);

    const QList<TDWServiceConfig> services = TDWServiceTable::shared().serviceConfigs();
    ASSERT_EQ(services.size(), 7);
    for (const TDWServiceConfig &service : services) {
        SCOPED_TRACE(service.id.toStdString());
        const QString listPath = TDWFileMgr::itemListXmlPathForService(service.id);
        const QString itemPath = TDWFileMgr::backedUpItemsPathForService(service.id);
        EXPECT_EQ(listPath, data.filePath(service.listDir));
        EXPECT_EQ(itemPath, QDir(backups).filePath(service.itemDir));
        // Their users create these folders, not the layout.
        EXPECT_FALSE(QFileInfo::exists(listPath));
        EXPECT_FALSE(QFileInfo::exists(itemPath));
    }
    EXPECT_EQ(TDWFileMgr::backedUpItemsPathForService(QStringLiteral("docs")), QDir(backups).filePath(QStringLiteral("Google Drive")));
    EXPECT_TRUE(TDWFileMgr::itemListXmlPathForService(QStringLiteral("orkut")).isEmpty());
    EXPECT_TRUE(TDWFileMgr::backedUpItemsPathForService(QStringLiteral("orkut")).isEmpty());
    EXPECT_TRUE(fatal().isEmpty());
}

TEST_F(TDWFileMgrTest, ChosenBackupFolderIsReadOnEveryRequest)
{
    const QString chosen = tdwtest::freshDir(QStringLiteral("chosen"));
    TDWFileMgr::initAltDataDir(tdwtest::freshDir(QStringLiteral("data")));
    const QString itemDir = TDWServiceTable::shared().serviceConfig(QStringLiteral("contacts")).itemDir;

    TDWUserDefaults::standard()->setString(chosen, QStringLiteral("altbackuploc"));
    EXPECT_EQ(TDWFileMgr::backedUpItemsPath(), chosen);
    EXPECT_EQ(TDWFileMgr::backedUpItemsPathForService(QStringLiteral("contacts")), QDir(chosen).filePath(itemDir));

    TDWUserDefaults::standard()->removeObjectForKey(QStringLiteral("altbackuploc"));
    EXPECT_EQ(TDWFileMgr::backedUpItemsPath(), TDWFileMgr::defaultBackupLocation());
}

TEST_F(TDWFileMgrTest, ConcurrentFirstRequestsAgreeOnOneLayout)
{
    tdwtest::LogCapture log;
    std::vector<QString> seen(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&, i] {
            // Different first requests, all of which set the layout up.
            if (i % 3 == 0)
                TDWFileMgr::tempPath();
            else if (i % 3 == 1)
                TDWFileMgr::itemListXmlPathForService(QStringLiteral("mail"));
            seen[i] = TDWFileMgr::dataFilePath();
        });
    }
    for (std::thread &t : threads)
        t.join();
    for (const QString &path : seen)
        EXPECT_EQ(path, seen.front());
    EXPECT_FALSE(seen.front().isEmpty());
    EXPECT_FALSE(log.contains(QStringLiteral("ERROR")));
    EXPECT_TRUE(fatal().isEmpty());
}

TEST_F(TDWFileMgrTest, FoldersThatCannotBeMadeAreFatalButPathsStayAbsolute)
{
    const QString root = tdwtest::freshDir();
    const QString file = QDir(root).filePath(QStringLiteral("a-file"));
    QFile(file).open(QIODevice::WriteOnly);
    const QString cacheWithFile = tdwtest::freshDir(QStringLiteral("cache"));
    QFile(QDir(cacheWithFile).filePath(QStringLiteral("Tidewell"))).open(QIODevice::WriteOnly);

    struct Row
    {
        const char *what;
        QString dataDir;
        QString cacheHome; // empty: the sandbox's
        QString fatalText;
        QString logLine;
    };
    const Row rows[] = {
        {"data directory is a file", file, {}, QStringLiteral("Application Support Dir is a file"), QStringLiteral("ERROR: Application Support Dir is a file")},
        {"data directory's parent missing", QDir(root).filePath(QStringLiteral("missing/Tidewell")), {}, QStringLiteral("unable to create the folder"),
         QStringLiteral("ERROR: calling terminate because createDir failed")},
        {"temporary folder is a file", QDir(root).filePath(QStringLiteral("fine")), cacheWithFile, QStringLiteral("Tmp dir is a file"), QStringLiteral("ERROR: Tmp dir is a file")},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        TearDown();
        SetUp();
        if (!row.cacheHome.isEmpty())
            qputenv("XDG_CACHE_HOME", QFile::encodeName(row.cacheHome));
        tdwtest::LogCapture log;

        EXPECT_FALSE(TDWFileMgr::setDataDir(row.dataDir));
        ASSERT_EQ(fatal().size(), 1);
        EXPECT_TRUE(fatal().front().contains(row.fatalText)) << fatal().front().toStdString();
        EXPECT_TRUE(log.contains(row.logLine));
        // The program is ending; until it has, paths must not fall back to the working directory.
        EXPECT_EQ(TDWFileMgr::appSupportDir(), row.dataDir);
        EXPECT_TRUE(QDir::isAbsolutePath(TDWFileMgr::defaultBackupLocation()));
    }
}

TEST_F(TDWFileMgrTest, AuxiliaryStoresPathIsAnsweredEvenWhenItCannotBeMade)
{
    const QString file = QDir(tdwtest::freshDir()).filePath(QStringLiteral("a-file"));
    QFile(file).open(QIODevice::WriteOnly);
    TDWFileMgr::initAltDataDir(file);
    EXPECT_EQ(TDWFileMgr::auxiliaryStoresDir(), QDir(file).filePath(QStringLiteral("Auxiliary Stores")));
    EXPECT_FALSE(QFileInfo::exists(TDWFileMgr::auxiliaryStoresDir()));
}
