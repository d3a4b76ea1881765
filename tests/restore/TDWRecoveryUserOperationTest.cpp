// Restore requests on a fixture store and backup folder: names, fallback
// revisions, path safety, the safe copy, counting and cancelling.
#include "RestoreFixture.h"

#include "TestSupport.h"

#include "platform/foundation/TDWOperationQueue.h"
#include "restore/TDWRecoveryUserOperation.h"

#include <QDir>
#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <QScopeGuard>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using State = TDWRecoveryProgress::State;

bool ownerMayWrite(const QString &path)
{
    struct stat info = {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && (info.st_mode & S_IWUSR);
}

// Every entry below `folder` whose real path is not inside it.
QStringList escapingEntries(const QString &folder)
{
    const QString root = QFileInfo(folder).canonicalFilePath();
    QStringList escaping;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        const QString real = info.isSymLink() ? info.symLinkTarget() : info.canonicalFilePath();
        if (!QDir::cleanPath(real).startsWith(root + QLatin1Char('/')))
            escaping << path + QStringLiteral(" -> ") + real;
    }
    return escaping;
}

using RestoreRequest = RestoreFixture;

TEST_F(RestoreRequest, NamesItemsUniquelyAndCopiesLockedFilesWritable)
{
    const TDWManagedObjectID a = addFile(QStringLiteral("a"), "first");
    const TDWManagedObjectID bigA = addFile(QStringLiteral("A"), "second");
    const TDWManagedObjectID again = addFile(QStringLiteral("a"), "third");
    const Outcome outcome = run({queued(a), queued(bigA), queued(again)}, m_dest, true);

    EXPECT_EQ(outcome.state, State::Finished) << outcome.text.toStdString();
    EXPECT_EQ(entriesUnder(m_dest), (QStringList{QStringLiteral("A-1.txt"), QStringLiteral("a-2.txt"), QStringLiteral("a.txt")}));
    EXPECT_EQ(contentsOf(m_dest + QStringLiteral("/a.txt")), "first");
    EXPECT_EQ(contentsOf(m_dest + QStringLiteral("/A-1.txt")), "second");
    EXPECT_EQ(contentsOf(m_dest + QStringLiteral("/a-2.txt")), "third");
    for (const QString &name : entriesUnder(m_dest)) {
        EXPECT_FALSE(ownerMayWrite(backedUpFile(a))) << "the fixture's backup files are locked";
        EXPECT_TRUE(ownerMayWrite(m_dest + QLatin1Char('/') + name)) << name.toStdString();
    }
    EXPECT_EQ(outcome.numDocsRecovered, 3);
}

TEST_F(RestoreRequest, ASingleFileTakesExactlyTheDestinationPath)
{
    const TDWManagedObjectID plan = addFile(QStringLiteral("Plan"), "the plan", QStringLiteral("docx"));
    const QString target = m_dest + QStringLiteral("/My chosen name");
    const Outcome outcome = run({queued(plan)}, target, false, QStringLiteral("Plan"));
    EXPECT_EQ(outcome.state, State::Finished) << outcome.text.toStdString();
    EXPECT_EQ(entriesUnder(m_dest), QStringList{QStringLiteral("My chosen name")});
    EXPECT_EQ(contentsOf(target), "the plan");
}

TEST_F(RestoreRequest, ARevisionWithoutBackupFallsBackToTheNearestBackedUpOne)
{
    // Older backed up, latest failed: the older one.
    const QList<TDWManagedObjectID> older = addItem(Docs, QStringLiteral("file"), QStringLiteral("Older"), QStringLiteral("txt"),
                                                    {{"old backed up"}, {"newest failed", TDWDocRev::DownloadFailed, false}});
    // Only a newer one backed up: that one.
    const QList<TDWManagedObjectID> newer = addItem(Docs, QStringLiteral("file"), QStringLiteral("Newer"), QStringLiteral("txt"),
                                                    {{"never fetched", TDWDocRev::DownloadPending, false}, {"newer backed up"}});
    const Outcome outcome = run({queued(older.last()), queued(newer.first())}, m_dest, true);
    EXPECT_EQ(outcome.state, State::Finished) << outcome.text.toStdString();
    EXPECT_EQ(contentsOf(m_dest + QStringLiteral("/Older.txt")), "old backed up");
    EXPECT_EQ(contentsOf(m_dest + QStringLiteral("/Newer.txt")), "newer backed up");
}

TEST_F(RestoreRequest, NamesFromTheCallerAndTitlesNeverLeaveTheDestination)
{
    const QString outside = tdwtest::freshDir(QStringLiteral("outside"));
    const QString dest = outside + QStringLiteral("/dest");
    ASSERT_TRUE(QDir().mkpath(dest));
    const QString longName(300, QLatin1Char('n'));
    const QString invalidUtf8 = QString::fromUtf8("\xff\xfe\xc3(name");
    const QString control = QStringLiteral("bad\x01\nname");
    const QStringList hostile = {QStringLiteral(".."), QStringLiteral("a/../../b"), QStringLiteral("/abs"), control, longName, invalidUtf8};
    QList<TDWQueuedRecovery> items;
    for (const QString &text : hostile) {
        // As a prefix, as a folder's name, and as the title itself.
        items << queued(addFile(QStringLiteral("file"), text.toUtf8()), text);
        items << queued(addGrouping(Docs, QStringLiteral("folder"), QStringLiteral("folder")), QString(), text);
        items << queued(addFile(text, "titled"), text, text);
    }
    const Outcome outcome = run(items, dest, true);
    EXPECT_EQ(outcome.state, State::Finished) << outcome.text.toStdString();
    EXPECT_EQ(outcome.numDocsRecovered, 2 * hostile.size());

    EXPECT_EQ(entriesUnder(outside).filter(QRegularExpression(QStringLiteral("^dest(/|$)"))).size(), entriesUnder(outside).size())
        << entriesUnder(outside).join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(escapingEntries(dest).isEmpty()) << escapingEntries(dest).join(QLatin1Char('\n')).toStdString();
    for (const QString &entry : entriesUnder(dest)) {
        for (const QString &component : entry.split(QLatin1Char('/'))) {
            EXPECT_NE(component, QStringLiteral(".."));
            EXPECT_LE(component.toUtf8().size(), 255);
            EXPECT_FALSE(component.contains(QLatin1Char('\n')) || component.contains(QChar(1))) << entry.toStdString();
            EXPECT_FALSE(component.contains(QChar::ReplacementCharacter)) << entry.toStdString();
        }
    }
}

TEST_F(RestoreRequest, ALinkPlantedAtATargetNameIsNeverFollowed)
{
    const QString outside = tdwtest::freshDir(QStringLiteral("outside"));
    const QString victim = outside + QStringLiteral("/victim.txt");
    const int fd = ::open(QFile::encodeName(victim).constData(), O_CREAT | O_EXCL | O_NOFOLLOW | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "precious", 8), 8);
    ::close(fd);

    for (const bool atFolder : {false, true}) {
        SCOPED_TRACE(atFolder ? "link at a folder on the way" : "link at the file's name");
        const QString dest = tdwtest::freshDir(QStringLiteral("dest"));
        const TDWManagedObjectID file = addFile(QStringLiteral("victim"), "overwritten");
        if (atFolder)
            ASSERT_EQ(::symlink(QFile::encodeName(outside).constData(), QFile::encodeName(dest + QStringLiteral("/sub")).constData()), 0);
        else
            ASSERT_EQ(::symlink(QFile::encodeName(victim).constData(), QFile::encodeName(dest + QStringLiteral("/victim.txt")).constData()), 0);
        const Outcome outcome = run({queued(file, atFolder ? QStringLiteral("sub") : QString())}, dest, true);
        EXPECT_EQ(outcome.state, State::Failed);
        EXPECT_EQ(outcome.text, QStringLiteral("Unable to restore items."));
        EXPECT_EQ(contentsOf(victim), "precious");
        EXPECT_EQ(entriesUnder(outside), QStringList{QStringLiteral("victim.txt")});
    }
}

TEST_F(RestoreRequest, AnExistingTargetFailsItsStepAndLaterStepsDoNotRun)
{
    const TDWManagedObjectID first = addFile(QStringLiteral("Report"), "new report");
    const TDWManagedObjectID second = addFile(QStringLiteral("Later"), "later");
    QFile existing(m_dest + QStringLiteral("/Report.txt"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("the user's own report");
    existing.close();

    tdwtest::LogCapture log;
    const Outcome outcome = run({queued(first), queued(second)}, m_dest, true);
    EXPECT_EQ(outcome.state, State::Failed);
    EXPECT_EQ(contentsOf(m_dest + QStringLiteral("/Report.txt")), "the user's own report");
    // The failure stopped the request: the step queued behind it never ran.
    EXPECT_EQ(entriesUnder(m_dest), QStringList{QStringLiteral("Report.txt")});
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to recover -- sourcePath: %1, destPath: %2/Report.txt -- ").arg(backedUpFile(first), m_dest)));
    EXPECT_TRUE(log.contains(QStringLiteral("Unable to restore: ")));
}

TEST_F(RestoreRequest, ACopyStoppedByAFullDiskLeavesNothingUnderTheFinalName)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting the small file system needs root";
    const QString small = tdwtest::freshDir(QStringLiteral("small"));
    if (::mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "no tmpfs here: " << std::strerror(errno);
    const auto unmount = qScopeGuard([&small] { ::umount2(QFile::encodeName(small).constData(), MNT_DETACH); });
    const TDWManagedObjectID big = addFile(QStringLiteral("Big"), QByteArray(2 * 1024 * 1024, 'b'));
    const Outcome outcome = run({queued(big)}, small, true);
    EXPECT_EQ(outcome.state, State::Failed);
    EXPECT_TRUE(entriesUnder(small).isEmpty()) << entriesUnder(small).join(QLatin1Char(' ')).toStdString();
}

TEST_F(RestoreRequest, ASourceOutsideTheItemsFolderFailsItsStep)
{
    const QString outsideFile = tdwtest::freshDir(QStringLiteral("elsewhere")) + QStringLiteral("/secret.txt");
    QFile secret(outsideFile);
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write("not part of the backup");
    secret.close();
    const QStringList filePaths = {QString(), QStringLiteral("../../elsewhere/secret.txt"), m_accountDir, outsideFile};
    for (const QString &filePath : filePaths) {
        SCOPED_TRACE(filePath.toStdString());
        const QString dest = tdwtest::freshDir(QStringLiteral("dest"));
        const TDWManagedObjectID file = addFile(QStringLiteral("file"), "contents");
        setFilePath(file, filePath);
        const Outcome outcome = run({queued(file)}, dest, true);
        EXPECT_EQ(outcome.state, State::Failed);
        EXPECT_TRUE(entriesUnder(dest).isEmpty()) << entriesUnder(dest).join(QLatin1Char(' ')).toStdString();
    }
}

TEST_F(RestoreRequest, AFolderOfFilesNeverBackedUpSaysSoAtOnce)
{
    const TDWManagedObjectID folder = addGrouping(Docs, QStringLiteral("folder"), QStringLiteral("Projects"));
    const TDWManagedObjectID empty = addGrouping(Docs, QStringLiteral("folder"), QStringLiteral("Empty"));
    const QList<TDWManagedObjectID> never1 = addItem(Docs, QStringLiteral("file"), QStringLiteral("one"), QStringLiteral("txt"),
                                                     {{"x", TDWDocRev::DownloadPending, false}});
    const QList<TDWManagedObjectID> never2 = addItem(Docs, QStringLiteral("file"), QStringLiteral("two"), QStringLiteral("txt"),
                                                     {{"x", TDWDocRev::DownloadFailed, false}});
    const Outcome outcome = run({queued(folder, {}, QStringLiteral("Projects")), queued(empty, QStringLiteral("Projects"), QStringLiteral("Empty")),
                                 queued(never1.last(), QStringLiteral("Projects")), queued(never2.last(), QStringLiteral("Projects"))},
                                m_dest, true);
    EXPECT_EQ(outcome.state, State::FinishedNotBackedUp);
    EXPECT_EQ(outcome.numSteps, 0);
    EXPECT_EQ(outcome.text, QStringLiteral("Unable to restore 2 items because they are not backed up."));
    EXPECT_FALSE(outcome.states.contains(State::InProgress)) << "the window never showed Restoring…";
    EXPECT_EQ(entriesUnder(m_dest), (QStringList{QStringLiteral("Projects"), QStringLiteral("Projects/Empty")}));
}

TEST_F(RestoreRequest, PurgedRevisionsCountInTheOfFigureAndTheBarStaysInRange)
{
    QList<TDWQueuedRecovery> items;
    QList<TDWManagedObjectID> purged;
    for (int i = 0; i < 10; ++i) {
        const TDWManagedObjectID file = addFile(QStringLiteral("file %1").arg(i), QByteArray::number(i));
        items << queued(file);
        if (i % 3 == 0 && purged.size() < 3)
            purged << file;
    }
    for (const TDWManagedObjectID &file : purged)
        purge(file);
    const Outcome outcome = run(items, m_dest, true);
    EXPECT_EQ(outcome.state, State::FinishedNotBackedUp);
    EXPECT_EQ(outcome.numDocsRecovered, 7);
    // A revision gone from the store still counts as an item of the request.
    EXPECT_EQ(outcome.text, QStringLiteral("Restored 7 of 10 items.  The others were not backed up."));
    for (const std::optional<double> &bar : outcome.bars) {
        if (bar) {
            EXPECT_GE(*bar, 0.0);
            EXPECT_LE(*bar, 1.0);
        }
    }
    EXPECT_EQ(entriesUnder(m_dest).size(), 7);
}

TEST_F(RestoreRequest, CancelDuringSchedulingRunsNoStep)
{
    QList<TDWQueuedRecovery> items;
    for (int i = 0; i < 50; ++i)
        items << queued(addFile(QStringLiteral("file %1").arg(i), "x"));
    const auto request = std::make_shared<TDWRecoveryUserOperation>(items, m_dest, true, QString(), false, QString());
    // Cancelled before its queue runs it: the same path as a cancel that
    // reaches the planning at its next item.
    request->cancel();
    TDWOperationQueue queue;
    queue.addOperation(request);
    queue.waitUntilAllOperationsAreFinished();
    QCoreApplication::processEvents();
    EXPECT_EQ(request->progress()->state(), State::Cancelled);
    EXPECT_TRUE(entriesUnder(m_dest).isEmpty());
}

TEST_F(RestoreRequest, CancelDuringCopyingRunsNoLaterStep)
{
    QList<TDWQueuedRecovery> items;
    for (int i = 0; i < 200; ++i)
        items << queued(addFile(QStringLiteral("file %1").arg(i), QByteArray(4096, 'x')));
    qint64 filesAtCancel = -1;
    const Outcome outcome = run(items, m_dest, true, {}, false, {}, [&](TDWRecoveryUserOperation &request, const TDWRecoveryProgress &progress) {
        if (filesAtCancel < 0 && progress.numDocsRecovered() == 1) {
            request.cancel();
            filesAtCancel = entriesUnder(m_dest).size();
        }
    });
    EXPECT_EQ(outcome.state, State::Cancelled);
    ASSERT_GE(filesAtCancel, 1);
    // At most the step already under way when the cancel came finishes.
    EXPECT_LE(entriesUnder(m_dest).size(), filesAtCancel + 1);
    EXPECT_LT(entriesUnder(m_dest).size(), 200);
}

} // namespace
