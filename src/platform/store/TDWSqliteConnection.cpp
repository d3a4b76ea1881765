#include "platform/store/TDWSqliteConnection.h"

#include "platform/foundation/TDWPrivateFiles.h"
#include "platform/predicate/TDWPredicateSql.h"
#include "platform/store/TDWSqlValueCodec.h"
#include "platform/store/TDWStoreError.h"

#include <QCollator>
#include <QFile>

#include <sqlite3.h>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Statements are keyed by SQL text; the per-object UPDATE statements vary with the
// set of changed columns, so the cache is bounded.
constexpr int MaxCachedStatements = 256;

QString utf8Text(int length, const void *data)
{
    return QString::fromUtf8(static_cast<const char *>(data), length);
}

// Case-insensitive order: the case-folded texts compared by code point (UTF-8 byte
// order), the same order as the hidden "__ci" columns give.
int compareFolded(void *, int lengthA, const void *a, int lengthB, const void *b)
{
    const QByteArray foldedA = TDWSqlValueCodec::caseFolded(utf8Text(lengthA, a)).toUtf8();
    const QByteArray foldedB = TDWSqlValueCodec::caseFolded(utf8Text(lengthB, b)).toUtf8();
    const int common = std::min(foldedA.size(), foldedB.size());
    const int result = common ? std::memcmp(foldedA.constData(), foldedB.constData(), size_t(common)) : 0;
    if (result != 0)
        return result;
    return foldedA.size() < foldedB.size() ? -1 : (foldedA.size() > foldedB.size() ? 1 : 0);
}

int compareLocalized(void *collator, int lengthA, const void *a, int lengthB, const void *b)
{
    return static_cast<QCollator *>(collator)->compare(utf8Text(lengthA, a), utf8Text(lengthB, b));
}

void destroyCollator(void *collator)
{
    delete static_cast<QCollator *>(collator);
}

} // namespace

TDWSqliteConnection::TDWSqliteConnection(sqlite3 *db, QString path, bool readOnly)
    : m_db(db)
    , m_path(std::move(path))
    , m_readOnly(readOnly)
{
}

TDWSqliteConnection::~TDWSqliteConnection()
{
    for (const CachedStatement &cached : std::as_const(m_statements))
        sqlite3_finalize(cached.statement);
    sqlite3_close_v2(m_db);
}

std::unique_ptr<TDWSqliteConnection> TDWSqliteConnection::open(const QString &path, const Options &options, TDWError *error)
{
    int flags = SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE;
    flags |= options.readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    if (options.create && !options.readOnly)
        flags |= SQLITE_OPEN_CREATE;
    if (flags & SQLITE_OPEN_CREATE) {
        // SQLite would make a new file 0644 less the umask, and the log and
        // shared-memory files it adds take the database file's mode: made
        // here first, the store and its side files are the user's alone. A
        // failure shows when SQLite opens the file.
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, TDWPrivateFiles::FileMode);
        if (fd >= 0)
            ::close(fd);
    }
    sqlite3 *db = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const QString message = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close_v2(db);
        tdwSetError(error, TDWStoreError::make(TDWStoreError::Sqlite, QStringLiteral("Unable to open %1: %2").arg(path, message),
                                               {{QStringLiteral("sqliteCode"), rc}}));
        return nullptr;
    }
    std::unique_ptr<TDWSqliteConnection> connection(new TDWSqliteConnection(db, path, options.readOnly));
    if (!connection->configure(options, error))
        return nullptr;
    return connection;
}

bool TDWSqliteConnection::configure(const Options &options, TDWError *error)
{
    sqlite3_busy_timeout(m_db, options.busyTimeoutMs);
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_create_collation_v2(m_db, "TDW_NOCASE", SQLITE_UTF8, nullptr, compareFolded, nullptr);
    auto *localized = new QCollator;
    sqlite3_create_collation_v2(m_db, "TDW_LOCALIZED", SQLITE_UTF8, localized, compareLocalized, destroyCollator);
    auto *localizedNoCase = new QCollator;
    localizedNoCase->setCaseSensitivity(Qt::CaseInsensitive);
    sqlite3_create_collation_v2(m_db, "TDW_LOCALIZED_NOCASE", SQLITE_UTF8, localizedNoCase, compareLocalized, destroyCollator);
    if (!TDWPredicateSql::registerFunctions(m_db)) {
        tdwSetError(error, errorFor(sqlite3_errcode(m_db), QStringLiteral("predicate functions")));
        return false;
    }
    // Every store is written in WAL mode, where NORMAL syncs the log at each
    // checkpoint instead of at each commit: a killed process still loses no
    // returned save, and a power loss can only take back the last saves, in
    // order, never tear the file. Losing those is safe here because every
    // backed-up file is synced before the save that records it, so the index
    // can lag the files but never run ahead of them; a sync per commit made
    // the bookkeeping that saves thousands of small batches (rule updates,
    // listings) several times slower.
    // Reads go through SQLite's own bounded page cache, not a memory map:
    // every mapped page a scan touches stays resident, so the process grew
    // with the store (by the whole mail store in one backup run) for a few
    // percent less CPU.
    return exec(QStringLiteral("PRAGMA foreign_keys=ON; PRAGMA synchronous=NORMAL; PRAGMA mmap_size=0;"), error);
}

TDWError TDWSqliteConnection::errorFor(int resultCode, const QString &context) const
{
    const QString message = QString::fromUtf8(sqlite3_errmsg(m_db));
    return TDWStoreError::make(TDWStoreError::Sqlite,
                               QStringLiteral("SQLite error %1 (%2) in %3: %4").arg(resultCode).arg(message, m_path, context),
                               {{QStringLiteral("sqliteCode"), resultCode}, {QStringLiteral("sql"), context}});
}

TDWSqliteStatement TDWSqliteConnection::prepare(const QString &sql, TDWError *error)
{
    auto it = m_statements.find(sql);
    if (it != m_statements.end() && !it->inUse) {
        it->inUse = true;
        it->lastUse = ++m_useCounter;
        return TDWSqliteStatement(this, it->statement, true);
    }
    const QByteArray utf8 = sql.toUtf8();
    sqlite3_stmt *statement = nullptr;
    const int rc = sqlite3_prepare_v3(m_db, utf8.constData(), int(utf8.size()), SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
    if (rc != SQLITE_OK) {
        tdwSetError(error, errorFor(rc, sql));
        sqlite3_finalize(statement);
        return {};
    }
    if (it != m_statements.end())
        return TDWSqliteStatement(this, statement, false);
    if (m_statements.size() >= MaxCachedStatements) {
        // Drop the idle statement used longest ago; hot ones stay prepared even when
        // many one-off statements pass through.
        auto oldest = m_statements.end();
        for (auto cached = m_statements.begin(); cached != m_statements.end(); ++cached)
            if (!cached->inUse && (oldest == m_statements.end() || cached->lastUse < oldest->lastUse))
                oldest = cached;
        if (oldest != m_statements.end()) {
            m_sqlByStatement.remove(oldest->statement);
            sqlite3_finalize(oldest->statement);
            m_statements.erase(oldest);
        }
    }
    m_statements.insert(sql, CachedStatement{statement, true, ++m_useCounter});
    m_sqlByStatement.insert(statement, sql);
    return TDWSqliteStatement(this, statement, true);
}

void TDWSqliteConnection::returnStatement(sqlite3_stmt *statement)
{
    auto sql = m_sqlByStatement.constFind(statement);
    if (sql == m_sqlByStatement.constEnd()) {
        sqlite3_finalize(statement);
        return;
    }
    m_statements[*sql].inUse = false;
}

bool TDWSqliteConnection::exec(const QString &sql, TDWError *error)
{
    char *message = nullptr;
    const int rc = sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &message);
    sqlite3_free(message);
    if (rc != SQLITE_OK) {
        tdwSetError(error, errorFor(rc, sql));
        return false;
    }
    return true;
}

void TDWSqliteConnection::rollback()
{
    if (inTransaction())
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

bool TDWSqliteConnection::inTransaction() const
{
    return !sqlite3_get_autocommit(m_db);
}
