// Where a restore may read and write.
#include "TestSupport.h"

#include "common/TDWFileUtils.h"
#include "restore/TDWRestorePaths.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

TEST(TDWRestorePaths, EveryComponentIsOneSafeName)
{
    const std::pair<QString, QStringList> rows[] = {
        {QStringLiteral(".."), {QStringLiteral("_..")}},
        {QStringLiteral("a/../../b"), {QStringLiteral("a"), QStringLiteral("_.."), QStringLiteral("_.."), QStringLiteral("b")}},
        {QStringLiteral("/abs//x/"), {QStringLiteral("abs"), QStringLiteral("x")}},
        {QStringLiteral("tab\there"), {QStringLiteral("tabhere")}},
        {QString(300, QLatin1Char('n')), {QString(32, QLatin1Char('n'))}},
        {QString::fromUtf8("bad\xff\xfe"), {QStringLiteral("bad")}},
        // Names the safe function made come back as they are.
        {QStringLiteral("Work Projects.mbox/Report-1.pdf"), {QStringLiteral("Work Projects.mbox"), QStringLiteral("Report-1.pdf")}},
        {TDWFileUtils::generateFilenameFromString(QString(40, QLatin1Char('L')), QStringLiteral("mbox")),
         {QString(32, QLatin1Char('L')) + QStringLiteral(".mbox")}},
    };
    for (const auto &[path, expected] : rows) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(TDWRestorePaths::safeComponents(path), expected);
    }
}

TEST(TDWRestorePaths, MakesFoldersButNeverThroughALink)
{
    const QString root = tdwtest::freshDir(QStringLiteral("root"));
    const QString outside = tdwtest::freshDir(QStringLiteral("outside"));
    TDWError error;
    EXPECT_TRUE(TDWRestorePaths::makeFolders(root, {QStringLiteral("a"), QStringLiteral("b")}, &error));
    EXPECT_TRUE(QFileInfo(root + QStringLiteral("/a/b")).isDir());
    EXPECT_TRUE(TDWRestorePaths::makeFolders(root, {QStringLiteral("a"), QStringLiteral("b")}, &error)) << "folders already there are kept";

    ASSERT_EQ(::symlink(QFile::encodeName(outside).constData(), QFile::encodeName(root + QStringLiteral("/a/link")).constData()), 0);
    EXPECT_FALSE(TDWRestorePaths::makeFolders(root, {QStringLiteral("a"), QStringLiteral("link"), QStringLiteral("c")}, &error));
    EXPECT_EQ(error.code(), ENOTDIR);
    EXPECT_TRUE(QDir(outside).isEmpty());

    QFile file(root + QStringLiteral("/a/file"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_FALSE(TDWRestorePaths::makeFolders(root, {QStringLiteral("a"), QStringLiteral("file")}, &error));
    EXPECT_EQ(error.code(), ENOTDIR);
}

TEST(TDWRestorePaths, ASourceMustBeARegularFileInsideTheItemsFolder)
{
    const QString items = tdwtest::freshDir(QStringLiteral("items"));
    ASSERT_TRUE(QDir().mkpath(items + QStringLiteral("/acct/item/1")));
    QFile file(items + QStringLiteral("/acct/item/1/file.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    ASSERT_EQ(::symlink(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(items + QStringLiteral("/acct/link.txt")).constData()), 0);

    TDWError error;
    EXPECT_EQ(TDWRestorePaths::sourceInItemsFolder(items, QStringLiteral("acct/item/1/file.txt"), &error), file.fileName());
    for (const QString &filePath : {QString(), QStringLiteral("acct"), QStringLiteral("acct/link.txt"), QStringLiteral("../outside/file.txt"),
                                    QStringLiteral("acct/missing.txt"), QStringLiteral("..")}) {
        SCOPED_TRACE(filePath.toStdString());
        error = TDWError();
        EXPECT_TRUE(TDWRestorePaths::sourceInItemsFolder(items, filePath, &error).isEmpty());
        EXPECT_FALSE(error.isNull());
    }
}

} // namespace
