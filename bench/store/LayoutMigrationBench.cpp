// How long a store of 500,000 revisions takes to move to the next layout: an
// in-place step adding two attributes (one with a default for every row, one
// with a folded column) in one transaction, and the same step as a rebuild
// (copy, step, checkpoint, swap). Run:
//   bench_layout_migration [--quick] [--dir <folder>]
// --quick uses a tenth of the rows.
#include "BenchModel.h"

#include "platform/store/TDWPersistentStoreCoordinator.h"
#include "platform/store/TDWSqliteConnection.h"
#include "platform/store/TDWSqliteTransaction.h"
#include "platform/store/TDWStoreLayoutMigrator.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>

namespace {

// A store of the first layout with `revisions` revisions over a tenth as many
// items, written with plain statements (the setup is not what is measured).
QString makeStore(const QString &path, int revisions)
{
    QFile::remove(path);
    {
        TDWPersistentStoreCoordinator coordinator(benchmodel::model());
        if (!coordinator.addPersistentStore(benchmodel::Configuration, path, {}, nullptr))
            return {};
    }
    std::unique_ptr<TDWSqliteConnection> connection = TDWSqliteConnection::open(path, {}, nullptr);
    TDWSqliteTransaction transaction(*connection);
    transaction.begin(nullptr);
    TDWSqliteStatement doc = connection->prepare(QStringLiteral("INSERT INTO Doc (pk, docId, deleted) VALUES (?, ?, 0)"), nullptr);
    TDWSqliteStatement rev = connection->prepare(
        QStringLiteral("INSERT INTO DocRev (title, title__ci, filePath, firstSeenDate, latest, doc) VALUES (?, lower(?), ?, ?, 1, ?)"), nullptr);
    const int items = std::max(1, revisions / 10);
    for (int i = 1; i <= items; ++i) {
        doc.bindInt64(1, i);
        doc.bindText(2, QStringLiteral("doc-%1").arg(i));
        doc.execute(nullptr);
    }
    for (int r = 0; r < revisions; ++r) {
        const QString title = QStringLiteral("Revision Title %1").arg(r);
        rev.bindText(1, title);
        rev.bindText(2, title);
        rev.bindText(3, QStringLiteral("docs/%1").arg(r));
        rev.bindDouble(4, 7.0e8 + r);
        rev.bindInt64(5, 1 + r % items);
        rev.execute(nullptr);
    }
    transaction.commit(nullptr);
    return path;
}

void measure(const char *name, const QString &path, bool rebuild, int revisions)
{
    if (makeStore(path, revisions).isEmpty()) {
        std::printf("%s: unable to make the store\n", name);
        return;
    }
    const double megabytes = double(QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size()) / 1e6;
    TDWStoreLayoutMigrator migrator(benchmodel::laterModel(rebuild), benchmodel::Configuration, path);
    QElapsedTimer timer;
    timer.start();
    TDWError error;
    const bool migrated = migrator.inspect(&error) && migrator.migrate({}, &error);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (!migrated)
        std::printf("%s: failed: %s\n", name, qPrintable(error.description()));
    else
        std::printf("%-28s %9d revisions  %7.1f MB  %7.2f s  %10.0f revisions/s\n", name, revisions, megabytes, seconds, revisions / seconds);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const int revisions = arguments.contains(QStringLiteral("--quick")) ? 50000 : 500000;
    QTemporaryDir temporary;
    const int dirAt = arguments.indexOf(QStringLiteral("--dir"));
    const QDir folder(dirAt > 0 && dirAt + 1 < arguments.size() ? arguments[dirAt + 1] : temporary.path());
    measure("in place (one transaction)", folder.filePath(QStringLiteral("inplace.sqlite3")), false, revisions);
    measure("rebuild (copy and swap)", folder.filePath(QStringLiteral("rebuild.sqlite3")), true, revisions);
    return 0;
}
