#include "platform/foundation/TDWFileLock.h"
#include "platform/foundation/TDWFileLockError.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

mode_t modeOf(const QString &path)
{
    struct stat info;
    EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &info), 0);
    return info.st_mode & 07777;
}

QString makeFile(const QString &dir, const char *name, mode_t mode)
{
    const QString path = QDir(dir).filePath(QString::fromLatin1(name));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
    return path;
}

TEST(TDWFileLock, LockingClearsEveryWriteBitAndUnlockingGivesTheOwnerOneBack)
{
    const QString dir = tdwtest::freshDir(QStringLiteral("lock"));
    struct Case
    {
        mode_t initial;
        mode_t locked;
        mode_t unlocked;
    };
    const QList<Case> cases = {{0666, 0444, 0644}, {0640, 0440, 0640}, {0755, 0555, 0755}, {0400, 0400, 0600}, {04755, 04555, 04755}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.initial);
        const QString path = makeFile(dir, "file", c.initial);
        EXPECT_TRUE(TDWFileLock::setLocked(path, true));
        EXPECT_EQ(modeOf(path), c.locked);
        EXPECT_TRUE(TDWFileLock::setLocked(path, false));
        EXPECT_EQ(modeOf(path), c.unlocked);
        QFile::remove(path);
    }
}

TEST(TDWFileLock, LinksFoldersAndMissingPathsAreRefusedAndLeftAlone)
{
    const QString dir = tdwtest::freshDir(QStringLiteral("lock"));
    const QString target = makeFile(dir, "target", 0644);
    const QString link = QDir(dir).filePath(QStringLiteral("link"));
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()), 0);
    const QString folder = QDir(dir).filePath(QStringLiteral("folder"));
    ASSERT_TRUE(QDir().mkdir(folder));
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0755), 0);

    TDWError error;
    EXPECT_FALSE(TDWFileLock::setLocked(link, true, &error));
    EXPECT_EQ(error.domain(), TDWFileLockError::Domain);
    EXPECT_EQ(error.code(), EOPNOTSUPP);
    EXPECT_EQ(modeOf(target), 0644u);
    EXPECT_FALSE(TDWFileLock::setLocked(folder, true, &error));
    EXPECT_EQ(modeOf(folder), 0755u);
    EXPECT_FALSE(TDWFileLock::setLocked(QDir(dir).filePath(QStringLiteral("absent")), true, &error));
    EXPECT_EQ(error.code(), ENOENT);
}

} // namespace
