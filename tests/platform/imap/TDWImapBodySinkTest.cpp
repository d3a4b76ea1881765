#include "ImapTestPrinters.h"

#include "TestSupport.h"

#include "platform/imap/TDWImapBodySink.h"
#include "platform/imap/TDWImapError.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <limits>

#include <utility>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

TEST(ImapBodySink, FileAppearsOnlyWhenCommittedAndReplacesTheOldOne)
{
    const QString dir = tdwtest::freshDir(QStringLiteral("sink"));
    const QString path = dir + QStringLiteral("/sub/message.eml");
    QDir().mkpath(dir + QStringLiteral("/sub"));
    ASSERT_TRUE(writeFile(path, "old copy"));

    TDWImapBodySink sink(path);
    sink.begin(11);
    sink.write("hello ", 6);
    sink.write("world", 5);
    // While the body arrives the old copy stays whole; the new bytes sit under a temporary name.
    EXPECT_EQ(readFile(path), "old copy");
    EXPECT_EQ(QDir(dir + QStringLiteral("/sub")).entryList(QDir::Files | QDir::Hidden).size(), 2);

    TDWError error;
    ASSERT_TRUE(sink.commit(&error)) << error.description().toStdString();
    EXPECT_EQ(readFile(path), "hello world");
    EXPECT_EQ(QDir(dir + QStringLiteral("/sub")).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("message.eml")});
}

// A message is the user's alone, whatever the umask.
TEST(ImapBodySink, NewFilesArePrivateWhateverTheUmask)
{
    const QString dir = tdwtest::freshDir(QStringLiteral("sink"));
    for (const auto &[mask, expected] : {std::pair{mode_t(077), 0600u}, std::pair{mode_t(022), 0600u}, std::pair{mode_t(027), 0600u}, std::pair{mode_t(0), 0600u}}) {
        const QString path = dir + QStringLiteral("/m%1.eml").arg(mask, 0, 8);
        const mode_t saved = ::umask(mask);
        TDWImapBodySink sink(path);
        sink.begin(3);
        sink.write("abc", 3);
        const bool committed = sink.commit(nullptr);
        ::umask(saved);
        ASSERT_TRUE(committed);
        struct stat st;
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, expected) << "umask " << std::oct << mask;
    }
}

TEST(ImapBodySink, AMessageWithoutContentIsNeverCommitted)
{
    const QString dir = tdwtest::freshDir(QStringLiteral("sink"));
    const QString path = dir + QStringLiteral("/m.eml");
    ASSERT_TRUE(writeFile(path, "earlier copy"));
    // No body at all (BODY[] NIL), and a zero-length literal: in a file and in memory.
    for (const bool announced : {false, true}) {
        TDWImapBodySink file(path);
        TDWImapBodySink memory;
        for (TDWImapBodySink *sink : {&file, &memory}) {
            if (announced)
                sink->begin(0);
            TDWError error;
            EXPECT_FALSE(sink->commit(&error));
            EXPECT_EQ(error.domain(), TDWImapError::Domain);
            EXPECT_EQ(error.code(), TDWImapError::NotFound);
        }
    }
    EXPECT_EQ(readFile(path), "earlier copy");
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("m.eml")});
}

TEST(ImapBodySink, AbortAndDestructionLeaveNoTemporaryFile)
{
    const QString dir = tdwtest::freshDir(QStringLiteral("sink"));
    {
        TDWImapBodySink aborted(dir + QStringLiteral("/a.eml"));
        aborted.begin(4);
        aborted.write("part", 4);
        aborted.abort();
        TDWImapBodySink dropped(dir + QStringLiteral("/b.eml"));
        dropped.begin(4);
        dropped.write("pa", 2);
    }
    EXPECT_TRUE(QDir(dir).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST(ImapBodySink, ASecondBodyReplacesTheFirst)
{
    const QString dir = tdwtest::freshDir(QStringLiteral("sink"));
    TDWImapBodySink file(dir + QStringLiteral("/m.eml"));
    TDWImapBodySink memory;
    for (TDWImapBodySink *sink : {&file, &memory}) {
        sink->begin(5);
        sink->write("first", 5);
        sink->begin(3);
        sink->write("two", 3);
        ASSERT_TRUE(sink->commit(nullptr));
        EXPECT_EQ(sink->receivedSize(), 3);
    }
    EXPECT_EQ(readFile(dir + QStringLiteral("/m.eml")), "two");
    EXPECT_EQ(memory.data(), "two");
}

TEST(ImapBodySink, TheAllowedSizeIsTheListedSizeWithAMarginUnderTheCeiling)
{
    struct Case
    {
        qint64 listed;
        qint64 allowed;
    };
    const qint64 ceiling = TDWImapBodySink::MaximumSize;
    const Case cases[] = {
        {0, 64 << 10},
        {5001, 5001 + (64 << 10)},
        {16 << 20, (16 << 20) + (1 << 20)},
        {ceiling - 1, ceiling},
        {ceiling, ceiling},
        {qint64(4294967295), ceiling},
        {std::numeric_limits<qint64>::max(), ceiling},
    };
    for (const Case &c : cases)
        EXPECT_EQ(TDWImapBodySink::allowedSize(c.listed), c.allowed) << c.listed;
}

// A body beyond what the server listed, told before or after it began, and one
// beyond any message's size where none was listed: refused with a clear error,
// nothing of it kept, the old file whole.
TEST(ImapBodySink, ABodyOverItsBoundIsRefusedAndLeavesNothing)
{
    const QString dir = tdwtest::freshDir(QStringLiteral("sink"));
    const QString path = dir + QStringLiteral("/m.eml");
    ASSERT_TRUE(writeFile(path, "earlier copy"));

    struct Case
    {
        const char *name;
        qint64 listedBefore;   // -1: not told before the body
        qint64 announced;
        qint64 listedAfter;    // -1: not told after the body
        bool accepted;
        const char *says;
    };
    const qint64 ceiling = TDWImapBodySink::MaximumSize;
    const Case cases[] = {
        {"at its size", 5001, 5001, -1, true, ""},
        {"at the end of the margin", 5001, 5001 + (64 << 10), -1, true, ""},
        {"past the margin", 5001, 5001 + (64 << 10) + 1, -1, false, "announced a message of 70538 bytes but listed it at 5001 bytes"},
        {"far past the size", 5001, 4294967295, -1, false, "announced a message of 4294967295 bytes but listed it at 5001 bytes"},
        {"no size, at the ceiling", -1, ceiling, -1, true, ""},
        {"no size, past the ceiling", -1, ceiling + 1, -1, false, "at most 268435456 bytes are accepted"},
        {"size told after the body", -1, 100000, 5001, false, "announced a message of 100000 bytes but listed it at 5001 bytes"},
        {"size told after, within the margin", -1, 5100, 5001, true, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TDWImapBodySink file(path);
        TDWImapBodySink memory;
        for (TDWImapBodySink *sink : {&file, &memory}) {
            if (c.listedBefore >= 0)
                sink->setListedSize(c.listedBefore);
            EXPECT_EQ(sink->accepts(c.announced), c.listedAfter >= 0 || c.accepted);
            sink->begin(c.announced);
            // A few bytes of it arrive (all that a refused one ever gets).
            const QByteArray start(int(std::min<qint64>(c.announced, 4096)), 'x');
            sink->write(start.constData(), start.size());
            if (c.listedAfter >= 0)
                sink->setListedSize(c.listedAfter);
            EXPECT_EQ(sink->failed(), !c.accepted);
            if (c.accepted) {
                sink->abort();
                continue;
            }
            TDWError error;
            EXPECT_FALSE(sink->commit(&error));
            EXPECT_EQ(error.code(), TDWImapError::TooLarge);
            EXPECT_EQ(int(error.scope()), int(TDWError::Scope::Item));
            EXPECT_TRUE(error.localizedDescription().contains(QString::fromUtf8(c.says))) << error.localizedDescription().toStdString();
            EXPECT_TRUE(sink->data().isEmpty());
        }
        EXPECT_EQ(readFile(path), "earlier copy");
        EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("m.eml")});
    }
}

TEST(ImapBodySink, UnwritableFolderIsAFileError)
{
    const QString dir = tdwtest::freshDir(QStringLiteral("sink"));
    QFile blocker(dir + QStringLiteral("/notadir"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    TDWImapBodySink sink(dir + QStringLiteral("/notadir/m.eml"));
    sink.begin(3);
    sink.write("abc", 3);
    TDWError error;
    EXPECT_FALSE(sink.commit(&error));
    EXPECT_EQ(error.domain(), TDWImapError::Domain);
    EXPECT_EQ(error.code(), TDWImapError::File);
}

} // namespace
