#include "DataObjectsTestSupport.h"

#include "TestSupport.h"
#include "common/TDWFileMgr.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWCalendarEventModel.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWMetadataModel.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

// A data folder of its own under a fresh XDG_DATA_HOME that does not exist yet.
class TDWMasterStoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QDir(tdwtest::freshDir(QStringLiteral("home"))).filePath(QStringLiteral("share")).toUtf8());
        TDWFileMgr::reset();
        TDWMasterStore::shared().setPersistentStoreCoordinator(nullptr);
    }

    void TearDown() override
    {
        TDWMasterStore::shared().setPersistentStoreCoordinator(nullptr);
        TDWFileMgr::reset();
        qputenv("XDG_DATA_HOME", m_dataHome);
    }

private:
    QByteArray m_dataHome;
};

TEST_F(TDWMasterStoreTest, FirstLaunchCreatesTheFolderAndAnEmptyMasterStore)
{
    TDWMasterStore &master = TDWMasterStore::shared();
    EXPECT_FALSE(master.newMoc());
    EXPECT_FALSE(QFile::exists(TDWMasterStore::applicationSupportFolder()));

    const auto coordinator = master.persistentStoreCoordinatorMigrating(false);
    ASSERT_TRUE(coordinator);
    const QString file = QDir(TDWMasterStore::applicationSupportFolder()).filePath(QStringLiteral("TidewellData.sqlite3"));
    EXPECT_EQ(TDWFileMgr::dataFilePath(), file);
    EXPECT_EQ(dotest::sqlite(file, QStringLiteral("SELECT value FROM tdw_metadata WHERE key = 'configuration'")), QStringLiteral("master"));
    EXPECT_EQ(dotest::sqlite(file, QStringLiteral("SELECT count(*) FROM Account")), QStringLiteral("0"));
    // No account-and-service tables in the master file.
    EXPECT_EQ(dotest::sqlite(file, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = 'DocRev'")), QStringLiteral("0"));

    master.setPersistentStoreCoordinator(coordinator);
    auto moc = master.newMoc();
    ASSERT_TRUE(moc);
    ASSERT_TRUE(TDWAccount::addAccountWithUsername(QStringLiteral("a@example.com"), {}, 1, {}, false, *moc));
    const auto account = TDWAccount::byUsername(QStringLiteral("a@example.com"), *moc, nullptr);
    EXPECT_EQ(master.objectIdForUrl(account->objectID().uriRepresentation()), account->objectID());
    EXPECT_TRUE(master.objectIdForUrl(QUrl(QStringLiteral("x-tidewell://0000/Account/p1"))).isNull());
}

TEST_F(TDWMasterStoreTest, AStoreOfAnotherModelVersionIsRefusedWithDetailLinesOnly)
{
    {
        auto older = std::make_shared<TDWManagedObjectModel>(QStringLiteral("v11"));
        older->addEntity(QStringLiteral("Account"), {QStringLiteral("master")}).addAttribute(QStringLiteral("username"), TDWAttributeType::String);
        ASSERT_TRUE(older->finalize(nullptr));
        QDir().mkpath(TDWMasterStore::applicationSupportFolder());
        TDWPersistentStoreCoordinator coordinator(older);
        ASSERT_TRUE(coordinator.addPersistentStore(QStringLiteral("master"), TDWFileMgr::dataFilePath(), {}, nullptr));
    }
    tdwtest::LogCapture log;
    EXPECT_FALSE(TDWMasterStore::shared().persistentStoreCoordinatorMigrating(false));
    ASSERT_FALSE(log.lines().isEmpty());
    for (const QString &line : log.lines())
        EXPECT_TRUE(line.startsWith(QStringLiteral("detail: "))) << line.toStdString();
    // The old file is left for the store migration.
    EXPECT_EQ(dotest::sqlite(TDWFileMgr::dataFilePath(), QStringLiteral("SELECT value FROM tdw_metadata WHERE key = 'modelVersion'")),
              QStringLiteral("v11"));
}

// Users' stores hold the layouts below. A change of a model's stored layout
// must come with a layout step from the recorded one (its hash declared among
// the earlier layouts), or those stores could no longer be opened: then this
// table is updated with the new hash and number.
TEST(TDWModelLayouts, CurrentLayoutsAreTheRecordedOnes)
{
    struct Recorded
    {
        std::shared_ptr<const TDWManagedObjectModel> model;
        QString configuration;
        int layoutVersion;
        QString versionHash;
    };
    const Recorded layouts[] = {
        {TDWMetadataModel::model(), TDWMetadataModel::MasterConfiguration, 1, QStringLiteral("f6abd1357abea7d437c2261213af41edf5f99afc61506f6b3a5bfb63dc0f8f9e")},
        {TDWMetadataModel::model(), TDWMetadataModel::AccountServiceConfiguration, 1, QStringLiteral("c9b3bad2e037cc750358bb2aca80a3e9feceaff730cb36e9472b0a36778e6869")},
        {TDWCalendarEventModel::model(), TDWCalendarEventModel::Configuration, 1, QStringLiteral("58f4148dd65813c9b5517f307a90054bd991874eefb824d0b3b6daf8cc17939d")},
    };
    for (const Recorded &layout : layouts) {
        SCOPED_TRACE(layout.configuration.toStdString());
        EXPECT_EQ(layout.model->layoutVersion(layout.configuration), layout.layoutVersion);
        EXPECT_EQ(layout.model->versionHash(layout.configuration).toStdString(), layout.versionHash.toStdString());
    }
}

} // namespace
