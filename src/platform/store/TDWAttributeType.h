#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMetaType>
#include <QString>

// Value types an attribute can hold. Each maps to one SQLite storage class:
// String TEXT, Integer and Boolean INTEGER (0/1), Double REAL, Date REAL seconds
// since 2001-01-01T00:00:00Z, Binary BLOB, Json TEXT (the JSON form of an archived value).
enum class TDWAttributeType {
    String,
    Integer,
    Double,
    Boolean,
    Date,
    Binary,
    Json,
};

// The in-memory type a caller reads from an attribute of this type.
inline QMetaType tdwMetaTypeForAttributeType(TDWAttributeType type)
{
    switch (type) {
    case TDWAttributeType::String:
        return QMetaType::fromType<QString>();
    case TDWAttributeType::Integer:
        return QMetaType::fromType<qlonglong>();
    case TDWAttributeType::Double:
        return QMetaType::fromType<double>();
    case TDWAttributeType::Boolean:
        return QMetaType::fromType<bool>();
    case TDWAttributeType::Date:
        return QMetaType::fromType<QDateTime>();
    case TDWAttributeType::Binary:
    case TDWAttributeType::Json:
        return QMetaType::fromType<QByteArray>();
    }
    return {};
}
