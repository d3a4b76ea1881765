#include "platform/store/TDWSqliteStatement.h"

#include "platform/store/TDWSqlValueCodec.h"
#include "platform/store/TDWSqliteConnection.h"

#include <sqlite3.h>

TDWSqliteStatement::TDWSqliteStatement(TDWSqliteConnection *connection, sqlite3_stmt *statement, bool cached)
    : m_connection(connection)
    , m_statement(statement)
    , m_cached(cached)
{
}

TDWSqliteStatement::TDWSqliteStatement(TDWSqliteStatement &&other) noexcept
    : m_connection(std::exchange(other.m_connection, nullptr))
    , m_statement(std::exchange(other.m_statement, nullptr))
    , m_cached(other.m_cached)
{
}

TDWSqliteStatement &TDWSqliteStatement::operator=(TDWSqliteStatement &&other) noexcept
{
    if (this != &other) {
        release();
        m_connection = std::exchange(other.m_connection, nullptr);
        m_statement = std::exchange(other.m_statement, nullptr);
        m_cached = other.m_cached;
    }
    return *this;
}

TDWSqliteStatement::~TDWSqliteStatement()
{
    release();
}

void TDWSqliteStatement::release()
{
    if (!m_statement)
        return;
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
    if (m_cached)
        m_connection->returnStatement(m_statement);
    else
        sqlite3_finalize(m_statement);
    m_statement = nullptr;
    m_connection = nullptr;
}

void TDWSqliteStatement::bindNull(int index)
{
    sqlite3_bind_null(m_statement, index);
}

void TDWSqliteStatement::bindInt64(int index, qint64 value)
{
    sqlite3_bind_int64(m_statement, index, value);
}

void TDWSqliteStatement::bindDouble(int index, double value)
{
    sqlite3_bind_double(m_statement, index, value);
}

void TDWSqliteStatement::bindText(int index, const QString &value)
{
    // Converted to the file's UTF-8 here: Qt's conversion costs a copy but is
    // several times faster than SQLite's own, which every bound string paid.
    const QByteArray utf8 = value.toUtf8();
    sqlite3_bind_text(m_statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

void TDWSqliteStatement::bindBlob(int index, const QByteArray &value)
{
    sqlite3_bind_blob64(m_statement, index, value.constData(), sqlite3_uint64(value.size()), SQLITE_TRANSIENT);
}

void TDWSqliteStatement::bindValue(int index, const QVariant &value)
{
    const QVariant stored = TDWSqlValueCodec::storageValue(value);
    switch (stored.metaType().id()) {
    case QMetaType::LongLong:
        bindInt64(index, stored.toLongLong());
        break;
    case QMetaType::Double:
        bindDouble(index, stored.toDouble());
        break;
    case QMetaType::QString:
        bindText(index, stored.toString());
        break;
    case QMetaType::QByteArray:
        bindBlob(index, stored.toByteArray());
        break;
    default:
        bindNull(index);
    }
}

void TDWSqliteStatement::bindAttributeValue(int index, const QVariant &value, TDWAttributeType type)
{
    if (value.isNull()) {
        bindNull(index);
        return;
    }
    switch (type) {
    case TDWAttributeType::String:
        bindText(index, value.toString());
        break;
    case TDWAttributeType::Integer:
        bindInt64(index, value.toLongLong());
        break;
    case TDWAttributeType::Boolean:
        bindInt64(index, value.toBool() ? 1 : 0);
        break;
    case TDWAttributeType::Double:
        bindDouble(index, value.toDouble());
        break;
    case TDWAttributeType::Date:
        bindDouble(index, TDWSqlValueCodec::secondsSinceReferenceDate(value.toDateTime()));
        break;
    case TDWAttributeType::Binary:
        bindBlob(index, value.toByteArray());
        break;
    case TDWAttributeType::Json: {
        // Stored as TEXT so the archive stays readable with any SQLite tool.
        const QByteArray json = value.toByteArray();
        sqlite3_bind_text(m_statement, index, json.constData(), int(json.size()), SQLITE_TRANSIENT);
        break;
    }
    }
}

TDWSqliteStatement::StepResult TDWSqliteStatement::step(TDWError *error)
{
    const int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_ROW)
        return Row;
    if (rc == SQLITE_DONE)
        return Done;
    tdwSetError(error, m_connection->errorFor(rc, QString::fromUtf8(sqlite3_sql(m_statement))));
    sqlite3_reset(m_statement);
    return Failed;
}

bool TDWSqliteStatement::execute(TDWError *error)
{
    for (;;) {
        switch (step(error)) {
        case Row:
            continue;
        case Done:
            sqlite3_reset(m_statement);
            return true;
        case Failed:
            return false;
        }
    }
}

int TDWSqliteStatement::columnCount() const
{
    return sqlite3_column_count(m_statement);
}

bool TDWSqliteStatement::isNull(int column) const
{
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

qint64 TDWSqliteStatement::int64At(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

double TDWSqliteStatement::doubleAt(int column) const
{
    return sqlite3_column_double(m_statement, column);
}

QString TDWSqliteStatement::textAt(int column) const
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
    return QString::fromUtf8(text, sqlite3_column_bytes(m_statement, column));
}

QByteArray TDWSqliteStatement::blobAt(int column) const
{
    const auto *data = static_cast<const char *>(sqlite3_column_blob(m_statement, column));
    return QByteArray(data, sqlite3_column_bytes(m_statement, column));
}

QVariant TDWSqliteStatement::storageValueAt(int column) const
{
    switch (sqlite3_column_type(m_statement, column)) {
    case SQLITE_INTEGER:
        return qlonglong(int64At(column));
    case SQLITE_FLOAT:
        return doubleAt(column);
    case SQLITE_TEXT:
        return textAt(column);
    case SQLITE_BLOB:
        return blobAt(column);
    default:
        return {};
    }
}

QVariant TDWSqliteStatement::attributeValueAt(int column, TDWAttributeType type) const
{
    if (isNull(column))
        return {};
    switch (type) {
    case TDWAttributeType::String:
        return textAt(column);
    case TDWAttributeType::Integer:
        return qlonglong(int64At(column));
    case TDWAttributeType::Boolean:
        return int64At(column) != 0;
    case TDWAttributeType::Double:
        return doubleAt(column);
    case TDWAttributeType::Date:
        return TDWSqlValueCodec::dateFromSecondsSinceReferenceDate(doubleAt(column));
    case TDWAttributeType::Binary:
        return blobAt(column);
    case TDWAttributeType::Json: {
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
        return QByteArray(text, sqlite3_column_bytes(m_statement, column));
    }
    }
    return {};
}
