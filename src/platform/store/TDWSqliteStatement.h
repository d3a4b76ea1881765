#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/store/TDWAttributeType.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

struct sqlite3_stmt;
class TDWSqliteConnection;

// One prepared statement borrowed from a connection's statement cache. Move-only;
// on destruction it is reset, its bindings cleared and it goes back to the cache
// (or is finalised when it was prepared outside the cache). Bind indexes start at 1,
// column indexes at 0, as in SQLite.
class TDWSqliteStatement
{
public:
    enum StepResult { Row, Done, Failed };

    TDWSqliteStatement() = default;
    TDWSqliteStatement(TDWSqliteConnection *connection, sqlite3_stmt *statement, bool cached);
    TDWSqliteStatement(TDWSqliteStatement &&other) noexcept;
    TDWSqliteStatement &operator=(TDWSqliteStatement &&other) noexcept;
    TDWSqliteStatement(const TDWSqliteStatement &) = delete;
    TDWSqliteStatement &operator=(const TDWSqliteStatement &) = delete;
    ~TDWSqliteStatement();

    bool isValid() const { return m_statement != nullptr; }
    sqlite3_stmt *handle() const { return m_statement; }

    void bindNull(int index);
    void bindInt64(int index, qint64 value);
    void bindDouble(int index, double value);
    void bindText(int index, const QString &value);
    void bindBlob(int index, const QByteArray &value);
    // Binds any value by the storage convention (TDWSqlValueCodec).
    void bindValue(int index, const QVariant &value);
    // Binds a value already in the attribute's in-memory type.
    void bindAttributeValue(int index, const QVariant &value, TDWAttributeType type);

    // Steps once; a failure fills error with the connection's message.
    StepResult step(TDWError *error);
    // Steps until done (for statements that return no rows).
    bool execute(TDWError *error);

    int columnCount() const;
    bool isNull(int column) const;
    qint64 int64At(int column) const;
    double doubleAt(int column) const;
    QString textAt(int column) const;
    QByteArray blobAt(int column) const;
    // The column's value in its storage form (null, qlonglong, double, QString, QByteArray).
    QVariant storageValueAt(int column) const;
    // The column's value read as an attribute of the given type.
    QVariant attributeValueAt(int column, TDWAttributeType type) const;

private:
    void release();

    TDWSqliteConnection *m_connection = nullptr;
    sqlite3_stmt *m_statement = nullptr;
    bool m_cached = false;
};
