#include "platform/foundation/TDWPrivateFiles.h"

#include "platform/foundation/TDWSafeFile.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

mode_t modeOf(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

void putFile(const QString &path, mode_t mode)
{
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    ASSERT_TRUE(TDWSafeFile::write(path, "x", nullptr));
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

void setMode(const QString &path, mode_t mode)
{
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

class TDWPrivateFilesTest : public ::testing::Test
{
protected:
    // A umask that would leave everything readable by all, as many users have.
    void SetUp() override { m_savedUmask = ::umask(022); }
    void TearDown() override { ::umask(m_savedUmask); }

private:
    mode_t m_savedUmask = 0;
};

// New folders are private whatever the umask; folders already on the way
// are not ours to change.
TEST_F(TDWPrivateFilesTest, MakeFolderGivesOnlyTheFoldersItMakesTheirMode)
{
    const QString dir = tdwtest::freshDir();
    setMode(dir, 0755);
    const QString path = QDir(dir).filePath(QStringLiteral("a/b/c"));

    ASSERT_TRUE(TDWPrivateFiles::makeFolder(path));
    EXPECT_EQ(modeOf(dir), mode_t(0755));
    for (const QString &made : {QStringLiteral("a"), QStringLiteral("a/b"), QStringLiteral("a/b/c")})
        EXPECT_EQ(modeOf(QDir(dir).filePath(made)), mode_t(TDWPrivateFiles::FolderMode)) << qPrintable(made);
    EXPECT_TRUE(TDWPrivateFiles::makeFolder(path)); // already there

    const QString file = QDir(dir).filePath(QStringLiteral("file"));
    putFile(file, 0644);
    EXPECT_FALSE(TDWPrivateFiles::makeFolder(file));
    EXPECT_FALSE(TDWPrivateFiles::makeFolder(QDir(file).filePath(QStringLiteral("below"))));
}

// The walk that makes an earlier backup private takes group and other bits
// from everything inside, keeps the owner's (a locked file stays locked), and
// never follows a link out: what lies elsewhere keeps its mode.
TEST_F(TDWPrivateFilesTest, MakePrivateNarrowsEverythingInsideAndNothingElsewhere)
{
    const QString outside = tdwtest::freshDir(QStringLiteral("outside"));
    setMode(outside, 0755);
    const QString sentinel = QDir(outside).filePath(QStringLiteral("sentinel.txt"));
    putFile(sentinel, 0644);

    const QString root = tdwtest::freshDir(QStringLiteral("backup"));
    const struct
    {
        const char *path;
        mode_t before;
        mode_t after;
    } rows[] = {
        {"Mail/acct/1.eml", 0644, 0600},
        {"Mail/acct/2.eml", 0444, 0400}, // locked
        {"Mail/acct/.hidden", 0666, 0600},
        {"Mail/acct/own.txt", 0600, 0600},
        {"Google Drive/acct/Plan/1/Plan.pdf", 0640, 0600},
    };
    for (const auto &row : rows)
        putFile(QDir(root).filePath(QString::fromLatin1(row.path)), row.before);
    for (const QString &folder : {QStringLiteral("Mail"), QStringLiteral("Mail/acct"), QStringLiteral("Google Drive/acct/Plan")})
        setMode(QDir(root).filePath(folder), 0755);
    setMode(root, 0755);
    ASSERT_TRUE(QFile::link(outside, QDir(root).filePath(QStringLiteral("Mail/linked folder"))));
    ASSERT_TRUE(QFile::link(sentinel, QDir(root).filePath(QStringLiteral("linked file"))));

    EXPECT_EQ(TDWPrivateFiles::makePrivate(root), 0);

    for (const auto &row : rows)
        EXPECT_EQ(modeOf(QDir(root).filePath(QString::fromLatin1(row.path))), row.after) << row.path;
    for (const QString &folder : {QString(), QStringLiteral("Mail"), QStringLiteral("Mail/acct"), QStringLiteral("Google Drive/acct/Plan")})
        EXPECT_EQ(modeOf(QDir(root).filePath(folder)), mode_t(0700)) << qPrintable(folder);
    EXPECT_TRUE(QFileInfo(QDir(root).filePath(QStringLiteral("linked file"))).isSymLink());
    EXPECT_EQ(modeOf(outside), mode_t(0755));
    EXPECT_EQ(modeOf(sentinel), mode_t(0644));
    EXPECT_EQ(TDWPrivateFiles::makePrivate(QDir(root).filePath(QStringLiteral("missing"))), 0);
}

// A chosen backup folder that is itself a link is followed: the user chose it.
TEST_F(TDWPrivateFilesTest, MakePrivateFollowsARootThatIsALink)
{
    const QString real = tdwtest::freshDir(QStringLiteral("real"));
    setMode(real, 0755);
    putFile(QDir(real).filePath(QStringLiteral("a/1.eml")), 0644);
    const QString link = QDir(tdwtest::freshDir()).filePath(QStringLiteral("chosen"));
    ASSERT_TRUE(QFile::link(real, link));

    EXPECT_EQ(TDWPrivateFiles::makePrivate(link), 0);
    EXPECT_EQ(modeOf(real), mode_t(0700));
    EXPECT_EQ(modeOf(QDir(real).filePath(QStringLiteral("a/1.eml"))), mode_t(0600));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
}

} // namespace
