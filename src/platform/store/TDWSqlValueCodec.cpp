#include "platform/store/TDWSqlValueCodec.h"

#include "platform/store/TDWManagedObjectID.h"

#include <cmath>

namespace {
// 2001-01-01T00:00:00Z in milliseconds since the Unix epoch.
constexpr qint64 ReferenceDateMSecs = 978307200000LL;
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
    switch (value.metaType().id()) {
    case QMetaType::QString:
    case QMetaType::QByteArray:
    case QMetaType::Double:
    case QMetaType::LongLong:
        return value;
    case QMetaType::Bool:
        return qlonglong(value.toBool() ? 1 : 0);
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::ULongLong:
    case QMetaType::ULong:
        return qlonglong(value.toLongLong());
    case QMetaType::Float:
        return value.toDouble();
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
