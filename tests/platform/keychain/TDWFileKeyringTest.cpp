// The file store's own promises: privacy, never writing over what it cannot
// read, and no lost updates between programs sharing its folder.
#include "platform/keychain/TDWFileKeyring.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <thread>

namespace {

mode_t modeOf(const QString &path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

TEST(TDWFileKeyringTest, FileStoreIsPrivateToTheUser)
{
    struct {
        const char *what;
        bool loosenFirst;
    } cases[] = {{"made by the store", false}, {"left readable by someone", true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TDWFileKeyring store(tdwtest::freshDir(QStringLiteral("data")) + QStringLiteral("/Tidewell/Keyring"));
        if (c.loosenFirst) {
            ASSERT_TRUE(QDir().mkpath(store.folder()));
            QFile file(store.filePath());
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(R"({"format": 1, "items": []})");
            file.close();
            ::chmod(QFile::encodeName(store.folder()).constData(), 0755);
            ::chmod(QFile::encodeName(store.filePath()).constData(), 0644);
        }
        TDWError error;
        ASSERT_TRUE(store.store(QStringLiteral("s"), QStringLiteral("a"), "secret", &error)) << error.description().toStdString();
        EXPECT_EQ(modeOf(store.folder()), mode_t(0700));
        EXPECT_EQ(modeOf(store.filePath()), mode_t(0600));
        // Nothing but the file and the lock is left behind.
        EXPECT_EQ(QDir(store.folder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList({QStringLiteral("secrets.json"), QStringLiteral("secrets.lock")}));
    }
}

TEST(TDWFileKeyringTest, UnreadableFileStoreIsUnavailableAndNeverWrittenOver)
{
    const struct {
        const char *what;
        QByteArray content;
    } cases[] = {
        {"not JSON", "{\"format\": 1, \"items\": ["},
        {"empty", ""},
        {"not an object", "[]"},
        {"a newer format", R"({"format": 2, "items": []})"},
        {"an item without its secret", R"({"format": 1, "items": [{"service": "s", "account": "a"}]})"},
        {"a secret that is not Base64", R"({"format": 1, "items": [{"service": "s", "account": "a", "secret": "!!"}]})"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TDWFileKeyring store(tdwtest::freshDir(QStringLiteral("data")) + QStringLiteral("/Keyring"));
        ASSERT_TRUE(QDir().mkpath(store.folder()));
        QFile file(store.filePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.content);
        file.close();

        TDWError error;
        QByteArray secret;
        EXPECT_EQ(store.find(QStringLiteral("s"), QStringLiteral("a"), &secret, &error), TDWKeyringStatus::Unavailable);
        EXPECT_EQ(error.code(), TDWKeyringError::Unreadable);
        EXPECT_FALSE(store.store(QStringLiteral("s"), QStringLiteral("a"), "new", &error));
        EXPECT_EQ(store.remove(QStringLiteral("s"), QStringLiteral("a"), &error), TDWKeyringStatus::Unavailable);

        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), c.content);
    }
}

TEST(TDWFileKeyringTest, FileStoreFolderThatCannotBeMadeFailsTheWrite)
{
    const QString blocker = tdwtest::freshDir(QStringLiteral("data")) + QStringLiteral("/Keyring");
    QFile file(blocker);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    TDWFileKeyring store(blocker);
    TDWError error;
    EXPECT_FALSE(store.store(QStringLiteral("s"), QStringLiteral("a"), "x", &error));
    EXPECT_EQ(error.code(), TDWKeyringError::WriteFailed);
}

// Two programs sharing the folder (each store object here has its own
// in-process lock, as a second process would) lose none of each other's items.
TEST(TDWFileKeyringTest, FileStoresSharingAFolderKeepEveryItem)
{
    const QString folder = tdwtest::freshDir(QStringLiteral("data")) + QStringLiteral("/Keyring");
    TDWFileKeyring first(folder);
    TDWFileKeyring second(folder);
    constexpr int PerWriter = 25;
    auto writeAll = [](TDWFileKeyring *store, const QString &account) {
        for (int i = 0; i < PerWriter; ++i)
            EXPECT_TRUE(store->store(QString::number(i), account, QByteArray::number(i), nullptr));
    };
    std::thread a(writeAll, &first, QStringLiteral("first"));
    std::thread b(writeAll, &second, QStringLiteral("second"));
    a.join();
    b.join();
    for (int i = 0; i < PerWriter; ++i) {
        for (const QString &account : {QStringLiteral("first"), QStringLiteral("second")}) {
            QByteArray secret;
            EXPECT_EQ(first.find(QString::number(i), account, &secret, nullptr), TDWKeyringStatus::Found) << i;
            EXPECT_EQ(secret, QByteArray::number(i)) << i;
        }
    }
}

} // namespace
