#include "ImapTestPrinters.h"

#include "TestSupport.h"

#include "platform/imap/TDWImapBodySink.h"
#include "platform/imap/TDWImapError.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <utility>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(ImapBodySink, FileAppearsOnlyWhenCommittedAndReplacesTheOldOne)
{
    const QString dir = tdwtest::freshDir(QStringLiteral("sink"));
    const QString path = dir + QStringLiteral("/sub/message.eml");
    QDir().mkpath(dir + QStringLiteral("/sub"));
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old copy");
    old.close();

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
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("earlier copy");
    old.close();
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
