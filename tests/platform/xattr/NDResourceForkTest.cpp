#include "platform/xattr/NDResourceFork.h"

#include "TestSupport.h"

#include <QDataStream>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/xattr.h>

namespace {

struct Stored
{
    QByteArray type;
    qint16 id;
    QByteArray name;
    QByteArray data;

    bool operator==(const Stored &other) const = default;
};

void PrintTo(const Stored &s, std::ostream *os)
{
    *os << s.type.toStdString() << "/" << s.id << " \"" << s.name.toStdString() << "\" " << s.data.size() << " bytes";
}

// The attribute's bytes as the kernel hands them out, or nothing when absent.
std::optional<QByteArray> attribute(const QString &path)
{
    const QByteArray file = QFile::encodeName(path);
    QByteArray value(1 << 17, Qt::Uninitialized);
    const ssize_t size = ::getxattr(file.constData(), NDResourceFork::AttributeName, value.data(), size_t(value.size()));
    if (size < 0)
        return std::nullopt;
    return value.left(qsizetype(size));
}

// Reads the documented stored form on its own, apart from the program's reader.
std::vector<Stored> decodeAttribute(const QString &path)
{
    const std::optional<QByteArray> bytes = attribute(path);
    if (!bytes) {
        ADD_FAILURE() << "no resources attribute on " << path.toStdString();
        return {};
    }
    QDataStream in(*bytes); // big-endian
    char magic[4];
    quint8 version = 0;
    quint16 count = 0;
    in.readRawData(magic, 4);
    in >> version >> count;
    EXPECT_EQ(QByteArray(magic, 4), "TDWR");
    EXPECT_EQ(version, 1);
    std::vector<Stored> resources;
    for (int i = 0; i < count; ++i) {
        Stored s;
        quint8 nameLength = 0;
        quint32 dataLength = 0;
        s.type.resize(4);
        in.readRawData(s.type.data(), 4);
        in >> s.id >> nameLength;
        s.name.resize(nameLength);
        in.readRawData(s.name.data(), nameLength);
        in >> dataLength;
        s.data.resize(dataLength);
        in.readRawData(s.data.data(), int(dataLength));
        resources.push_back(s);
    }
    EXPECT_EQ(in.status(), QDataStream::Ok);
    EXPECT_TRUE(in.atEnd());
    return resources;
}

constexpr quint32 Text = NDResourceFork::fourCharCode("TEXT");
constexpr quint32 Url = NDResourceFork::fourCharCode("url ");
constexpr quint32 UrlName = NDResourceFork::fourCharCode("urln");

class NDResourceForkTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_folder = QDir(tdwtest::freshDir(QStringLiteral("forks")));
        const QString probe = m_folder.filePath(QStringLiteral("probe"));
        QFile(probe).open(QIODevice::WriteOnly);
        if (::setxattr(QFile::encodeName(probe).constData(), "user.tdw-probe", "1", 1, 0) != 0 && errno == ENOTSUP)
            GTEST_SKIP() << "the test folder's file system keeps no user extended attributes";
    }

    QString path(const QString &name) const { return m_folder.filePath(name); }

    QDir m_folder;
};

} // namespace

TEST_F(NDResourceForkTest, WritesTheResourcesAtClose)
{
    const QString file = path(QStringLiteral("Feed.webloc"));
    auto fork = NDResourceFork::resourceForkForWritingAtPath(file);
    ASSERT_TRUE(fork);
    EXPECT_GT(fork->fileReference(), 0);
    EXPECT_TRUE(QFile::exists(file)); // created, as the resource file is
    EXPECT_TRUE(fork->addData(QByteArrayLiteral("https://example.org/feed\0"), Text, 256, {}));
    EXPECT_TRUE(fork->addData(QByteArrayLiteral("https://example.org/feed\0"), Url, 256, {}));
    EXPECT_TRUE(fork->addData(QByteArrayLiteral("Example \xc3\xa9t\xc3\xa9\0"), UrlName, 256, QStringLiteral("Titel \u00e9")));
    EXPECT_FALSE(attribute(file).has_value()); // nothing reaches the file before closing

    EXPECT_TRUE(fork->closeFile());
    EXPECT_EQ(fork->fileReference(), 0);
    EXPECT_EQ(decodeAttribute(file),
              (std::vector<Stored>{{"TEXT", 256, "", QByteArrayLiteral("https://example.org/feed\0")},
                                   {"url ", 256, "", QByteArrayLiteral("https://example.org/feed\0")},
                                   {"urln", 256, "Titel \xc3\xa9", QByteArrayLiteral("Example \xc3\xa9t\xc3\xa9\0")}}));
    EXPECT_EQ(QFile(file).size(), 0);

    // Closed: closing again does nothing, adding fails.
    EXPECT_TRUE(fork->closeFile());
    EXPECT_FALSE(fork->addData("late", Text, 1, {}));
}

TEST_F(NDResourceForkTest, SameTypeAndIdKeepsOneResourceAcrossOpenings)
{
    const QString file = path(QStringLiteral("bookmark"));
    {
        auto fork = NDResourceFork::resourceForkForWritingAtPath(file);
        ASSERT_TRUE(fork);
        EXPECT_TRUE(fork->addData("first", Text, 256, {}));
        EXPECT_TRUE(fork->addData("kept", Url, 256, {}));
        EXPECT_TRUE(fork->addData("second", Text, 256, {}));
        // The destructor closes.
    }
    EXPECT_EQ(decodeAttribute(file), (std::vector<Stored>{{"url ", 256, "", "kept"}, {"TEXT", 256, "", "second"}}));

    auto fork = NDResourceFork::resourceForkForWritingAtPath(file);
    ASSERT_TRUE(fork);
    EXPECT_TRUE(fork->addData("third", Text, 256, {}));
    EXPECT_TRUE(fork->addData("other id", Text, -1, {}));
    EXPECT_TRUE(fork->closeFile());
    EXPECT_EQ(decodeAttribute(file),
              (std::vector<Stored>{{"url ", 256, "", "kept"}, {"TEXT", 256, "", "third"}, {"TEXT", -1, "", "other id"}}));
}

TEST_F(NDResourceForkTest, LeavesTheFileContentAlone)
{
    const QString file = path(QStringLiteral("existing"));
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write("<plist>bookmark</plist>");
    out.close();

    auto fork = NDResourceFork::resourceForkForWritingAtPath(file);
    ASSERT_TRUE(fork);
    EXPECT_TRUE(fork->closeFile());
    EXPECT_FALSE(attribute(file).has_value()); // nothing added, nothing written

    fork = NDResourceFork::resourceForkForWritingAtPath(file);
    ASSERT_TRUE(fork);
    EXPECT_TRUE(fork->addData("x", Text, 256, {}));
    EXPECT_TRUE(fork->closeFile());
    QFile in(file);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    EXPECT_EQ(in.readAll(), "<plist>bookmark</plist>");
}

TEST_F(NDResourceForkTest, WhatCannotBeOpenedGivesNull)
{
    const QString missingFolder = path(QStringLiteral("no such folder/file"));
    const QString folder = path(QStringLiteral("a folder"));
    ASSERT_TRUE(QDir().mkpath(folder));
    for (const QString &file : {missingFolder, folder}) {
        tdwtest::LogCapture log;
        EXPECT_FALSE(NDResourceFork::resourceForkForWritingAtPath(file)) << file.toStdString();
        ASSERT_EQ(log.lines().size(), 1);
        EXPECT_TRUE(log.lines().first().startsWith(QStringLiteral("ERROR: ")));
    }
    EXPECT_FALSE(QFile::exists(missingFolder));
}

// Stored resources that cannot be read are not written over.
TEST_F(NDResourceForkTest, DamagedResourcesAreKept)
{
    const QString file = path(QStringLiteral("damaged"));
    QFile(file).open(QIODevice::WriteOnly);
    const QByteArray damaged = QByteArrayLiteral("TDWR\x01\x00\x05");
    ASSERT_EQ(::setxattr(QFile::encodeName(file).constData(), NDResourceFork::AttributeName, damaged.constData(), size_t(damaged.size()), 0), 0);

    tdwtest::LogCapture log;
    EXPECT_FALSE(NDResourceFork::resourceForkForWritingAtPath(file));
    EXPECT_EQ(attribute(file), damaged);
    EXPECT_EQ(log.lines().size(), 1);
}

// More than an extended attribute can hold: closing says so, and what was
// stored before stays.
TEST_F(NDResourceForkTest, FailedWriteIsReported)
{
    const QString file = path(QStringLiteral("big"));
    auto fork = NDResourceFork::resourceForkForWritingAtPath(file);
    ASSERT_TRUE(fork);
    ASSERT_TRUE(fork->addData("small", Text, 256, {}));
    ASSERT_TRUE(fork->closeFile());

    fork = NDResourceFork::resourceForkForWritingAtPath(file);
    ASSERT_TRUE(fork);
    ASSERT_TRUE(fork->addData(QByteArray(70 * 1024, 'x'), Url, 256, {}));
    tdwtest::LogCapture log;
    EXPECT_FALSE(fork->closeFile());
    EXPECT_EQ(fork->fileReference(), 0);
    ASSERT_EQ(log.lines().size(), 1);
    EXPECT_TRUE(log.lines().first().startsWith(QStringLiteral("ERROR: ")));
    EXPECT_EQ(decodeAttribute(file), (std::vector<Stored>{{"TEXT", 256, "", "small"}}));
}
