#include "agent/TDWDocDirRenameHandler.h"

#include "BackupFolderFixture.h"
#include "ImmutableFlag.h"
#include "TestSupport.h"

#include "common/TDWFileUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct RenameCase
{
    const char *name;
    QString folder;        // the item folder's name before
    QString oldTitle;      // of the first revision
    QString newTitle;      // of the second, the one considered
    QStringList taken;     // folders already in the account folder
    QStringList takenFiles; // plain files already in the account folder
    QString expected;      // the item folder's name after
};

void PrintTo(const RenameCase &c, std::ostream *out)
{
    *out << c.name;
}

class TDWDocDirRenameHandlerTest : public BackupFolderFixture
{
protected:
    QString accountPath() const { return onDisk(accountDir()); }
    QString itemDir(const QString &folder) const { return accountDir() + QLatin1Char('/') + folder; }

    // The stored paths of an item in folder `folder` whose two revisions are
    // named after the titles.
    StoredPaths expectedPaths(const QString &folder, const QString &firstTitle, const QString &secondTitle) const
    {
        const QString dir = itemDir(folder);
        return {dir,
                {dir + QStringLiteral("/1"), dir + QStringLiteral("/2")},
                {dir + QStringLiteral("/1/") + TDWFileUtils::generateFilenameFromString(firstTitle),
                 dir + QStringLiteral("/2/") + TDWFileUtils::generateFilenameFromString(secondTitle)}};
    }

    void expectPaths(const StoredPaths &actual, const StoredPaths &expected)
    {
        EXPECT_EQ(actual.docDirPath, expected.docDirPath);
        EXPECT_EQ(actual.revDirPaths, expected.revDirPaths);
        EXPECT_EQ(actual.revFilePaths, expected.revFilePaths);
        for (const QString &file : expected.revFilePaths)
            EXPECT_TRUE(QFileInfo(onDisk(file)).isFile()) << file.toStdString();
    }
};

class TDWDocDirRenameCollisionTest : public TDWDocDirRenameHandlerTest, public ::testing::WithParamInterface<RenameCase>
{
};

TEST_P(TDWDocDirRenameCollisionTest, TheFolderFollowsTheTitleToAFreeName)
{
    const RenameCase &c = GetParam();
    for (const QString &taken : c.taken)
        ASSERT_TRUE(QDir().mkpath(QDir(accountPath()).filePath(taken)));
    for (const QString &takenFile : c.takenFiles) {
        QFile file(QDir(accountPath()).filePath(takenFile));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const QList<TDWDocRev::Ptr> revs = addItem(QStringLiteral("doc1"), c.folder, {{c.oldTitle}, {c.newTitle}});

    TDWDocDirRenameHandler::considerDocDirRenameForDocRevId(revs.last()->objectID());

    expectPaths(storedPaths(QStringLiteral("doc1")), expectedPaths(c.expected, c.oldTitle, c.newTitle));
    if (c.expected != c.folder) {
        EXPECT_FALSE(QFileInfo::exists(onDisk(itemDir(c.folder))));
    }
    for (const QString &taken : c.taken)
        EXPECT_TRUE(TDWFileUtils::emptyDir(QDir(accountPath()).filePath(taken))) << taken.toStdString();
    for (const QString &takenFile : c.takenFiles)
        EXPECT_TRUE(QFileInfo(QDir(accountPath()).filePath(takenFile)).isFile()) << takenFile.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Renames, TDWDocDirRenameCollisionTest,
    ::testing::Values(RenameCase{"based_on_the_title", QStringLiteral("Plan"), QStringLiteral("Plan.pdf"), QStringLiteral("Plan.pdf"), {}, {},
                                 QStringLiteral("Plan")},
                      RenameCase{"numbered_and_based_on_the_title", QStringLiteral("Plan-2"), QStringLiteral("Plan.pdf"), QStringLiteral("Plan.pdf"),
                                 {}, {}, QStringLiteral("Plan-2")},
                      RenameCase{"numbered_zero_is_not_based", QStringLiteral("Plan-0"), QStringLiteral("Plan.pdf"), QStringLiteral("Plan.pdf"), {},
                                 {}, QStringLiteral("Plan")},
                      RenameCase{"new_title", QStringLiteral("Plan"), QStringLiteral("Plan.pdf"), QStringLiteral("Budget"), {}, {},
                                 QStringLiteral("Budget")},
                      RenameCase{"new_title_taken_by_an_empty_folder", QStringLiteral("Plan"), QStringLiteral("Plan.pdf"), QStringLiteral("Budget"),
                                 {QStringLiteral("Budget")}, {}, QStringLiteral("Budget-1")},
                      RenameCase{"new_title_taken_by_folders_and_a_file", QStringLiteral("Plan"), QStringLiteral("Plan.pdf"),
                                 QStringLiteral("Budget.xls"), {QStringLiteral("Budget"), QStringLiteral("Budget-2")}, {QStringLiteral("Budget-1")},
                                 QStringLiteral("Budget-3")},
                      RenameCase{"title_without_an_allowed_character", QStringLiteral("Plan"), QStringLiteral("Plan.pdf"), QStringLiteral("///"), {},
                                 {}, QStringLiteral("blank")}),
    [](const ::testing::TestParamInfo<RenameCase> &info) { return std::string(info.param.name); });

TEST_F(TDWDocDirRenameHandlerTest, AFolderMissingOnDiskKeepsTheStoredPaths)
{
    const QList<TDWDocRev::Ptr> revs = addItem(QStringLiteral("doc1"), QStringLiteral("Plan"), {{QStringLiteral("Plan.pdf")}, {QStringLiteral("Budget")}});
    ASSERT_TRUE(QDir(onDisk(itemDir(QStringLiteral("Plan")))).removeRecursively());
    tdwtest::LogCapture log;

    TDWDocDirRenameHandler::considerDocDirRenameForDocRevId(revs.last()->objectID());

    const StoredPaths stored = storedPaths(QStringLiteral("doc1"));
    EXPECT_EQ(stored.docDirPath, itemDir(QStringLiteral("Plan")));
    EXPECT_EQ(stored.revFilePaths, expectedPaths(QStringLiteral("Plan"), QStringLiteral("Plan.pdf"), QStringLiteral("Budget")).revFilePaths);
    EXPECT_FALSE(QFileInfo::exists(onDisk(itemDir(QStringLiteral("Budget")))));
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to move “%1” to “%2”.  Aborting rename.  Error: ")
                                 .arg(onDisk(itemDir(QStringLiteral("Plan"))), onDisk(itemDir(QStringLiteral("Budget"))))));
}

TEST_F(TDWDocDirRenameHandlerTest, AFailedMoveLeavesFolderAndStoreAsTheyWere)
{
    const QList<TDWDocRev::Ptr> revs = addItem(QStringLiteral("doc1"), QStringLiteral("Plan"), {{QStringLiteral("Plan.pdf")}, {QStringLiteral("Budget")}});
    if (!setImmutable(accountPath(), true))
        GTEST_SKIP() << "this user or file system cannot make a folder immutable";
    tdwtest::LogCapture log;

    TDWDocDirRenameHandler::considerDocDirRenameForDocRevId(revs.last()->objectID());
    setImmutable(accountPath(), false);

    expectPaths(storedPaths(QStringLiteral("doc1")), expectedPaths(QStringLiteral("Plan"), QStringLiteral("Plan.pdf"), QStringLiteral("Budget")));
    EXPECT_FALSE(QFileInfo::exists(onDisk(itemDir(QStringLiteral("Budget")))));
    EXPECT_TRUE(log.contains(QStringLiteral("Aborting rename.")));
}

TEST_F(TDWDocDirRenameHandlerTest, AFailedSaveMovesTheFolderBack)
{
    const QList<TDWDocRev::Ptr> revs = addItem(QStringLiteral("doc1"), QStringLiteral("Plan"), {{QStringLiteral("Plan.pdf")}, {QStringLiteral("Budget")}});
    refuseRevisionUpdates();
    tdwtest::LogCapture log;

    TDWDocDirRenameHandler::considerDocDirRenameForDocRevId(revs.last()->objectID());

    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to save after document directory rename: ")));
    // Every revision's stored path still leads to its file.
    expectPaths(storedPaths(QStringLiteral("doc1")), expectedPaths(QStringLiteral("Plan"), QStringLiteral("Plan.pdf"), QStringLiteral("Budget")));
    EXPECT_FALSE(QFileInfo::exists(onDisk(itemDir(QStringLiteral("Budget")))));
}

TEST_F(TDWDocDirRenameHandlerTest, FoldersMadeMeanwhileUnderTheNewNameAreNeverTakenOver)
{
    constexpr int Makers = 4;
    constexpr int FoldersEach = 25;
    const QList<TDWDocRev::Ptr> revs = addItem(QStringLiteral("doc1"), QStringLiteral("Plan"), {{QStringLiteral("Plan.pdf")}, {QStringLiteral("Budget")}});
    const QString parent = accountPath();

    // Other items' folders appear under the same name while the rename runs;
    // each must stay the empty folder its maker made.
    std::vector<QStringList> made(Makers);
    std::vector<std::thread> makers;
    for (int i = 0; i < Makers; ++i) {
        makers.emplace_back([&made, &parent, i] {
            for (int n = 0; n < FoldersEach; ++n)
                made[size_t(i)].append(TDWFileUtils::createDirectoryIn(parent, QStringLiteral("Budget")));
        });
    }
    TDWDocDirRenameHandler::considerDocDirRenameForDocRevId(revs.last()->objectID());
    for (std::thread &maker : makers)
        maker.join();

    const StoredPaths stored = storedPaths(QStringLiteral("doc1"));
    const QString renamed = stored.docDirPath.section(QLatin1Char('/'), -1);
    EXPECT_TRUE(TDWFileUtils::dirName(renamed, QStringLiteral("Budget"))) << renamed.toStdString();
    expectPaths(stored, expectedPaths(renamed, QStringLiteral("Plan.pdf"), QStringLiteral("Budget")));
    QSet<QString> distinct;
    for (const QStringList &folders : made) {
        for (const QString &folder : folders) {
            EXPECT_TRUE(TDWFileUtils::emptyDir(folder)) << folder.toStdString();
            distinct.insert(folder);
        }
    }
    EXPECT_EQ(distinct.size(), Makers * FoldersEach);
    EXPECT_FALSE(distinct.contains(onDisk(stored.docDirPath)));
}

} // namespace
