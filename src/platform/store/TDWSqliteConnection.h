#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/store/TDWSqliteStatement.h"

#include <QHash>
#include <QString>

#include <memory>

struct sqlite3;

// One SQLite connection to one store file, used by one thread at a time, with a
// cache of prepared statements keyed by their SQL text. Every connection gets the
// same settings: WAL journal, a busy timeout, foreign keys on, and the collations
// our SQL uses for case-insensitive and localized ordering, and the functions that
// translated predicates call.
class TDWSqliteConnection
{
public:
    struct Options
    {
        bool readOnly = false;
        bool create = false;
        int busyTimeoutMs = 30000;
    };

    static std::unique_ptr<TDWSqliteConnection> open(const QString &path, const Options &options, TDWError *error);
    ~TDWSqliteConnection();
    TDWSqliteConnection(const TDWSqliteConnection &) = delete;
    TDWSqliteConnection &operator=(const TDWSqliteConnection &) = delete;

    sqlite3 *handle() const { return m_db; }
    const QString &path() const { return m_path; }
    bool isReadOnly() const { return m_readOnly; }

    // A statement from the cache (prepared on first use). When the cached one is
    // already in use further up the stack, a private copy is prepared instead.
    TDWSqliteStatement prepare(const QString &sql, TDWError *error);
    // Runs one or more statements that return no rows, without caching them.
    bool exec(const QString &sql, TDWError *error);

    // Transactions are opened through TDWSqliteTransaction; rollback() is for
    // the pool, which never takes back a connection with one open.
    void rollback();
    bool inTransaction() const;

    TDWError errorFor(int resultCode, const QString &context) const;

private:
    friend class TDWSqliteStatement;
    TDWSqliteConnection(sqlite3 *db, QString path, bool readOnly);
    void returnStatement(sqlite3_stmt *statement);
    bool configure(const Options &options, TDWError *error);

    struct CachedStatement
    {
        sqlite3_stmt *statement = nullptr;
        bool inUse = false;
        quint64 lastUse = 0;
    };

    sqlite3 *m_db = nullptr;
    QString m_path;
    bool m_readOnly = false;
    QHash<QString, CachedStatement> m_statements;
    QHash<sqlite3_stmt *, QString> m_sqlByStatement;
    quint64 m_useCounter = 0;
};
