#pragma once

#include "platform/store/TDWAttributeType.h"

#include <QDateTime>
#include <QVariant>

// The storage convention shared by every piece of SQL that touches our stores:
// dates are REAL seconds since 2001-01-01T00:00:00Z, booleans INTEGER 0/1, strings
// TEXT, data BLOB, integers INTEGER, object identifiers their row id.
class TDWSqlValueCodec
{
public:
    static double secondsSinceReferenceDate(const QDateTime &date);
    static QDateTime dateFromSecondsSinceReferenceDate(double seconds);

    // The value as SQLite stores it: a null QVariant, qlonglong, double, QString or QByteArray.
    static QVariant storageValue(const QVariant &value);
    // A value of the attribute's in-memory type made from a value of any type a caller
    // may pass (an int for an Integer, a QString for a Date is refused: null). A null
    // string, an invalid date and null data are no value (null), not "", 1970 or an empty blob.
    static QVariant coerce(const QVariant &value, TDWAttributeType type, bool *ok = nullptr);

    // The case-folded form used for case-insensitive ordering and the hidden key columns.
    static QString caseFolded(const QString &text);
};
