// Entry processing of Drive-like pages into an account-and-service store, as
// the list retrieval hands them over: pages of 1,000 entries, each with its
// JSON object and one parent folder of 100. Three runs: the first listing
// (every item new), an unchanged one, and one with 1% of the items changed.
// Prints entries per second per run and the peak resident memory.
// Usage: bench_entries [items] (20,000 when none given); TDW_BENCH_DIR chooses
// the folder for the stores and backup folders.
#include "common/TDWFileMgr.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "platform/store/TDWPersistentStoreCoordinator.h"
#include "services/TDWDocListEntryProcessor.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int PageSize = 1000;
const QString Account = QStringLiteral("bench@example.com");
const QString Docs = QStringLiteral("docs");

QList<TDWDocEntry> page(int first, int count, int run, int changedEvery)
{
    QList<TDWDocEntry> entries;
    for (int i = first; i < first + count; ++i) {
        const bool changed = changedEvery > 0 && i % changedEvery == 0;
        const QString etag = QStringLiteral("etag-%1-%2").arg(i).arg(changed ? run : 0);
        TDWDocEntry entry;
        entry.setDocId(QStringLiteral("file-%1").arg(i));
        entry.setTitle(QStringLiteral("Quarterly report %1.pdf").arg(i));
        entry.setDocType(QStringLiteral("file"));
        entry.setMimeType(QStringLiteral("application/pdf"));
        entry.setEtag(etag);
        entry.setLastModifiedDate(QDateTime(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC).addSecs(changed ? run : 0));
        entry.setOwnerEmail(Account);
        entry.setParentFolderIds({QStringLiteral("folder-%1").arg(i / 100)});
        entry.setJsonText(QStringLiteral(R"({"kind":"drive#file","id":"file-%1","etag":"%2","title":"Quarterly report %1.pdf",)"
                                         R"("mimeType":"application/pdf","parents":[{"id":"folder-%3"}],"fileSize":"123456"})")
                              .arg(i)
                              .arg(etag)
                              .arg(i / 100)
                              .toUtf8());
        entries.append(entry);
    }
    return entries;
}

TDWManagedObjectID newIteration(int hour)
{
    auto moc = TDWMasterStore::shared().newMoc();
    auto iteration = TDWBackupIteration::newWithMoc(*moc);
    iteration->setIterationStartTime(QDateTime(QDate(2024, 6, 1), QTime(0, 0), Qt::UTC).addSecs(3600LL * hour));
    moc->save(nullptr);
    return iteration->objectID();
}

long peakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int items = argc > 1 ? std::atoi(argv[1]) : 20000;
    QTemporaryDir folder(QDir(qEnvironmentVariable("TDW_BENCH_DIR", QDir::tempPath())).filePath(QStringLiteral("bench-entries-XXXXXX")));
    TDWFileMgr::initAltDataDir(folder.path());
    auto coordinator = TDWMasterStore::shared().persistentStoreCoordinatorMigrating(false);
    TDWMasterStore::shared().setPersistentStoreCoordinator(coordinator);
    auto storeMgr = TDWStoreMgr::initWithPersistentStoreCoordinator(coordinator, TDWMasterStore::shared().masterStore());
    TDWMasterStore::shared().setStoreMgr(storeMgr);
    {
        auto moc = TDWMasterStore::shared().newMoc();
        TDWAccount::addAccountWithUsername(Account, {}, 1, {Docs}, false, *moc);
    }
    const TDWPersistentStorePtr store = storeMgr->storeForAccountUsername(Account, Docs);

    const struct
    {
        const char *name;
        int changedEvery;
    } runs[] = {{"first", 0}, {"unchanged", 0}, {"1% changed", 100}};
    int hour = 1;
    QSet<QString> dirNames;
    for (const auto &run : runs) {
        TDWDocListEntryProcessor processor(Account, Docs, newIteration(hour), store, QStringLiteral("folder"), nullptr);
        processor.currentDocDirNames() = dirNames;
        const Clock::time_point start = Clock::now();
        for (int first = 0; first < items; first += PageSize)
            if (!processor.processEntries(page(first, std::min(PageSize, items - first), hour, run.changedEvery)))
                std::fprintf(stderr, "page at %d failed\n", first);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        dirNames = processor.currentDocDirNames();
        std::printf("%-11s %9.0f entries/s (%d entries)\n", run.name, items / seconds, items);
        ++hour;
    }
    std::printf("peak memory %ld MB\n", peakKilobytes() / 1024);
    TDWMasterStore::shared().setStoreMgr(nullptr);
    TDWMasterStore::shared().setPersistentStoreCoordinator(nullptr);
    return 0;
}
