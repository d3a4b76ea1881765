#include "agent/TDWLockUnlockAllBackupFilesOperation.h"

#include "platform/foundation/TDWUserDefaults.h"

#include "ImmutableFlag.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

mode_t modeOf(const QString &path)
{
    struct stat info;
    EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &info), 0) << path.toStdString();
    return info.st_mode & 07777;
}

void makeFile(const QString &path, mode_t mode)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("x");
    file.close();
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

void makeLink(const QString &target, const QString &link)
{
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()), 0);
}

class TDWLockUnlockAllBackupFilesOperationTest : public ::testing::Test
{
protected:
    void SetUp() override { m_root = tdwtest::freshDir(QStringLiteral("backups")); }

    QString at(const QString &relative) const { return QDir(m_root).filePath(relative); }

    QString m_root;
};

TEST_F(TDWLockUnlockAllBackupFilesOperationTest, LockAndUnlockReachEveryFileAtEveryDepthAndLeaveFoldersAlone)
{
    struct Case
    {
        QString path;
        mode_t initial;
        mode_t locked;
        mode_t unlocked; // only the owner's write bit comes back
    };
    const QList<Case> cases = {
        {QStringLiteral("top.txt"), 0664, 0444, 0644},
        {QStringLiteral("Docs/a/Plan/1/Plan.pdf"), 0644, 0444, 0644},
        {QStringLiteral("Docs/a/Plan/2/.hidden"), 0666, 0444, 0644},
        {QStringLiteral("Docs/a/Budget/1/Budget.xls"), 0400, 0400, 0600},
        {QStringLiteral("Contacts/b/Ann/1/Ann.vcf"), 0755, 0555, 0755},
    };
    for (const Case &c : cases)
        makeFile(at(c.path), c.initial);
    ASSERT_EQ(::chmod(QFile::encodeName(at(QStringLiteral("Docs/a"))).constData(), 0750), 0);

    EXPECT_EQ(TDWLockUnlockAllBackupFilesOperation::lock(true, m_root), 0);
    for (const Case &c : cases)
        EXPECT_EQ(modeOf(at(c.path)), c.locked) << c.path.toStdString();
    EXPECT_EQ(modeOf(at(QStringLiteral("Docs/a"))), 0750u);
    EXPECT_EQ(modeOf(at(QStringLiteral("Docs/a/Plan/1"))) & S_IWUSR, mode_t(S_IWUSR));

    EXPECT_EQ(TDWLockUnlockAllBackupFilesOperation::lock(false, m_root), 0);
    for (const Case &c : cases)
        EXPECT_EQ(modeOf(at(c.path)), c.unlocked) << c.path.toStdString();
    EXPECT_EQ(modeOf(at(QStringLiteral("Docs/a"))), 0750u);
}

TEST_F(TDWLockUnlockAllBackupFilesOperationTest, LinksAndWhatTheyPointAtAreLeftAlone)
{
    const QString elsewhere = tdwtest::freshDir(QStringLiteral("elsewhere"));
    const QString outsideFile = QDir(elsewhere).filePath(QStringLiteral("notes.txt"));
    const QString outsideNested = QDir(elsewhere).filePath(QStringLiteral("deep/inner.txt"));
    makeFile(outsideFile, 0644);
    makeFile(outsideNested, 0644);
    makeFile(at(QStringLiteral("Docs/a/Plan/1/Plan.pdf")), 0644);
    makeLink(outsideFile, at(QStringLiteral("Docs/a/Plan/1/link-to-file")));
    makeLink(elsewhere, at(QStringLiteral("Docs/a/link-to-folder")));
    // A folder link back to an ancestor: a walk that followed it would never end.
    makeLink(at(QStringLiteral("Docs")), at(QStringLiteral("Docs/a/Plan/loop")));
    makeLink(at(QStringLiteral("nowhere")), at(QStringLiteral("Docs/dangling")));

    EXPECT_EQ(TDWLockUnlockAllBackupFilesOperation::lock(true, m_root), 0);
    EXPECT_EQ(modeOf(at(QStringLiteral("Docs/a/Plan/1/Plan.pdf"))), 0444u);
    EXPECT_EQ(modeOf(outsideFile), 0644u);
    EXPECT_EQ(modeOf(outsideNested), 0644u);
    EXPECT_EQ(QFile::symLinkTarget(at(QStringLiteral("Docs/a/Plan/1/link-to-file"))), outsideFile);

    ASSERT_EQ(::chmod(QFile::encodeName(outsideFile).constData(), 0444), 0);
    EXPECT_EQ(TDWLockUnlockAllBackupFilesOperation::lock(false, m_root), 0);
    EXPECT_EQ(modeOf(at(QStringLiteral("Docs/a/Plan/1/Plan.pdf"))), 0644u);
    EXPECT_EQ(modeOf(outsideFile), 0444u);
}

TEST_F(TDWLockUnlockAllBackupFilesOperationTest, FilesThatCannotBeChangedAreCountedAndLogged)
{
    const QString stuck = at(QStringLiteral("Docs/a/Stuck/1/Stuck.pdf"));
    makeFile(stuck, 0644);
    makeFile(at(QStringLiteral("Docs/a/Free/1/Free.pdf")), 0644);
    if (!setImmutable(stuck, true))
        GTEST_SKIP() << "this user or file system cannot make a file immutable";

    TDWUserDefaults::standard()->setString(m_root, QStringLiteral("altbackuploc"));
    TDWUserDefaults::standard()->setBool(true, QStringLiteral("lockBackupFiles"));
    tdwtest::LogCapture log;
    auto operation = std::make_shared<TDWLockUnlockAllBackupFilesOperation>();
    operation->start();
    setImmutable(stuck, false);
    TDWUserDefaults::standard()->removeObjectForKey(QStringLiteral("altbackuploc"));

    EXPECT_EQ(modeOf(stuck), 0644u);
    EXPECT_EQ(modeOf(at(QStringLiteral("Docs/a/Free/1/Free.pdf"))), 0444u);
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to lock backup files: 1 could not be changed")));
}

TEST_F(TDWLockUnlockAllBackupFilesOperationTest, APassRecordsTheChangeCountItReadBeforeWalking)
{
    struct Case
    {
        const char *name;
        bool folderExists;
        bool locked;
        mode_t expected;
    };
    const QList<Case> cases = {
        {"lock", true, true, 0444},
        {"unlock", true, false, 0644},
        {"missing folder", false, true, 0},
    };
    TDWUserDefaults *defaults = TDWUserDefaults::standard();
    qint64 changeCount = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString root = c.folderExists ? tdwtest::freshDir(QStringLiteral("backups")) : at(QStringLiteral("not-there"));
        const QString file = QDir(root).filePath(QStringLiteral("Docs/a/Plan/1/Plan.pdf"));
        if (c.folderExists)
            makeFile(file, c.locked ? 0644 : 0444);
        defaults->setString(root, QStringLiteral("altbackuploc"));
        defaults->setBool(c.locked, QStringLiteral("lockBackupFiles"));
        defaults->setInteger(++changeCount, QStringLiteral("lockBackupFilesLastChanged"));

        auto operation = std::make_shared<TDWLockUnlockAllBackupFilesOperation>();
        operation->start();

        EXPECT_TRUE(operation->isFinished());
        EXPECT_EQ(defaults->integerForKey(QStringLiteral("lockBackupFilesLastPerformed")), changeCount);
        if (c.folderExists)
            EXPECT_EQ(modeOf(file), c.expected);
        else
            EXPECT_FALSE(QFileInfo::exists(root));
    }
    defaults->removeObjectForKey(QStringLiteral("altbackuploc"));
}

} // namespace
