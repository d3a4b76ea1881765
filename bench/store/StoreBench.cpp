// Figures for the object store, each beside the same work done with raw prepared
// SQLite statements (the floor), with the ratio of the two. Run:
//   bench_store [--quick] [--dir <folder>]
// --quick uses a tenth of the sizes; --dir keeps the store files in a folder of
// your choice (default: a temporary folder, removed at the end).
#include "BenchModel.h"

#include "platform/store/TDWManagedObjectContext.h"
#include "platform/store/TDWPersistentStoreCoordinator.h"
#include "platform/store/TDWSqlValueCodec.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

struct Sizes
{
    int items = 100000;        // inserted and saved, in batches of 1000
    int lookupItems = 1000000; // items of the store that lookups search
    int revisions = 500000;    // revisions of that store (two per item for the first half)
    int stores = 30;           // stores a coordinator opens
    int samples = 2000;        // timed lookups
};

const QDateTime Base = QDateTime::fromString(QStringLiteral("2012-01-01T00:00:00Z"), Qt::ISODate);
const QDateTime Snapshot = Base.addDays(100);

double seconds(const QDateTime &date)
{
    return TDWSqlValueCodec::secondsSinceReferenceDate(date);
}

// Anonymous resident memory: the heap, without the store file's mapped pages.
long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("RssAnon:"))
            return line.mid(8).trimmed().split(' ').value(0).toLong();
    return 0;
}

// A title that sorts in no particular relation to its item number, in mixed case.
QString titleFor(int i)
{
    quint32 h = quint32(i) * 2654435761u;
    QString title;
    for (int c = 0; c < 8; ++c) {
        const char letter = char('a' + (h % 26));
        title.append(QLatin1Char(c == 0 && (h & 32) ? char(letter - 32) : letter));
        h = h * 1103515245u + 12345u;
    }
    return title + QStringLiteral(" %1").arg(i);
}

struct Timing
{
    double median = 0;
    double p90 = 0;
};

Timing summarize(QList<double> values)
{
    std::sort(values.begin(), values.end());
    if (values.isEmpty())
        return {};
    return {values[values.size() / 2], values[std::min<qsizetype>(values.size() - 1, values.size() * 9 / 10)]};
}

void report(const char *what, const QString &ours, double ourValue, const QString &raw, double rawValue, bool higherIsBetter)
{
    const double ratio = higherIsBetter ? rawValue / ourValue : ourValue / rawValue;
    std::printf("%s\n  store:   %s\n  raw:     %s\n  ratio:   %.2fx the floor\n", what, qPrintable(ours), qPrintable(raw), ratio);
    std::fflush(stdout);
}

// Raw SQLite with the store's own settings, on a file whose schema the store made.
class Raw
{
public:
    explicit Raw(const QString &path)
    {
        sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
        exec("PRAGMA foreign_keys=ON; PRAGMA synchronous=NORMAL; PRAGMA mmap_size=268435456; PRAGMA journal_mode=WAL;");
    }
    ~Raw()
    {
        for (sqlite3_stmt *statement : std::as_const(m_statements))
            sqlite3_finalize(statement);
        sqlite3_close_v2(m_db);
    }
    void exec(const char *sql) { sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr); }
    sqlite3_stmt *prepare(const char *sql)
    {
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK)
            std::fprintf(stderr, "prepare failed: %s\n", sqlite3_errmsg(m_db));
        m_statements.append(statement);
        return statement;
    }
    sqlite3 *db() const { return m_db; }

private:
    sqlite3 *m_db = nullptr;
    QList<sqlite3_stmt *> m_statements;
};

void bindText(sqlite3_stmt *statement, int index, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

QString textAt(sqlite3_stmt *statement, int column)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, column)), sqlite3_column_bytes(statement, column));
}

// Reads every column of a row the way the store would hand it over.
int readRow(sqlite3_stmt *statement)
{
    int touched = 0;
    for (int c = 0; c < sqlite3_column_count(statement); ++c) {
        switch (sqlite3_column_type(statement, c)) {
        case SQLITE_TEXT:
            touched += int(textAt(statement, c).size());
            break;
        case SQLITE_FLOAT:
            touched += TDWSqlValueCodec::dateFromSecondsSinceReferenceDate(sqlite3_column_double(statement, c)).isValid();
            break;
        default:
            touched += int(sqlite3_column_int64(statement, c) & 1);
        }
    }
    return touched;
}

const char *DocInsert = "INSERT INTO Doc (service, accountUsername, docId, docType, docTypeLabel, dirPath, deleted, insertDate, modifiedDate) "
                        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)";
const char *RevInsert = "INSERT INTO DocRev (title, title__ci, sortTitle, filePath, exportStatus, firstSeenDate, lastSeenDate, obsoletedDate, "
                        "lastModifiedDate, latest, insertDate, modifiedDate, doc) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

void rawInsertDoc(sqlite3_stmt *doc, int i, double now)
{
    bindText(doc, 1, QStringLiteral("docs"));
    bindText(doc, 2, QStringLiteral("someone@example.com"));
    bindText(doc, 3, QStringLiteral("doc-%1").arg(i));
    bindText(doc, 4, QStringLiteral("file"));
    bindText(doc, 5, QStringLiteral("File"));
    bindText(doc, 6, QStringLiteral("files/doc-%1").arg(i));
    sqlite3_bind_int64(doc, 7, 0);
    sqlite3_bind_double(doc, 8, now);
    sqlite3_bind_double(doc, 9, now);
    sqlite3_step(doc);
    sqlite3_reset(doc);
}

void rawInsertRev(sqlite3_stmt *rev, sqlite3_int64 doc, const QString &title, double firstSeen, double obsoleted, bool latest, double now)
{
    bindText(rev, 1, title);
    bindText(rev, 2, title.toCaseFolded());
    bindText(rev, 3, title);
    bindText(rev, 4, QStringLiteral("files/%1").arg(title));
    sqlite3_bind_int64(rev, 5, 1);
    sqlite3_bind_double(rev, 6, firstSeen);
    sqlite3_bind_double(rev, 7, firstSeen);
    if (obsoleted > 0)
        sqlite3_bind_double(rev, 8, obsoleted);
    else
        sqlite3_bind_null(rev, 8);
    sqlite3_bind_double(rev, 9, firstSeen);
    sqlite3_bind_int64(rev, 10, latest);
    sqlite3_bind_double(rev, 11, now);
    sqlite3_bind_double(rev, 12, now);
    sqlite3_bind_int64(rev, 13, doc);
    sqlite3_step(rev);
    sqlite3_reset(rev);
    sqlite3_clear_bindings(rev);
}

// Makes an empty store file with the store's schema and closes it again.
QString emptyStore(const QString &path)
{
    auto coordinator = std::make_shared<TDWPersistentStoreCoordinator>(benchmodel::model());
    TDWError error;
    if (!coordinator->addPersistentStore(benchmodel::Configuration, path, {}, &error))
        std::fprintf(stderr, "%s\n", qPrintable(error.description()));
    return path;
}

void benchInsert(const QDir &dir, const Sizes &sizes)
{
    const QString ourPath = emptyStore(dir.filePath(QStringLiteral("insert-store.sqlite3")));
    const QString rawPath = emptyStore(dir.filePath(QStringLiteral("insert-raw.sqlite3")));
    const double now = seconds(QDateTime::currentDateTimeUtc());

    double ourSeconds = 0;
    {
        auto coordinator = std::make_shared<TDWPersistentStoreCoordinator>(benchmodel::model());
        TDWPersistentStorePtr store = coordinator->addPersistentStore(benchmodel::Configuration, ourPath, {}, nullptr);
        TDWManagedObjectContext context(coordinator);
        const QDateTime stamp = QDateTime::currentDateTimeUtc();
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < sizes.items; ++i) {
            TDWManagedObjectPtr doc = context.insertNewObject(QStringLiteral("Doc"), store);
            doc->setValue(QStringLiteral("service"), QStringLiteral("docs"));
            doc->setValue(QStringLiteral("accountUsername"), QStringLiteral("someone@example.com"));
            doc->setValue(QStringLiteral("docId"), QStringLiteral("doc-%1").arg(i));
            doc->setValue(QStringLiteral("docType"), QStringLiteral("file"));
            doc->setValue(QStringLiteral("docTypeLabel"), QStringLiteral("File"));
            doc->setValue(QStringLiteral("dirPath"), QStringLiteral("files/doc-%1").arg(i));
            doc->setValue(QStringLiteral("insertDate"), stamp);
            doc->setValue(QStringLiteral("modifiedDate"), stamp);
            TDWManagedObjectPtr rev = context.insertNewObject(QStringLiteral("DocRev"), store);
            const QString title = titleFor(i);
            rev->setObjectValue(QStringLiteral("doc"), doc);
            rev->setValue(QStringLiteral("title"), title);
            rev->setValue(QStringLiteral("sortTitle"), title);
            rev->setValue(QStringLiteral("filePath"), QStringLiteral("files/%1").arg(title));
            rev->setValue(QStringLiteral("exportStatus"), 1);
            rev->setValue(QStringLiteral("firstSeenDate"), Base);
            rev->setValue(QStringLiteral("lastSeenDate"), Base);
            rev->setValue(QStringLiteral("lastModifiedDate"), Base);
            rev->setValue(QStringLiteral("latest"), true);
            rev->setValue(QStringLiteral("insertDate"), stamp);
            rev->setValue(QStringLiteral("modifiedDate"), stamp);
            if ((i + 1) % 1000 == 0 || i + 1 == sizes.items) {
                TDWError error;
                if (!context.save(&error))
                    std::fprintf(stderr, "save failed: %s\n", qPrintable(error.description()));
            }
        }
        ourSeconds = timer.nsecsElapsed() / 1e9;
    }
    double rawSeconds = 0;
    {
        Raw raw(rawPath);
        sqlite3_stmt *doc = raw.prepare(DocInsert);
        sqlite3_stmt *rev = raw.prepare(RevInsert);
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < sizes.items; ++i) {
            if (i % 1000 == 0)
                raw.exec("BEGIN IMMEDIATE");
            rawInsertDoc(doc, i, now);
            rawInsertRev(rev, sqlite3_last_insert_rowid(raw.db()), titleFor(i), seconds(Base), 0, true, now);
            if ((i + 1) % 1000 == 0 || i + 1 == sizes.items)
                raw.exec("COMMIT");
        }
        rawSeconds = timer.nsecsElapsed() / 1e9;
    }
    const double objects = 2.0 * sizes.items;
    report(qPrintable(QStringLiteral("Insert and save %1 items with one revision each, saved every 1000").arg(sizes.items)),
           QStringLiteral("%1 objects/s (%2 s)").arg(objects / ourSeconds, 0, 'f', 0).arg(ourSeconds, 0, 'f', 2), objects / ourSeconds,
           QStringLiteral("%1 objects/s (%2 s)").arg(objects / rawSeconds, 0, 'f', 0).arg(rawSeconds, 0, 'f', 2), objects / rawSeconds, true);
}

// The store searched by the lookups and pages: lookupItems items; the first
// revisions/2 of them have an old revision (valid until a date around the snapshot)
// and a current one (valid from that date).
QString buildLargeStore(const QDir &dir, const Sizes &sizes)
{
    const QString path = emptyStore(dir.filePath(QStringLiteral("large.sqlite3")));
    Raw raw(path);
    sqlite3_stmt *doc = raw.prepare(DocInsert);
    sqlite3_stmt *rev = raw.prepare(RevInsert);
    const double now = seconds(QDateTime::currentDateTimeUtc());
    const int withRevisions = sizes.revisions / 2;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < sizes.lookupItems; ++i) {
        if (i % 10000 == 0)
            raw.exec("BEGIN IMMEDIATE");
        rawInsertDoc(doc, i, now);
        if (i < withRevisions) {
            const sqlite3_int64 docRow = sqlite3_last_insert_rowid(raw.db());
            const double changed = seconds(Base.addDays(50 + i % 100));
            rawInsertRev(rev, docRow, titleFor(2 * i), seconds(Base.addDays(i % 50)), changed, false, now);
            rawInsertRev(rev, docRow, titleFor(2 * i + 1), changed, 0, true, now);
        }
        if ((i + 1) % 10000 == 0 || i + 1 == sizes.lookupItems)
            raw.exec("COMMIT");
    }
    raw.exec("PRAGMA wal_checkpoint(TRUNCATE); ANALYZE;");
    std::printf("(built a store of %d items and %d revisions in %.1f s)\n\n", sizes.lookupItems, 2 * withRevisions, timer.nsecsElapsed() / 1e9);
    return path;
}

// Times each run of work; a first untimed pass over other samples warms the caches.
Timing timeEach(int samples, const std::function<void(int)> &work)
{
    for (int i = samples - 1; i >= samples / 2; --i)
        work(i);
    QList<double> micros;
    micros.reserve(samples);
    QElapsedTimer timer;
    for (int i = 0; i < samples; ++i) {
        timer.start();
        work(i);
        micros.append(timer.nsecsElapsed() / 1000.0);
    }
    return summarize(micros);
}

QString micros(const Timing &timing)
{
    return QStringLiteral("median %1 µs, p90 %2 µs").arg(timing.median, 0, 'f', 1).arg(timing.p90, 0, 'f', 1);
}

void benchLookups(const QString &path, const Sizes &sizes)
{
    auto coordinator = std::make_shared<TDWPersistentStoreCoordinator>(benchmodel::model());
    TDWPersistentStorePtr store = coordinator->addPersistentStore(benchmodel::Configuration, path, {}, nullptr);
    TDWManagedObjectContext context(coordinator);
    Raw raw(path);
    QRandomGenerator random(42);
    QList<int> picks;
    for (int i = 0; i < sizes.samples; ++i)
        picks.append(int(random.bounded(sizes.lookupItems)));
    long checksum = 0;

    // By docId: the hand-written condition of a hot helper, and a predicate parsed per call.
    const Timing bySql = timeEach(sizes.samples, [&](int i) {
        TDWFetchRequest request(QStringLiteral("Doc"));
        request.setAffectedStores({store});
        request.setSqlCondition(QStringLiteral("t.docId = ?"), {QStringLiteral("doc-%1").arg(picks[i])});
        auto found = context.executeFetchRequest(request, nullptr);
        checksum += found && !found->isEmpty() ? found->first()->stringValue(QStringLiteral("docId")).size() : -1000000;
    });
    const Timing byPredicate = timeEach(sizes.samples, [&](int i) {
        TDWFetchRequest request(QStringLiteral("Doc"));
        request.setAffectedStores({store});
        request.setPredicate(TDWPredicate::parse(QStringLiteral("docId = %@"), {QStringLiteral("doc-%1").arg(picks[i])}));
        auto found = context.executeFetchRequest(request, nullptr);
        checksum += found && !found->isEmpty() ? found->first()->stringValue(QStringLiteral("docId")).size() : -1000000;
    });
    sqlite3_stmt *byDocId = raw.prepare("SELECT pk, service, accountUsername, docId, docType, docTypeLabel, dirPath, deleted, insertDate, modifiedDate "
                                        "FROM Doc WHERE docId = ?");
    const Timing rawLookup = timeEach(sizes.samples, [&](int i) {
        bindText(byDocId, 1, QStringLiteral("doc-%1").arg(picks[i]));
        while (sqlite3_step(byDocId) == SQLITE_ROW)
            checksum += readRow(byDocId);
        sqlite3_reset(byDocId);
    });
    report(qPrintable(QStringLiteral("Look up an item by docId among %1 items").arg(sizes.lookupItems)),
           micros(bySql) + QStringLiteral(" (SQL condition); ") + micros(byPredicate) + QStringLiteral(" (predicate parsed per call)"), bySql.median,
           micros(rawLookup), rawLookup.median, false);

    // The latest revision of an item at the snapshot date.
    const int withRevisions = sizes.revisions / 2;
    QList<TDWManagedObjectID> docs;
    for (int i = 0; i < sizes.samples; ++i)
        docs.append(TDWManagedObjectID::permanent(store->identifier(), QStringLiteral("Doc"), 1 + random.bounded(withRevisions)));
    const TDWPredicate latestAt = TDWPredicate::parse(QStringLiteral("doc = $doc AND firstSeenDate <= $date"));
    const Timing latest = timeEach(sizes.samples, [&](int i) {
        TDWFetchRequest request(QStringLiteral("DocRev"));
        request.setAffectedStores({store});
        request.setPredicate(latestAt.withSubstitutionVariables(
            {{QStringLiteral("doc"), QVariant::fromValue(docs[i].predicateObjectRef())}, {QStringLiteral("date"), Snapshot}}));
        request.setSortDescriptors({TDWSortDescriptor(QStringLiteral("firstSeenDate"), false)});
        request.setFetchLimit(1);
        auto found = context.executeFetchRequest(request, nullptr);
        checksum += found && !found->isEmpty() ? found->first()->stringValue(QStringLiteral("title")).size() : -1000000;
    });
    sqlite3_stmt *latestRaw = raw.prepare("SELECT pk, title, sortTitle, filePath, exportStatus, firstSeenDate, lastSeenDate, obsoletedDate, "
                                          "lastModifiedDate, latest, insertDate, modifiedDate, doc FROM DocRev "
                                          "WHERE doc = ? AND firstSeenDate <= ? ORDER BY firstSeenDate DESC LIMIT 1");
    const Timing latestFloor = timeEach(sizes.samples, [&](int i) {
        sqlite3_bind_int64(latestRaw, 1, docs[i].rowId());
        sqlite3_bind_double(latestRaw, 2, seconds(Snapshot));
        while (sqlite3_step(latestRaw) == SQLITE_ROW)
            checksum += readRow(latestRaw);
        sqlite3_reset(latestRaw);
    });
    const Timing latestBySql = timeEach(sizes.samples, [&](int i) {
        TDWFetchRequest request(QStringLiteral("DocRev"));
        request.setAffectedStores({store});
        request.setSqlCondition(QStringLiteral("t.doc = ? AND t.firstSeenDate <= ?"), {docs[i].rowId(), Snapshot});
        request.setSortDescriptors({TDWSortDescriptor(QStringLiteral("firstSeenDate"), false)});
        request.setFetchLimit(1);
        auto found = context.executeFetchRequest(request, nullptr);
        checksum += found && !found->isEmpty() ? found->first()->stringValue(QStringLiteral("title")).size() : -1000000;
    });
    report("Latest revision of an item at a snapshot date",
           micros(latestBySql) + QStringLiteral(" (SQL condition); ") + micros(latest) + QStringLiteral(" (predicate with substitution)"),
           latestBySql.median, micros(latestFloor), latestFloor.median, false);
    if (checksum < 0)
        std::printf("(some lookups found nothing)\n");
}

void benchPage(const QString &path, const Sizes &sizes)
{
    auto coordinator = std::make_shared<TDWPersistentStoreCoordinator>(benchmodel::model());
    TDWPersistentStorePtr store = coordinator->addPersistentStore(benchmodel::Configuration, path, {}, nullptr);
    const int offset = 10000;
    const int pages = 30;
    const TDWPredicate valid = TDWPredicate::parse(QStringLiteral("firstSeenDate <= %@ AND (obsoletedDate = nil OR obsoletedDate > %@)"),
                                                   {Snapshot, Snapshot});
    long checksum = 0;
    const long before = residentKiB();
    long peak = before;
    const Timing page = timeEach(pages, [&](int) {
        TDWManagedObjectContext context(coordinator);
        TDWFetchRequest request(QStringLiteral("DocRev"));
        request.setAffectedStores({store});
        request.setPredicate(valid);
        request.setSortDescriptors({TDWSortDescriptor(QStringLiteral("title"), true, TDWSortDescriptor::CaseInsensitive)});
        request.setFetchOffset(offset);
        request.setFetchLimit(50);
        request.setRelationshipKeyPathsForPrefetching({QStringLiteral("doc")});
        auto found = context.executeFetchRequest(request, nullptr);
        if (found)
            for (const TDWManagedObjectPtr &rev : *found)
                checksum += rev->objectValue(QStringLiteral("doc"))->stringValue(QStringLiteral("docId")).size();
        peak = std::max(peak, residentKiB());
    });
    Raw raw(path);
    sqlite3_stmt *pageRaw = raw.prepare("SELECT pk, title, sortTitle, filePath, exportStatus, firstSeenDate, lastSeenDate, obsoletedDate, "
                                        "lastModifiedDate, latest, insertDate, modifiedDate, doc FROM DocRev "
                                        "WHERE firstSeenDate <= ?1 AND (obsoletedDate IS NULL OR obsoletedDate > ?1) "
                                        "ORDER BY title__ci, pk LIMIT 50 OFFSET ?2");
    sqlite3_stmt *docsRaw = raw.prepare("SELECT pk, service, accountUsername, docId, docType, docTypeLabel, dirPath, deleted, insertDate, modifiedDate "
                                        "FROM Doc WHERE pk IN (SELECT value FROM json_each(?))");
    const Timing floor = timeEach(pages, [&](int) {
        sqlite3_bind_double(pageRaw, 1, seconds(Snapshot));
        sqlite3_bind_int64(pageRaw, 2, offset);
        QStringList docIds;
        while (sqlite3_step(pageRaw) == SQLITE_ROW) {
            checksum += readRow(pageRaw);
            docIds.append(QString::number(sqlite3_column_int64(pageRaw, 12)));
        }
        sqlite3_reset(pageRaw);
        bindText(docsRaw, 1, QLatin1Char('[') + docIds.join(QLatin1Char(',')) + QLatin1Char(']'));
        while (sqlite3_step(docsRaw) == SQLITE_ROW)
            checksum += readRow(docsRaw);
        sqlite3_reset(docsRaw);
    });
    auto millis = [](const Timing &t) { return QStringLiteral("median %1 ms, p90 %2 ms").arg(t.median / 1000, 0, 'f', 2).arg(t.p90 / 1000, 0, 'f', 2); };
    report(qPrintable(QStringLiteral("Page of 50 revisions valid at a snapshot, by title (case-insensitive), at offset %1 of %2 revisions, items prefetched")
                          .arg(offset)
                          .arg(sizes.revisions)),
           millis(page) + QStringLiteral("; heap grew %1 KiB over %2 pages").arg(peak - before).arg(pages), page.median, millis(floor),
           floor.median, false);
    if (checksum < 0)
        std::printf("(no pages)\n");
}

void benchOpen(const QDir &dir, const Sizes &sizes)
{
    QDir folder(dir.filePath(QStringLiteral("many")));
    folder.mkpath(QStringLiteral("."));
    QStringList paths;
    for (int i = 0; i < sizes.stores; ++i) {
        paths.append(folder.filePath(QStringLiteral("store-%1.sqlite3").arg(i)));
        auto coordinator = std::make_shared<TDWPersistentStoreCoordinator>(benchmodel::model());
        TDWPersistentStorePtr store = coordinator->addPersistentStore(benchmodel::Configuration, paths.last(), {}, nullptr);
        TDWManagedObjectContext context(coordinator);
        for (int d = 0; d < 100; ++d)
            context.insertNewObject(QStringLiteral("Doc"), store)->setValue(QStringLiteral("docId"), QString::number(d));
        context.save(nullptr);
    }
    const Timing open = timeEach(5, [&](int) {
        auto coordinator = std::make_shared<TDWPersistentStoreCoordinator>(benchmodel::model());
        for (const QString &path : std::as_const(paths)) {
            TDWError error;
            if (!coordinator->addPersistentStore(benchmodel::Configuration, path, {}, &error))
                std::fprintf(stderr, "%s\n", qPrintable(error.description()));
        }
    });
    const Timing floor = timeEach(5, [&](int) {
        QList<sqlite3 *> connections;
        for (const QString &path : std::as_const(paths)) {
            sqlite3 *db = nullptr;
            sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
            sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
            sqlite3_stmt *statement = nullptr;
            sqlite3_prepare_v2(db, "SELECT key, value FROM tdw_metadata", -1, &statement, nullptr);
            while (sqlite3_step(statement) == SQLITE_ROW)
                readRow(statement);
            sqlite3_finalize(statement);
            connections.append(db);
        }
        for (sqlite3 *db : connections)
            sqlite3_close_v2(db);
    });
    auto millis = [](const Timing &t) { return QStringLiteral("median %1 ms").arg(t.median / 1000, 0, 'f', 2); };
    report(qPrintable(QStringLiteral("Open a coordinator with %1 account-service stores").arg(sizes.stores)), millis(open), open.median,
           millis(floor), floor.median, false);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Sizes sizes;
    QString folder;
    const QStringList arguments = app.arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--quick")) {
            sizes.items /= 10;
            sizes.lookupItems /= 10;
            sizes.revisions /= 10;
            sizes.samples /= 4;
        } else if (arguments[i] == QLatin1String("--dir") && i + 1 < arguments.size()) {
            folder = arguments[++i];
        } else {
            std::fprintf(stderr, "usage: bench_store [--quick] [--dir <folder>]\n");
            return 2;
        }
    }
    QTemporaryDir temporary;
    const QDir dir(folder.isEmpty() ? temporary.path() : folder);
    dir.mkpath(QStringLiteral("."));
    std::printf("Object store figures (SQLite %s), files in %s\n\n", sqlite3_libversion(), qPrintable(dir.absolutePath()));
    benchInsert(dir, sizes);
    const QString large = buildLargeStore(dir, sizes);
    benchLookups(large, sizes);
    benchPage(large, sizes);
    benchOpen(dir, sizes);
    return 0;
}
