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
#include <sys/xattr.h>
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

// A leading field written last: only over bytes already there, never past the
// end (a failed overwrite drops the temporary file like any failed write).
TEST(TDWSafeFile, OverwriteReplacesBytesAlreadyWritten)
{
    const QString dir = tdwtest::freshDir();
    const QString path = QDir(dir).filePath(QStringLiteral("counted"));
    TDWError error;
    TDWSafeFile file(path);
    ASSERT_TRUE(file.open(&error));
    ASSERT_TRUE(file.append("????|body", 9, &error));
    ASSERT_TRUE(file.overwrite(0, "0004", 4, &error)) << qPrintable(error.description());
    ASSERT_TRUE(file.append("|end", 4, &error));
    ASSERT_TRUE(file.commit(&error));
    EXPECT_EQ(contents(path), "0004|body|end");

    for (const qint64 offset : {qint64(-1), qint64(11), qint64(12)}) {
        TDWSafeFile again(path);
        ASSERT_TRUE(again.open(&error));
        ASSERT_TRUE(again.append("0123456789ab", 12, &error));
        EXPECT_FALSE(again.overwrite(offset, "xy", 2, &error)) << offset;
        EXPECT_EQ(error.code(), EINVAL);
        EXPECT_FALSE(again.isOpen());
    }
    EXPECT_EQ(contents(path), "0004|body|end");
    EXPECT_EQ(entries(dir), QStringList{QStringLiteral("counted")});
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
            if (TDWSafeFile::isTemporaryName(name)) {
                EXPECT_EQ(modeOf(QDir(dir).filePath(name)), row.expected) << "temporary file";
            }
        }
        ASSERT_TRUE(file.append("new", 3, &error));
        ASSERT_TRUE(file.commit(&error));
        EXPECT_EQ(modeOf(path), row.expected);
    }
}

mode_t currentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// Plants a symbolic link the way an attacker would race for a name.
void plantLink(const QString &target, const QString &link)
{
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()), 0) << std::strerror(errno);
}

// Creating only: whatever has the final name (a file, a link to a file
// elsewhere, a dangling link) is left exactly as it was, nothing is written
// through a link, and no temporary file stays behind.
TEST(TDWSafeFile, CreateOnlyNeverReplacesNorFollowsALink)
{
    const QString outside = tdwtest::freshDir();
    const QString victim = QDir(outside).filePath(QStringLiteral("victim.txt"));
    ASSERT_TRUE(TDWSafeFile::write(victim, "theirs", nullptr, 0644));
    const QString missing = QDir(outside).filePath(QStringLiteral("never-created.txt"));
    const struct
    {
        const char *name;
        std::function<void(const QString &path)> plant; // what has the name before open()
        int err;                                        // 0: the write succeeds
    } rows[] = {
        {"free name", [](const QString &) {}, 0},
        {"existing file", [](const QString &path) { ASSERT_TRUE(TDWSafeFile::write(path, "existing", nullptr)); }, EEXIST},
        {"link to a file elsewhere", [&](const QString &path) { plantLink(victim, path); }, EEXIST},
        {"dangling link", [&](const QString &path) { plantLink(missing, path); }, EEXIST},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const QString dir = tdwtest::freshDir();
        const QString path = QDir(dir).filePath(QStringLiteral("restored.eml"));
        row.plant(path);
        const QStringList before = entries(dir);
        TDWError error;
        const bool written = TDWSafeFile::write(path, "new", &error, 0600, TDWSafeFile::Target::CreateOnly);
        EXPECT_EQ(written, row.err == 0);
        if (row.err == 0) {
            EXPECT_EQ(contents(path), "new");
            EXPECT_EQ(modeOf(path), mode_t(0600 & ~currentUmask()));
            continue;
        }
        EXPECT_EQ(error.domain(), TDWSafeFileError::Domain);
        EXPECT_EQ(error.code(), row.err);
        EXPECT_EQ(entries(dir), before);
    }
    EXPECT_EQ(contents(victim), "theirs");
    EXPECT_EQ(modeOf(victim), mode_t(0644 & ~currentUmask()));
    EXPECT_FALSE(QFileInfo::exists(missing));
}

// The name may be taken while the file is written (an open() that found it
// free proves nothing by commit time): the commit then fails and keeps both
// the newcomer and the folder as they were. A folder that is a link is never
// followed either.
TEST(TDWSafeFile, CreateOnlyCommitLosesARaceForTheName)
{
    const QString dir = tdwtest::freshDir();
    const QString path = QDir(dir).filePath(QStringLiteral("export.ics"));
    const struct
    {
        const char *name;
        std::function<void()> takeName;
    } rows[] = {
        {"file", [&] { ASSERT_TRUE(TDWSafeFile::write(path, "first", nullptr)); }},
        {"link", [&] { plantLink(QDir(dir).filePath(QStringLiteral("elsewhere")), path); }},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        QFile::remove(path);
        TDWSafeFile file(path, TDWSafeFile::DefaultMode, TDWSafeFile::Target::CreateOnly);
        TDWError error;
        ASSERT_TRUE(file.open(&error)) << qPrintable(error.description());
        ASSERT_TRUE(file.append("second", 6, &error));
        row.takeName();
        const QFileInfo taken(path);
        EXPECT_FALSE(file.commit(&error));
        EXPECT_EQ(error.code(), EEXIST);
        EXPECT_EQ(QFileInfo(path).isSymLink(), taken.isSymLink());
        EXPECT_EQ(entries(dir), QStringList{QStringLiteral("export.ics")});
    }
    EXPECT_FALSE(QFileInfo::exists(QDir(dir).filePath(QStringLiteral("elsewhere"))));

    const QString realFolder = tdwtest::freshDir();
    const QString linkedFolder = QDir(dir).filePath(QStringLiteral("linked"));
    plantLink(realFolder, linkedFolder);
    TDWError error;
    EXPECT_FALSE(TDWSafeFile::write(QDir(linkedFolder).filePath(QStringLiteral("x")), "x", &error, 0600, TDWSafeFile::Target::CreateOnly));
    EXPECT_TRUE(error.code() == ELOOP || error.code() == ENOTDIR) << error.code();
    EXPECT_TRUE(entries(realFolder).isEmpty());
}

// A kill just before the commit leaves nothing under the final name, only a
// temporary file, which the next start sweeps away.
TEST(TDWSafeFile, KilledCreateLeavesNoFileUnderTheFinalName)
{
    const QString dir = tdwtest::freshDir();
    const QString path = QDir(dir).filePath(QStringLiteral("restored.bin"));
    QProcess writer;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TDW_TEST_KILL_AT_WRITE"), QStringLiteral("1"));
    writer.setProcessEnvironment(environment);
    writer.start(QStringLiteral(TDW_FOUNDATION_PROBE), {QStringLiteral("create"), path});
    ASSERT_TRUE(writer.waitForFinished(30000));
    ASSERT_EQ(writer.exitStatus(), QProcess::CrashExit) << writer.readAllStandardError().constData();

    EXPECT_FALSE(QFileInfo::exists(path));
    const QStringList left = entries(dir);
    ASSERT_EQ(left.size(), 1);
    EXPECT_TRUE(TDWSafeFile::isTemporaryName(left.first())) << qPrintable(left.first());
    EXPECT_EQ(TDWSafeFile::sweepTemporaryFiles(dir), 1);
    EXPECT_TRUE(entries(dir).isEmpty());
}

QByteArray attribute(const QString &path, const char *name)
{
    char value[256];
    const ssize_t size = ::getxattr(QFile::encodeName(path).constData(), name, value, sizeof value);
    return size < 0 ? QByteArray("<none>") : QByteArray(value, size);
}

// A copy carries the content and the user.* attributes (a bookmark's address
// lives there) and takes the mode a write takes, not the source's: the copy
// of a locked file is writable by its owner.
TEST(TDWSafeFile, CopyKeepsUserAttributesAndTakesTheWritersMode)
{
    const QString dir = tdwtest::freshDir();
    const QString source = QDir(dir).filePath(QStringLiteral("bookmark.webloc"));
    const QByteArray content = safefiletest::versionContent(3); // more than one read
    ASSERT_TRUE(TDWSafeFile::write(source, content, nullptr));
    const QByteArray sourceName = QFile::encodeName(source);
    for (const auto &[name, value] : {std::pair{"user.org.tidewell.resources", QByteArray("url http://example.org/\0x", 25)},
                                      std::pair{"user.other", QByteArray("2")}}) {
        ASSERT_EQ(::setxattr(sourceName.constData(), name, value.constData(), size_t(value.size()), 0), 0)
            << "user extended attributes unavailable: " << std::strerror(errno);
    }
    ASSERT_EQ(::chmod(sourceName.constData(), 0400), 0);

    const struct
    {
        int mode;
        mode_t expected;
    } rows[] = {
        {TDWSafeFile::DefaultMode, mode_t(0666 & ~currentUmask())},
        {0600, mode_t(0600 & ~currentUmask())},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.mode);
        const QString copy = QDir(tdwtest::freshDir()).filePath(QStringLiteral("copy.webloc"));
        TDWError error;
        ASSERT_TRUE(TDWSafeFile::copy(source, copy, &error, row.mode, TDWSafeFile::Target::CreateOnly)) << qPrintable(error.description());
        EXPECT_EQ(contents(copy), content);
        EXPECT_EQ(attribute(copy, "user.org.tidewell.resources"), QByteArray("url http://example.org/\0x", 25));
        EXPECT_EQ(attribute(copy, "user.other"), "2");
        EXPECT_EQ(modeOf(copy), row.expected);
        EXPECT_EQ(entries(QFileInfo(copy).absolutePath()), QStringList{QStringLiteral("copy.webloc")});

        // Create-only holds for copies too.
        EXPECT_FALSE(TDWSafeFile::copy(source, copy, &error, row.mode, TDWSafeFile::Target::CreateOnly));
        EXPECT_EQ(error.code(), EEXIST);
    }

    const QString link = QDir(dir).filePath(QStringLiteral("link"));
    plantLink(source, link);
    TDWError error;
    EXPECT_FALSE(TDWSafeFile::copy(link, QDir(dir).filePath(QStringLiteral("from-link")), &error));
    EXPECT_EQ(error.code(), ELOOP);
    EXPECT_FALSE(TDWSafeFile::copy(dir, QDir(dir).filePath(QStringLiteral("from-folder")), &error));
    EXPECT_EQ(error.code(), EINVAL);
    EXPECT_FALSE(TDWSafeFile::copy(QDir(dir).filePath(QStringLiteral("missing")), QDir(dir).filePath(QStringLiteral("from-missing")), &error));
    EXPECT_EQ(error.code(), ENOENT);
    EXPECT_TRUE(error.localizedDescription().contains(QStringLiteral("missing")));
}

// A folder is filled under a temporary name and takes its final one whole,
// never over one already there.
TEST(TDWSafeFile, TemporaryFolderTakesItsNameWholeOrNotAtAll)
{
    const QString dir = tdwtest::freshDir();
    const QString path = QDir(dir).filePath(QStringLiteral("2026-01-02 03-04-05"));
    TDWError error;
    QString temporary = TDWSafeFile::createTemporaryFolder(path, 0700, &error);
    ASSERT_FALSE(temporary.isEmpty()) << qPrintable(error.description());
    EXPECT_TRUE(TDWSafeFile::isTemporaryName(QFileInfo(temporary).fileName()));
    EXPECT_EQ(modeOf(temporary), mode_t(0700 & ~currentUmask()));
    ASSERT_TRUE(TDWSafeFile::write(QDir(temporary).filePath(QStringLiteral("store.sqlite3")), "db", nullptr));
    ASSERT_TRUE(TDWSafeFile::commitFolder(temporary, path, &error)) << qPrintable(error.description());
    EXPECT_EQ(contents(QDir(path).filePath(QStringLiteral("store.sqlite3"))), "db");

    temporary = TDWSafeFile::createTemporaryFolder(path, 0700, &error);
    ASSERT_TRUE(TDWSafeFile::write(QDir(temporary).filePath(QStringLiteral("store.sqlite3")), "newer", nullptr));
    EXPECT_FALSE(TDWSafeFile::commitFolder(temporary, path, &error));
    EXPECT_EQ(error.code(), EEXIST);
    EXPECT_EQ(contents(QDir(path).filePath(QStringLiteral("store.sqlite3"))), "db");
    EXPECT_EQ(entries(dir), QStringList{QFileInfo(path).fileName()});
}

// What a kill leaves behind is swept at start-up: only our temporary names,
// at any depth, and never through a symbolic link to elsewhere.
TEST(TDWSafeFile, SweepRemovesOnlyOurLeftoverTemporaryFiles)
{
    const QString dir = tdwtest::freshDir();
    const QString outside = tdwtest::freshDir();
    const QStringList leftovers = {QStringLiteral(".defaults.plist.tdw-3k9x"), QStringLiteral("a/b/.1234.eml.tdw-0"),
                                   QStringLiteral("a/.store.sqlite3.tdw-7-journal"), QStringLiteral("s/.2026-01-01 00-00-00.tdw-5/a/.b.tdw-6")};
    const QStringList kept = {QStringLiteral("defaults.plist"), QStringLiteral("a/.hidden"), QStringLiteral("a/b/x.tdw-1"),
                              QStringLiteral("a/b/.x.tdw-UPPER"), QStringLiteral("a/.y.tdw-"), QStringLiteral("a/.z.tdw-1-other")};
    for (const QString &name : leftovers + kept) {
        ASSERT_TRUE(QDir(dir).mkpath(QFileInfo(QDir(dir).filePath(name)).absolutePath()));
        ASSERT_TRUE(TDWSafeFile::write(QDir(dir).filePath(name), "x", nullptr));
    }
    ASSERT_TRUE(TDWSafeFile::write(QDir(outside).filePath(QStringLiteral(".elsewhere.tdw-1")), "x", nullptr));
    ASSERT_TRUE(QFile::link(outside, QDir(dir).filePath(QStringLiteral("link"))));
    ASSERT_TRUE(QFile::link(QDir(outside).filePath(QStringLiteral(".elsewhere.tdw-1")), QDir(dir).filePath(QStringLiteral(".linked.tdw-2"))));

    // The temporary folder goes whole and counts once, whatever it holds.
    EXPECT_EQ(TDWSafeFile::sweepTemporaryFiles(dir), leftovers.size());
    EXPECT_FALSE(QFileInfo::exists(QDir(dir).filePath(QStringLiteral("s/.2026-01-01 00-00-00.tdw-5"))));
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
