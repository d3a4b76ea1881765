#include "platform/store/TDWSqlValueCodec.h"

#include "platform/foundation/TDWNumber.h"
#include "platform/store/TDWManagedObjectID.h"

#include <cmath>

namespace {
// 2001-01-01T00:00:00Z in milliseconds since the Unix epoch.
constexpr qint64 ReferenceDateMSecs = 978307200000LL;

// Whether an Integer attribute holds the number without changing it: an integer in
// the signed 64-bit range, or a finite real that rounds into it.
bool fitsInteger(const TDWNumber &number)
{
    if (number.isInteger())
        return number.toSigned().has_value();
    const double rounded = std::round(number.toDouble());
    return rounded >= -9223372036854775808.0 && rounded < 9223372036854775808.0;
}
} // namespace

double TDWSqlValueCodec::secondsSinceReferenceDate(const QDateTime &date)
{
    return double(date.toMSecsSinceEpoch() - ReferenceDateMSecs) / 1000.0;
}

QDateTime TDWSqlValueCodec::dateFromSecondsSinceReferenceDate(double seconds)
{
    return QDateTime::fromMSecsSinceEpoch(std::llround(seconds * 1000.0) + ReferenceDateMSecs, Qt::UTC);
}

QVariant TDWSqlValueCodec::storageValue(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return {};
    if (const std::optional<TDWNumber> number = TDWNumber::of(value)) {
        if (!number->isInteger())
            return number->toDouble();
        // An unsigned value above 2^63-1 keeps its 64 bits as the negative integer
        // stored files already hold for it; attributes refuse such values (coerce).
        const std::optional<qint64> integer = number->toSigned();
        return qlonglong(integer ? *integer : qint64(*number->toUnsigned()));
    }
    switch (value.metaType().id()) {
    case QMetaType::QString:
    case QMetaType::QByteArray:
        return value;
    case QMetaType::QDateTime:
        return secondsSinceReferenceDate(value.toDateTime());
    default:
        break;
    }
    if (value.metaType() == QMetaType::fromType<TDWManagedObjectID>())
        return qlonglong(value.value<TDWManagedObjectID>().rowId());
    return value.toString();
}

QVariant TDWSqlValueCodec::coerce(const QVariant &value, TDWAttributeType type, bool *ok)
{
    if (ok)
        *ok = true;
    if (!value.isValid() || value.isNull())
        return {};
    const int id = value.metaType().id();
    // Qt 6 variants holding a null string, an invalid date or null data are not
    // null themselves, but they mean "no value": stored, they would become "",
    // a date in 1970 or an empty blob.
    if ((id == QMetaType::QString && value.toString().isNull()) || (id == QMetaType::QDateTime && !value.toDateTime().isValid())
        || (id == QMetaType::QByteArray && value.toByteArray().isNull()))
        return {};
    auto refuse = [ok]() {
        if (ok)
            *ok = false;
        return QVariant();
    };
    switch (type) {
    case TDWAttributeType::String:
        if (id == QMetaType::QString)
            return value;
        return id == QMetaType::QByteArray ? refuse() : QVariant(value.toString());
    case TDWAttributeType::Integer:
    case TDWAttributeType::Double:
    case TDWAttributeType::Boolean: {
        if (id == QMetaType::QString || id == QMetaType::QByteArray || id == QMetaType::QDateTime)
            return refuse();
        const std::optional<TDWNumber> number = TDWNumber::of(value);
        if (type == TDWAttributeType::Integer && number && !fitsInteger(*number))
            return refuse();
        bool converted = false;
        QVariant result;
        if (type == TDWAttributeType::Integer)
            result = qlonglong(value.toLongLong(&converted));
        else if (type == TDWAttributeType::Double)
            result = value.toDouble(&converted);
        else {
            converted = value.canConvert<bool>();
            result = value.toBool();
        }
        return converted ? result : refuse();
    }
    case TDWAttributeType::Date:
        return id == QMetaType::QDateTime ? value : refuse();
    case TDWAttributeType::Binary:
    case TDWAttributeType::Json:
        if (id == QMetaType::QByteArray)
            return value;
        return id == QMetaType::QString ? QVariant(value.toString().toUtf8()) : refuse();
    }
    return refuse();
}

QString TDWSqlValueCodec::caseFolded(const QString &text)
{
    return text.toCaseFolded();
}
