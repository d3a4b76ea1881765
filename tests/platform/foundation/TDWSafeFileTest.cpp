#include "platform/foundation/TDWSafeFile.h"
#include "platform/foundation/TDWSafeFileError.h"

#include "SafeFileVersions.h"
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

mode_t modeOf(const QString &path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

TEST(TDWSafeFile, CreatesAndReplacesFilesKeepingPermissionsAndLinks)
{
    const QString dir = tdwtest::freshDir();
    const QString path = QDir(dir).filePath(QStringLiteral("data.bin"));
    TDWError error;

    ASSERT_TRUE(TDWSafeFile::write(path, "first", &error)) << qPrintable(error.description());
    EXPECT_EQ(contents(path), "first");
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(modeOf(path), 0666 & ~mask);

    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    ASSERT_TRUE(TDWSafeFile::write(path, QByteArray(), &error));
    EXPECT_EQ(contents(path), QByteArray());
    EXPECT_EQ(modeOf(path), mode_t(0640));

    const QString link = QDir(dir).filePath(QStringLiteral("link.bin"));
    ASSERT_TRUE(QFile::link(path, link));
    ASSERT_TRUE(TDWSafeFile::write(link, "through the link", &error));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(contents(path), "through the link");

    EXPECT_EQ(entries(dir), (QStringList{QStringLiteral("data.bin"), QStringLiteral("link.bin")}));

    EXPECT_FALSE(TDWSafeFile::write(QDir(dir).filePath(QStringLiteral("no/such/folder.bin")), "x", &error));
    EXPECT_EQ(error.domain(), TDWSafeFileError::Domain);
    EXPECT_EQ(error.code(), ENOENT);

    EXPECT_FALSE(TDWSafeFile::write(dir, "x", &error));
    EXPECT_EQ(error.code(), EISDIR);
}

// Each failure strikes after the old file exists; it must stay whole and no
// temporary file may be left behind.
TEST(TDWSafeFile, FailedWriteLeavesTheOldFileAndNoTemporaryFile)
{
    struct rlimit savedLimit;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &savedLimit), 0);
    const struct
    {
        const char *name;
        std::function<bool(const QString &dir)> inject; // false: not applicable here
        std::function<void(const QString &dir)> undo;
    } rows[] = {
        {"read-only folder",
         [](const QString &dir) {
             // Permission bits do not bind root; the size-limit row covers that case.
             return ::geteuid() != 0 && ::chmod(QFile::encodeName(dir).constData(), 0555) == 0;
         },
         [](const QString &dir) { ::chmod(QFile::encodeName(dir).constData(), 0755); }},
        {"file size limit reached mid-write",
         [](const QString &) {
             std::signal(SIGXFSZ, SIG_IGN);
             struct rlimit small = {8192, RLIM_INFINITY};
             return ::setrlimit(RLIMIT_FSIZE, &small) == 0;
         },
         [&savedLimit](const QString &) {
             ::setrlimit(RLIMIT_FSIZE, &savedLimit);
             std::signal(SIGXFSZ, SIG_DFL);
         }},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const QString dir = tdwtest::freshDir();
        const QString path = QDir(dir).filePath(QStringLiteral("keep.plist"));
        ASSERT_TRUE(TDWSafeFile::write(path, "old content", nullptr));
        if (!row.inject(dir)) {
            std::printf("[ SKIPPED  ] %s: not applicable for this user\n", row.name);
            continue;
        }
        TDWError error;
        const bool written = TDWSafeFile::write(path, QByteArray(256 * 1024, 'n'), &error);
        row.undo(dir);
        EXPECT_FALSE(written);
        EXPECT_EQ(error.domain(), TDWSafeFileError::Domain);
        EXPECT_TRUE(error.localizedDescription().contains(path)) << qPrintable(error.localizedDescription());
        EXPECT_EQ(contents(path), "old content");
        EXPECT_EQ(entries(dir), QStringList{QStringLiteral("keep.plist")});
    }
}

// The streamed form: nothing reaches `path` before commit(), and an abort or
// the destructor leaves the old file as it was.
TEST(TDWSafeFile, StreamedWritesReachThePathOnlyOnCommit)
{
    const QString dir = tdwtest::freshDir();
    const QString path = QDir(dir).filePath(QStringLiteral("body.eml"));
    ASSERT_TRUE(TDWSafeFile::write(path, "old", nullptr));
    TDWError error;
    {
        TDWSafeFile file(path);
        ASSERT_TRUE(file.open(&error)) << qPrintable(error.description());
        ASSERT_TRUE(file.append("new ", 4, &error));
        EXPECT_EQ(entries(dir).size(), 2);
        file.abort();
        EXPECT_FALSE(file.isOpen());
        EXPECT_EQ(entries(dir), QStringList{QStringLiteral("body.eml")});
        EXPECT_FALSE(file.append("x", 1, &error));
        EXPECT_EQ(error.code(), EBADF);

        ASSERT_TRUE(file.open(&error));
        ASSERT_TRUE(file.append("dropped", 7, &error));
    } // destroyed before commit
    EXPECT_EQ(contents(path), "old");
    EXPECT_EQ(entries(dir), QStringList{QStringLiteral("body.eml")});

    TDWSafeFile file(path);
    ASSERT_TRUE(file.open(&error));
    for (const char *chunk : {"first ", "second ", "third"})
        ASSERT_TRUE(file.append(chunk, qint64(std::strlen(chunk)), &error));
    EXPECT_EQ(contents(path), "old");
    ASSERT_TRUE(file.commit(&error)) << qPrintable(error.description());
    EXPECT_EQ(contents(path), "first second third");
    EXPECT_EQ(entries(dir), QStringList{QStringLiteral("body.eml")});
}

// A given mode holds from the temporary file on (a secret is never readable
// by others, not even for a moment) and the umask narrows it like any new file.
TEST(TDWSafeFile, AGivenModeHoldsFromTheTemporaryFileOn)
{
    const struct
    {
        mode_t umask;
        int mode;
        mode_t existing; // 0: no file yet
        mode_t expected;
    } rows[] = {
        {0, 0600, 0, 0600},
        {0, 0600, 0644, 0600},
        {022, 0640, 0, 0640},
        {027, 0666, 0, 0640},
        {077, TDWSafeFile::DefaultMode, 0, 0600},
        {077, TDWSafeFile::DefaultMode, 0644, 0644},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << "umask " << std::oct << row.umask << " mode " << row.mode << " existing " << row.existing);
        const QString dir = tdwtest::freshDir();
        const QString path = QDir(dir).filePath(QStringLiteral("secrets.json"));
        if (row.existing) {
            ASSERT_TRUE(TDWSafeFile::write(path, "old", nullptr));
            ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), row.existing), 0);
        }
        const mode_t saved = ::umask(row.umask);
        TDWSafeFile file(path, row.mode);
        TDWError error;
        const bool opened = file.open(&error);
        ::umask(saved);
        ASSERT_TRUE(opened) << qPrintable(error.description());
        for (const QString &name : entries(dir)) {
            if (TDWSafeFile::isTemporaryName(name))
                EXPECT_EQ(modeOf(QDir(dir).filePath(name)), row.expected) << "temporary file";
        }
        ASSERT_TRUE(file.append("new", 3, &error));
        ASSERT_TRUE(file.commit(&error));
        EXPECT_EQ(modeOf(path), row.expected);
    }
}

// What a kill leaves behind is swept at start-up: only our temporary names,
// at any depth, and never through a symbolic link to elsewhere.
TEST(TDWSafeFile, SweepRemovesOnlyOurLeftoverTemporaryFiles)
{
    const QString dir = tdwtest::freshDir();
    const QString outside = tdwtest::freshDir();
    const QStringList leftovers = {QStringLiteral(".defaults.plist.tdw-3k9x"), QStringLiteral("a/b/.1234.eml.tdw-0")};
    const QStringList kept = {QStringLiteral("defaults.plist"), QStringLiteral("a/.hidden"), QStringLiteral("a/b/x.tdw-1"),
                              QStringLiteral("a/b/.x.tdw-UPPER"), QStringLiteral("a/.y.tdw-")};
    for (const QString &name : leftovers + kept) {
        ASSERT_TRUE(QDir(dir).mkpath(QFileInfo(QDir(dir).filePath(name)).absolutePath()));
        ASSERT_TRUE(TDWSafeFile::write(QDir(dir).filePath(name), "x", nullptr));
    }
    ASSERT_TRUE(TDWSafeFile::write(QDir(outside).filePath(QStringLiteral(".elsewhere.tdw-1")), "x", nullptr));
    ASSERT_TRUE(QFile::link(outside, QDir(dir).filePath(QStringLiteral("link"))));
    ASSERT_TRUE(QFile::link(QDir(outside).filePath(QStringLiteral(".elsewhere.tdw-1")), QDir(dir).filePath(QStringLiteral(".linked.tdw-2"))));

    EXPECT_EQ(TDWSafeFile::sweepTemporaryFiles(dir), leftovers.size());
    for (const QString &name : leftovers)
        EXPECT_FALSE(QFileInfo::exists(QDir(dir).filePath(name))) << qPrintable(name);
    for (const QString &name : kept)
        EXPECT_TRUE(QFileInfo::exists(QDir(dir).filePath(name))) << qPrintable(name);
    EXPECT_TRUE(QFileInfo::exists(QDir(outside).filePath(QStringLiteral(".elsewhere.tdw-1"))));
    EXPECT_EQ(TDWSafeFile::sweepTemporaryFiles(QDir(dir).filePath(QStringLiteral("missing"))), 0);
}

// Starts the probe rewriting `path` from version `first` and waits until it is ready.
bool startWriter(QProcess &writer, const QString &path, qint64 first)
{
    writer.start(QStringLiteral(TDW_FOUNDATION_PROBE), {QStringLiteral("rewrite"), path, QString::number(first)});
    if (!writer.waitForStarted(30000))
        return false;
    while (!writer.canReadLine()) {
        if (!writer.waitForReadyRead(30000))
            return false;
    }
    return writer.readLine() == "ready\n";
}

// How long one rewrite takes on this machine and disk, so that the kills
// below land anywhere in the first few writes, however fast or slow they are.
qint64 microsecondsPerWrite(const QString &dir)
{
    constexpr int Writes = 5;
    QProcess writer;
    if (!startWriter(writer, QDir(dir).filePath(QStringLiteral("calibration.bin")), 1))
        return -1;
    QElapsedTimer timer;
    timer.start();
    int lines = 0;
    while (lines < Writes && writer.waitForReadyRead(30000)) {
        while (writer.canReadLine()) {
            writer.readLine();
            ++lines;
        }
    }
    const qint64 perWrite = timer.nsecsElapsed() / 1000 / Writes;
    writer.kill();
    writer.waitForFinished(30000);
    return lines >= Writes ? std::max<qint64>(perWrite, 1) : -1;
}

// A writer killed at random moments while it rewrites a file again and again:
// after every kill the file holds one complete version, the last one the writer
// confirmed or the one it was writing.
TEST(TDWSafeFile, KilledWriterLeavesTheOldOrTheNewContent)
{
    const QString dir = tdwtest::freshDir();
    const QString path = QDir(dir).filePath(QStringLiteral("rewritten.bin"));
    ASSERT_TRUE(TDWSafeFile::write(path, safefiletest::versionContent(0), nullptr));
    const qint64 perWrite = microsecondsPerWrite(dir);
    ASSERT_GT(perWrite, 0) << "the writer did not run";

    qint64 current = 0;
    int roundsThatWrote = 0;
    for (int round = 0; round < 80; ++round) {
        SCOPED_TRACE(round);
        QProcess writer;
        ASSERT_TRUE(startWriter(writer, path, current + 1)) << writer.readAllStandardError().constData();
        QThread::usleep(QRandomGenerator::global()->bounded(3 * perWrite));
        writer.kill();
        ASSERT_TRUE(writer.waitForFinished(30000));
        ASSERT_EQ(writer.exitStatus(), QProcess::CrashExit) << writer.readAllStandardError().constData();

        qint64 confirmed = current;
        for (const QByteArray &line : writer.readAllStandardOutput().split('\n')) {
            if (!line.isEmpty())
                confirmed = line.toLongLong();
        }
        const qint64 found = safefiletest::versionOf(contents(path));
        ASSERT_NE(found, -1) << "the file is torn";
        ASSERT_TRUE(found == confirmed || found == confirmed + 1) << "found " << found << ", confirmed " << confirmed;
        if (found > current)
            ++roundsThatWrote;
        current = found;
    }
    // The kills must have landed among the writes for the rounds above to prove anything.
    EXPECT_GT(roundsThatWrote, 0);
}

} // namespace
