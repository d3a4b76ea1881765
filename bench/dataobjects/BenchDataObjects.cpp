// The metadata entities' hot paths on stores of realistic size, each beside the
// same work done with the SQLite C API alone (the floor) and the ratio of the two:
//   insert   100,000 items with one revision each, saved every 1,000 items
//   docid    an item by docId among 1,000,000 items
//   latest   the latest revision of an item at a snapshot date (500,000 revisions)
//   page     50 revisions valid at a snapshot date, by title, at offset 10,000 of 500,000
//   open     a coordinator with the master store and 30 account-and-service stores
//   rules    the exclusion-rule update over 200,000 pending revisions (all excluded, batches of 100)
//   counts   the download counts of a store of 200,000 revisions
// and, without a floor, two listings as the backup runs them (list-new, list-old).
// Usage: bench_dataobjects [insert|listing|docid|latest|page|open|rules|counts ...] (all when none given);
// TDW_BENCH_DIR chooses the folder for the stores, TDW_BENCH_KEEP keeps them.
#include "agent/TDWDownloadCountUpdateOperation.h"
#include "agent/TDWRuleUpdateOperation.h"
#include "common/TDWFileMgr.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWAccountServiceSetting.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWMetadataModel.h"
#include "dataobjects/TDWStoreMgr.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/store/TDWPersistentStoreCoordinator.h"
#include "platform/store/TDWSqlValueCodec.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <malloc.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const QString Docs = QStringLiteral("docs");
const QStringList Services{QStringLiteral("mail"), QStringLiteral("docs"), QStringLiteral("contacts"), QStringLiteral("calendar"),
                           QStringLiteral("reader"), QStringLiteral("picasaweb")};

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double percentile90(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() * 9 / 10];
}

long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// Bytes of the heap in use now (what the allocator handed out and has not had back), in kB.
long heapKb()
{
    const struct mallinfo2 info = mallinfo2();
    return long((info.uordblks + info.hblkhd) / 1024);
}

QDateTime hour(int n)
{
    return QDateTime(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC).addSecs(3600LL * n);
}

double stored(const QDateTime &date)
{
    return TDWSqlValueCodec::secondsSinceReferenceDate(date);
}

void report(const char *name, const char *unit, double ours, double floor, const char *extra = "")
{
    std::printf("%-8s %12.2f %-10s floor %12.2f %-10s ratio %6.2f %s\n", name, ours, unit, floor, unit, floor > 0 ? ours / floor : 0.0, extra);
    std::fflush(stdout);
}

// A raw connection with the settings our stores use.
struct RawDb
{
    explicit RawDb(const QString &path)
    {
        sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
        exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON; PRAGMA mmap_size=268435456;");
    }
    ~RawDb() { sqlite3_close_v2(db); }
    void exec(const char *sql)
    {
        char *message = nullptr;
        if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
            std::fprintf(stderr, "SQL failed: %s: %s\n", sql, message);
            sqlite3_free(message);
        }
    }
    sqlite3_stmt *prepare(const char *sql)
    {
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK)
            std::fprintf(stderr, "prepare failed: %s: %s\n", sql, sqlite3_errmsg(db));
        return statement;
    }
    sqlite3 *db = nullptr;
};

void bindText(sqlite3_stmt *statement, int index, const QByteArray &text)
{
    sqlite3_bind_text(statement, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
}

// Reads every column of the current row, as a caller that wants the whole row would.
void readRow(sqlite3_stmt *statement)
{
    for (int column = 0; column < sqlite3_column_count(statement); ++column) {
        switch (sqlite3_column_type(statement, column)) {
        case SQLITE_INTEGER: (void)sqlite3_column_int64(statement, column); break;
        case SQLITE_FLOAT: (void)sqlite3_column_double(statement, column); break;
        case SQLITE_TEXT: (void)QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, column)), sqlite3_column_bytes(statement, column)); break;
        default: break;
        }
    }
}

// A data folder with the master store open, its store manager and one account.
struct Stack
{
    explicit Stack(const QString &folder, const QStringList &accounts = {QStringLiteral("bench@example.com")})
    {
        TDWFileMgr::reset();
        TDWFileMgr::initAltDataDir(folder);
        open();
        auto moc = TDWMasterStore::shared().newMoc();
        for (const QString &account : accounts)
            TDWAccount::addAccountWithUsername(account, {}, 1, Services, false, *moc);
    }
    void open()
    {
        coordinator = TDWMasterStore::shared().persistentStoreCoordinatorMigrating(false);
        TDWMasterStore::shared().setPersistentStoreCoordinator(coordinator);
        storeMgr = TDWStoreMgr::initWithPersistentStoreCoordinator(coordinator, TDWMasterStore::shared().masterStore());
        TDWMasterStore::shared().setStoreMgr(storeMgr);
    }
    ~Stack()
    {
        TDWMasterStore::shared().setStoreMgr(nullptr);
        TDWMasterStore::shared().setPersistentStoreCoordinator(nullptr);
    }
    std::shared_ptr<TDWPersistentStoreCoordinator> coordinator;
    std::shared_ptr<TDWStoreMgr> storeMgr;
};

// Fills a store with `docs` items and `revisionsPerDoc` revisions of each in one
// transaction through the C API (building the fixture is not what is measured).
// Revision r of an item is valid over [hour 2r, hour 2r + 2); the last one is the latest.
void fillStore(const QString &path, int docs, int revisionsPerDoc, int exportStatus = 3)
{
    RawDb raw(path);
    raw.exec("BEGIN");
    sqlite3_stmt *doc = raw.prepare("INSERT INTO Doc (pk, service, accountUsername, docId, docType, includeInStatus, deleted) "
                                    "VALUES (?, 'docs', 'bench@example.com', ?, 'file', 1, 0)");
    sqlite3_stmt *rev = raw.prepare("INSERT INTO DocRev (doc, title, title__ci, firstSeenDate, lastSeenDate, obsoletedDate, latest, exportStatus, "
                                    "filePath, etag) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    std::mt19937 random(7);
    for (int i = 1; i <= docs; ++i) {
        sqlite3_bind_int64(doc, 1, i);
        bindText(doc, 2, "doc-" + QByteArray::number(i));
        sqlite3_step(doc);
        sqlite3_reset(doc);
        const QByteArray title = "Report " + QByteArray::number(random() % 1000000000) + " of " + QByteArray::number(i);
        for (int r = 0; r < revisionsPerDoc; ++r) {
            const bool latest = r == revisionsPerDoc - 1;
            sqlite3_bind_int64(rev, 1, i);
            bindText(rev, 2, title);
            bindText(rev, 3, title.toLower());
            sqlite3_bind_double(rev, 4, stored(hour(2 * r)));
            sqlite3_bind_double(rev, 5, stored(hour(2 * r + 1)));
            if (latest)
                sqlite3_bind_null(rev, 6);
            else
                sqlite3_bind_double(rev, 6, stored(hour(2 * r + 2)));
            sqlite3_bind_int(rev, 7, latest ? 1 : 0);
            sqlite3_bind_int(rev, 8, exportStatus);
            bindText(rev, 9, "Report/" + QByteArray::number(i) + "/" + QByteArray::number(r) + ".pdf");
            bindText(rev, 10, "etag-" + QByteArray::number(i) + "-" + QByteArray::number(r));
            sqlite3_step(rev);
            sqlite3_reset(rev);
        }
    }
    sqlite3_finalize(doc);
    sqlite3_finalize(rev);
    raw.exec("COMMIT");
    raw.exec("PRAGMA wal_checkpoint(TRUNCATE)");
    raw.exec("ANALYZE");
}

void benchInsert(const QString &folder)
{
    constexpr int Items = 100000;
    constexpr int PerSave = 1000;
    Stack stack(folder);
    const TDWPersistentStorePtr store = stack.storeMgr->storeForAccountUsername(QStringLiteral("bench@example.com"), Docs);
    auto moc = TDWMasterStore::shared().newMoc();
    const QDateTime seen = hour(1);
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < Items; ++i) {
        auto doc = TDWDoc::newWithMoc(*moc, store);
        doc->setService(Docs);
        doc->setAccountUsername(QStringLiteral("bench@example.com"));
        doc->setDocId(QStringLiteral("doc-%1").arg(i));
        doc->setDocType(QStringLiteral("file"));
        auto rev = TDWDocRev::newWithMoc(*moc, store);
        rev->setDoc(doc);
        rev->setTitle(QStringLiteral("Report %1").arg(i));
        rev->setFirstSeenDate(seen);
        rev->setLastSeenDate(seen);
        rev->setLatest(true);
        rev->setExportStatus(TDWDocRev::DownloadPending);
        rev->setFilePath(QStringLiteral("Report/%1.pdf").arg(i));
        rev->setEtag(QStringLiteral("etag-%1").arg(i));
        if ((i + 1) % PerSave == 0) {
            TDWError error;
            if (!moc->save(&error))
                std::fprintf(stderr, "save failed: %s\n", qPrintable(error.description()));
            moc->reset();
        }
    }
    const double ours = 2.0 * Items / seconds(Clock::now() - start);

    // The floor: the same rows and columns into an empty store of the same layout.
    const QString floorPath = QDir(folder).filePath(QStringLiteral("floor.sqlite3"));
    stack.coordinator->removePersistentStore(stack.coordinator->addPersistentStore(TDWMetadataModel::AccountServiceConfiguration, floorPath, {}, nullptr),
                                             nullptr);
    RawDb raw(floorPath);
    sqlite3_stmt *doc = raw.prepare("INSERT INTO Doc (service, accountUsername, docId, docType, includeInStatus, deleted, isUnlabeledMessage, "
                                    "insertDate, modifiedDate) VALUES ('docs', 'bench@example.com', ?, 'file', 1, 0, 0, ?, ?)");
    sqlite3_stmt *rev = raw.prepare("INSERT INTO DocRev (doc, title, title__ci, firstSeenDate, lastSeenDate, latest, exportStatus, filePath, etag, "
                                    "insertDate, modifiedDate) VALUES (?, ?, ?, ?, ?, 1, 1, ?, ?, ?, ?)");
    const Clock::time_point floorStart = Clock::now();
    raw.exec("BEGIN IMMEDIATE");
    for (int i = 0; i < Items; ++i) {
        const double now = stored(QDateTime::currentDateTimeUtc());
        bindText(doc, 1, QStringLiteral("doc-%1").arg(i).toUtf8());
        sqlite3_bind_double(doc, 2, now);
        sqlite3_bind_double(doc, 3, now);
        sqlite3_step(doc);
        sqlite3_reset(doc);
        const QString title = QStringLiteral("Report %1").arg(i);
        sqlite3_bind_int64(rev, 1, sqlite3_last_insert_rowid(raw.db));
        bindText(rev, 2, title.toUtf8());
        bindText(rev, 3, title.toCaseFolded().toUtf8());
        sqlite3_bind_double(rev, 4, stored(seen));
        sqlite3_bind_double(rev, 5, stored(seen));
        bindText(rev, 6, QStringLiteral("Report/%1.pdf").arg(i).toUtf8());
        bindText(rev, 7, QStringLiteral("etag-%1").arg(i).toUtf8());
        sqlite3_bind_double(rev, 8, now);
        sqlite3_bind_double(rev, 9, now);
        sqlite3_step(rev);
        sqlite3_reset(rev);
        if ((i + 1) % PerSave == 0) {
            raw.exec("COMMIT");
            raw.exec("BEGIN IMMEDIATE");
        }
    }
    raw.exec("COMMIT");
    const double floor = 2.0 * Items / seconds(Clock::now() - floorStart);
    sqlite3_finalize(doc);
    sqlite3_finalize(rev);
    // Objects per second: more is better, so the ratio is floor / ours here.
    std::printf("%-8s %12.0f %-10s floor %12.0f %-10s ratio %6.2f (200,000 objects, saved every 1,000 items)\n", "insert", ours, "objects/s",
                floor, "objects/s", floor / ours);
}

// Listings as the backup runs them, in a context that holds up to a page of
// unsaved work: the first listing looks each entry's item up by docId and, not
// finding it, makes the item and its revision; the next listing finds each item,
// takes its latest revision and marks it seen. Saved every 1,000 entries.
void benchListing(const QString &folder)
{
    constexpr int Items = 20000;
    constexpr int PerSave = 1000;
    Stack stack(folder);
    const TDWPersistentStorePtr store = stack.storeMgr->storeForAccountUsername(QStringLiteral("bench@example.com"), Docs);
    auto moc = TDWMasterStore::shared().newMoc();
    auto pass = [&](const char *name, const std::function<void(const QString &docId)> &entry) {
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < Items; ++i) {
            entry(QStringLiteral("doc-%1").arg(i));
            if ((i + 1) % PerSave == 0) {
                moc->save(nullptr);
                moc->reset();
            }
        }
        std::printf("%-8s %12.0f %-10s (%d entries, saved every 1,000; no floor)\n", name, Items / seconds(Clock::now() - start), "entries/s", Items);
    };
    pass("list-new", [&](const QString &docId) {
        if (TDWDoc::byDocId(docId, store, *moc, nullptr))
            std::fprintf(stderr, "listing: %s exists\n", qPrintable(docId));
        auto doc = TDWDoc::newWithMoc(*moc, store);
        doc->setDocId(docId);
        auto rev = TDWDocRev::newWithMoc(*moc, store);
        rev->setDoc(doc);
        rev->setTitle(docId);
        rev->setFirstSeenDate(hour(1));
        rev->setLastSeenDate(hour(1));
        rev->setLatest(true);
    });
    pass("list-old", [&](const QString &docId) {
        const auto doc = TDWDoc::byDocId(docId, store, *moc, nullptr);
        const auto rev = doc ? TDWDocRev::latestForDoc(doc, {}, *moc, nullptr) : nullptr;
        if (!rev) {
            std::fprintf(stderr, "listing: %s has no latest revision\n", qPrintable(docId));
            return;
        }
        rev->setLastSeenDate(hour(2));
    });
}

void benchDocId(const QString &folder)
{
    constexpr int Items = 1000000;
    constexpr int Samples = 20000;
    Stack stack(folder);
    const TDWPersistentStorePtr store = stack.storeMgr->storeForAccountUsername(QStringLiteral("bench@example.com"), Docs);
    fillStore(store->path(), Items, 0);
    auto moc = TDWMasterStore::shared().newMoc();
    std::mt19937 random(1);
    std::vector<QString> ids;
    for (int i = 0; i < Samples; ++i)
        ids.push_back(QStringLiteral("doc-%1").arg(1 + random() % Items));
    std::vector<double> ours;
    for (const QString &id : ids) {
        const Clock::time_point start = Clock::now();
        const auto doc = TDWDoc::byDocId(id, store, *moc, nullptr);
        ours.push_back(seconds(Clock::now() - start) * 1e6);
        if (!doc || doc->docId() != id)
            std::fprintf(stderr, "docid: %s not found\n", qPrintable(id));
    }
    RawDb raw(store->path());
    sqlite3_stmt *select = raw.prepare("SELECT * FROM Doc WHERE docId = ?");
    std::vector<double> floor;
    for (const QString &id : ids) {
        const Clock::time_point start = Clock::now();
        bindText(select, 1, id.toUtf8());
        while (sqlite3_step(select) == SQLITE_ROW)
            readRow(select);
        sqlite3_reset(select);
        floor.push_back(seconds(Clock::now() - start) * 1e6);
    }
    sqlite3_finalize(select);
    const QByteArray p90 = QStringLiteral("(p90 %1 us, floor p90 %2 us)").arg(percentile90(ours), 0, 'f', 1).arg(percentile90(floor), 0, 'f', 1).toUtf8();
    report("docid", "us", median(ours), median(floor), p90.constData());
}

// 250,000 items with two revisions each: the first valid over [hour 0, hour 2), the latest from hour 2.
struct RevisionStore
{
    static constexpr int Items = 250000;
    explicit RevisionStore(const QString &folder)
        : stack(folder)
    {
        store = stack.storeMgr->storeForAccountUsername(QStringLiteral("bench@example.com"), Docs);
        fillStore(store->path(), Items, 2);
    }
    Stack stack;
    TDWPersistentStorePtr store;
};

void benchLatest(RevisionStore &revisions)
{
    constexpr int Samples = 20000;
    auto moc = TDWMasterStore::shared().newMoc();
    std::mt19937 random(2);
    std::vector<qint64> rows;
    for (int i = 0; i < Samples; ++i)
        rows.push_back(1 + random() % RevisionStore::Items);
    const QDateTime snapshot = hour(1);
    std::vector<double> ours;
    for (qint64 row : rows) {
        const auto doc = std::static_pointer_cast<TDWDoc>(moc->objectWithID(TDWManagedObjectID::permanent(revisions.store->identifier(), QStringLiteral("Doc"), row)));
        const Clock::time_point start = Clock::now();
        const auto rev = TDWDocRev::latestForDoc(doc, snapshot, *moc, nullptr);
        ours.push_back(seconds(Clock::now() - start) * 1e6);
        if (!rev || rev->obsoletedDate() != hour(2))
            std::fprintf(stderr, "latest: wrong revision for %lld\n", row);
    }
    RawDb raw(revisions.store->path());
    sqlite3_stmt *select = raw.prepare("SELECT * FROM DocRev WHERE doc = ? AND firstSeenDate <= ? ORDER BY firstSeenDate DESC LIMIT 1");
    std::vector<double> floor;
    for (qint64 row : rows) {
        const Clock::time_point start = Clock::now();
        sqlite3_bind_int64(select, 1, row);
        sqlite3_bind_double(select, 2, stored(snapshot));
        while (sqlite3_step(select) == SQLITE_ROW)
            readRow(select);
        sqlite3_reset(select);
        floor.push_back(seconds(Clock::now() - start) * 1e6);
    }
    sqlite3_finalize(select);
    const QByteArray p90 = QStringLiteral("(p90 %1 us, floor p90 %2 us)").arg(percentile90(ours), 0, 'f', 1).arg(percentile90(floor), 0, 'f', 1).toUtf8();
    report("latest", "us", median(ours), median(floor), p90.constData());
}

void benchPage(RevisionStore &revisions)
{
    constexpr int Pages = 200;
    auto moc = TDWMasterStore::shared().newMoc();
    const QDateTime snapshot = hour(1);
    const TDWPredicate valid = TDWPredicate::parse(QStringLiteral("firstSeenDate <= %@ and (obsoletedDate = nil or obsoletedDate > %@)"),
                                                   {snapshot, snapshot});
    const QList<TDWSortDescriptor> byTitle{TDWSortDescriptor(QStringLiteral("title"), true, TDWSortDescriptor::CaseInsensitive)};
    std::vector<double> ours;
    long rssAfterFirst = 0;
    for (int i = 0; i < Pages; ++i) {
        const Clock::time_point start = Clock::now();
        const auto page = TDWDocRev::withPredicate(valid, byTitle, {revisions.store}, 50, 10000, *moc, nullptr);
        ours.push_back(seconds(Clock::now() - start) * 1e3);
        if (!page || page->size() != 50)
            std::fprintf(stderr, "page: %lld rows\n", page ? qint64(page->size()) : -1LL);
        if (i == 0)
            rssAfterFirst = residentKb();
    }
    const long rssGrowth = residentKb() - rssAfterFirst;
    RawDb raw(revisions.store->path());
    // The best plain SQL: the window's row ids from the index alone, then their rows.
    sqlite3_stmt *select = raw.prepare("SELECT * FROM DocRev WHERE pk IN (SELECT pk FROM DocRev WHERE firstSeenDate <= ?1 AND "
                                       "(obsoletedDate IS NULL OR obsoletedDate > ?1) ORDER BY title__ci, pk LIMIT 50 OFFSET 10000) "
                                       "ORDER BY title__ci, pk");
    std::vector<double> floor;
    for (int i = 0; i < Pages; ++i) {
        const Clock::time_point start = Clock::now();
        sqlite3_bind_double(select, 1, stored(snapshot));
        while (sqlite3_step(select) == SQLITE_ROW)
            readRow(select);
        sqlite3_reset(select);
        floor.push_back(seconds(Clock::now() - start) * 1e3);
    }
    sqlite3_finalize(select);
    const QByteArray extra = QStringLiteral("(resident memory after %1 more pages: %2%3 kB)").arg(Pages - 1).arg(rssGrowth >= 0 ? "+" : "").arg(rssGrowth).toUtf8();
    report("page", "ms", median(ours), median(floor), extra.constData());
}

void benchOpen(const QString &folder)
{
    constexpr int Runs = 15;
    QStringList accounts;
    for (int i = 0; i < 5; ++i)
        accounts << QStringLiteral("user%1@example.com").arg(i);
    {
        Stack stack(folder, accounts);
        for (const QString &account : accounts)
            for (const QString &service : Services)
                stack.storeMgr->storeForAccountUsername(account, service);
    }
    std::vector<double> ours;
    for (int run = 0; run < Runs; ++run) {
        const Clock::time_point start = Clock::now();
        auto coordinator = TDWMasterStore::shared().persistentStoreCoordinatorMigrating(false);
        auto storeMgr = TDWStoreMgr::initWithPersistentStoreCoordinator(coordinator, coordinator->persistentStores().first());
        ours.push_back(seconds(Clock::now() - start) * 1e3);
        if (!storeMgr || coordinator->persistentStores().size() != 31)
            std::fprintf(stderr, "open: %lld stores\n", qint64(coordinator->persistentStores().size()));
    }
    QStringList paths{TDWFileMgr::dataFilePath()};
    for (const QString &file : QDir(TDWFileMgr::auxiliaryStoresDir()).entryList({QStringLiteral("*.sqlite3")}, QDir::Files))
        paths << QDir(TDWFileMgr::auxiliaryStoresDir()).filePath(file);
    std::vector<double> floor;
    for (int run = 0; run < Runs; ++run) {
        const Clock::time_point start = Clock::now();
        std::vector<std::unique_ptr<RawDb>> open;
        for (const QString &path : paths) {
            open.push_back(std::make_unique<RawDb>(path));
            sqlite3_stmt *metadata = open.back()->prepare("SELECT key, value FROM tdw_metadata");
            while (sqlite3_step(metadata) == SQLITE_ROW)
                readRow(metadata);
            sqlite3_finalize(metadata);
        }
        floor.push_back(seconds(Clock::now() - start) * 1e3);
    }
    report("open", "ms", median(ours), median(floor), "(master store + 30 account-and-service stores)");
}

// The rule update as the scheduler runs it after a rule change, over one store
// of pending revisions that the rule all excludes; the floor selects the same
// rows and updates them 100 per transaction.
void benchRules(const QString &folder)
{
    constexpr int Items = 200000;
    Stack stack(folder);
    const QString username = QStringLiteral("bench@example.com");
    const TDWPersistentStorePtr store = stack.storeMgr->storeForAccountUsername(username, Docs);
    fillStore(store->path(), Items, 1, 1);
    TDWUserDefaults::standard()->setString(QStringLiteral("title CONTAINS[cd] \"report\""), QStringLiteral("dontbackuppredicate"));
    // The heap in use at each saved batch, beside where it began: flat when
    // the last batch holds no more than the first.
    std::vector<long> heapAtSaves;
    QObject receiver;
    QObject::connect(stack.coordinator.get(), &TDWPersistentStoreCoordinator::contextDidSave, &receiver,
                     [&heapAtSaves](const TDWSaveNotification &) { heapAtSaves.push_back(heapKb()); }, Qt::DirectConnection);
    const long heapBefore = heapKb();
    const Clock::time_point start = Clock::now();
    TDWRuleUpdateOperation update(QStringList{username}, QStringList{Docs});
    update.main();
    const double ours = seconds(Clock::now() - start);
    QObject::disconnect(stack.coordinator.get(), nullptr, &receiver, nullptr);
    TDWUserDefaults::standard()->removeObjectForKey(QStringLiteral("dontbackuppredicate"));
    if (!update.someDisabled())
        std::fprintf(stderr, "rules: nothing excluded\n");

    RawDb raw(store->path());
    const Clock::time_point floorStart = Clock::now();
    sqlite3_stmt *select = raw.prepare("SELECT r.pk FROM DocRev r JOIN Doc d ON d.pk = r.doc WHERE r.exportStatus = 5 AND r.latest = 1 "
                                       "AND d.deleted = 0 AND instr(r.title__ci, 'report') > 0");
    std::vector<qint64> rows;
    while (sqlite3_step(select) == SQLITE_ROW)
        rows.push_back(sqlite3_column_int64(select, 0));
    sqlite3_finalize(select);
    sqlite3_stmt *set = raw.prepare("UPDATE DocRev SET exportStatus = 1 WHERE pk = ? AND exportStatus != 3");
    for (size_t i = 0; i < rows.size(); ++i) {
        if (i % 100 == 0)
            raw.exec("BEGIN IMMEDIATE");
        sqlite3_bind_int64(set, 1, rows[i]);
        sqlite3_step(set);
        sqlite3_reset(set);
        if (i % 100 == 99 || i + 1 == rows.size())
            raw.exec("COMMIT");
    }
    sqlite3_finalize(set);
    const double floor = seconds(Clock::now() - floorStart);
    if (rows.size() != size_t(Items))
        std::fprintf(stderr, "rules: %zu revisions excluded of %d\n", rows.size(), Items);
    const long firstBatch = heapAtSaves.empty() ? 0 : heapAtSaves.front() - heapBefore;
    const long lastBatch = heapAtSaves.empty() ? 0 : heapAtSaves.back() - heapBefore;
    const QByteArray extra = QStringLiteral("(%1 revisions in %2 saves; heap +%3 kB at the first batch, +%4 kB at the last)")
                                 .arg(Items)
                                 .arg(heapAtSaves.size())
                                 .arg(firstBatch)
                                 .arg(lastBatch)
                                 .toUtf8();
    report("rules", "s", ours, floor, extra.constData());
}

// The recount of one store's download counters; the floor is the same grouped query.
void benchCounts(const QString &folder)
{
    constexpr int Items = 100000;
    constexpr int Runs = 9;
    Stack stack(folder);
    const QString username = QStringLiteral("bench@example.com");
    const TDWPersistentStorePtr store = stack.storeMgr->storeForAccountUsername(username, Docs);
    fillStore(store->path(), Items, 2);
    std::vector<double> ours;
    for (int run = 0; run < Runs; ++run) {
        const Clock::time_point start = Clock::now();
        TDWDownloadCountUpdateOperation recount(username, Docs);
        recount.main();
        ours.push_back(seconds(Clock::now() - start) * 1e3);
    }
    auto moc = TDWMasterStore::shared().newMoc();
    if (TDWAccount::byUsername(username, *moc, nullptr)->settingForService(Docs)->numDownloadsDone() != Items)
        std::fprintf(stderr, "counts: wrong count\n");

    RawDb raw(store->path());
    sqlite3_stmt *select = raw.prepare("SELECT r.exportStatus, count(r.exportStatus) FROM DocRev r JOIN Doc d ON d.pk = r.doc "
                                       "WHERE r.latest = 1 AND d.deleted = 0 AND d.includeInStatus = 1 GROUP BY r.exportStatus");
    std::vector<double> floor;
    for (int run = 0; run < Runs; ++run) {
        const Clock::time_point start = Clock::now();
        while (sqlite3_step(select) == SQLITE_ROW)
            readRow(select);
        sqlite3_reset(select);
        floor.push_back(seconds(Clock::now() - start) * 1e3);
    }
    sqlite3_finalize(select);
    report("counts", "ms", median(ours), median(floor), "(200,000 revisions, half of them latest)");
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("TIDEWELL_RESOURCES"))
        qputenv("TIDEWELL_RESOURCES", TDW_BENCH_RESOURCES);
    QCoreApplication app(argc, argv);
    QStringList wanted = app.arguments().mid(1);
    if (wanted.isEmpty())
        wanted = {QStringLiteral("insert"), QStringLiteral("listing"), QStringLiteral("docid"), QStringLiteral("latest"), QStringLiteral("page"), QStringLiteral("open"),
                  QStringLiteral("rules"), QStringLiteral("counts")};
    QTemporaryDir folder(QDir(qEnvironmentVariable("TDW_BENCH_DIR", QDir::tempPath())).filePath(QStringLiteral("bench-dataobjects-XXXXXX")));
    auto sub = [&folder](const char *name) { return QDir(folder.path()).filePath(QLatin1String(name)); };
    if (wanted.contains(QLatin1String("insert")))
        benchInsert(sub("insert"));
    if (wanted.contains(QLatin1String("listing")))
        benchListing(sub("listing"));
    if (wanted.contains(QLatin1String("docid")))
        benchDocId(sub("docid"));
    if (wanted.contains(QLatin1String("latest")) || wanted.contains(QLatin1String("page"))) {
        RevisionStore revisions(sub("revisions"));
        if (wanted.contains(QLatin1String("latest")))
            benchLatest(revisions);
        if (wanted.contains(QLatin1String("page")))
            benchPage(revisions);
    }
    if (wanted.contains(QLatin1String("open")))
        benchOpen(sub("open"));
    if (wanted.contains(QLatin1String("rules")))
        benchRules(sub("rules"));
    if (wanted.contains(QLatin1String("counts")))
        benchCounts(sub("counts"));
    // To look at the stores afterwards (e.g. at query plans with the sqlite3 shell).
    if (qEnvironmentVariableIsSet("TDW_BENCH_KEEP")) {
        folder.setAutoRemove(false);
        std::printf("stores kept in %s\n", qPrintable(folder.path()));
    }
    TDWFileMgr::reset();
    return 0;
}
