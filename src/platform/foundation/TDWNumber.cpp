#include "platform/foundation/TDWNumber.h"

#include <cmath>
#include <limits>

namespace {

constexpr quint64 SignedMax = quint64(std::numeric_limits<qint64>::max());
// 2^63 and 2^64 are exact doubles; every double at or above 2^53 is whole.
constexpr double TwoTo63 = 9223372036854775808.0;
constexpr double TwoTo64 = 18446744073709551616.0;

template<typename T>
int sign(T a, T b)
{
    return a < b ? -1 : a > b ? 1 : 0;
}

// An integer against a double, exactly: the integer is given as its signed value,
// or when it has none as an unsigned one above the signed range.
int compareIntegerWithReal(std::optional<qint64> small, quint64 large, double d)
{
    if (std::isnan(d))
        return 0;
    if (d >= TwoTo64)
        return -1;
    if (d < -TwoTo63)
        return 1;
    if (!small)
        return d < TwoTo63 ? 1 : sign(large, quint64(d));
    if (d >= TwoTo63)
        return -1;
    const double whole = std::trunc(d);
    const int bySign = sign(*small, qint64(whole));
    if (bySign != 0)
        return bySign;
    return sign(whole, d);
}

} // namespace

std::optional<TDWNumber::Kind> TDWNumber::kindOf(QMetaType type)
{
    switch (type.id()) {
    case QMetaType::Bool:
        return Kind::Boolean;
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return Kind::Signed;
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return Kind::Unsigned;
    case QMetaType::Float:
    case QMetaType::Double:
        return Kind::Real;
    default:
        return std::nullopt;
    }
}

std::optional<TDWNumber> TDWNumber::of(const QVariant &value)
{
    const std::optional<Kind> kind = kindOf(value.metaType());
    if (!kind)
        return std::nullopt;
    TDWNumber number;
    number.m_kind = *kind;
    switch (*kind) {
    case Kind::Boolean:
        number.m_signed = value.toBool() ? 1 : 0;
        break;
    case Kind::Signed:
        number.m_signed = value.toLongLong();
        break;
    case Kind::Unsigned:
        number.m_unsigned = value.toULongLong();
        break;
    case Kind::Real:
        number.m_real = value.toDouble();
        break;
    }
    return number;
}

TDWNumber TDWNumber::fromUnsigned(quint64 value)
{
    TDWNumber number;
    number.m_kind = Kind::Unsigned;
    number.m_unsigned = value;
    return number;
}

std::optional<qint64> TDWNumber::toSigned() const
{
    switch (m_kind) {
    case Kind::Boolean:
    case Kind::Signed:
        return m_signed;
    case Kind::Unsigned:
        return m_unsigned <= SignedMax ? std::optional<qint64>(qint64(m_unsigned)) : std::nullopt;
    case Kind::Real:
        break;
    }
    return std::nullopt;
}

std::optional<quint64> TDWNumber::toUnsigned() const
{
    switch (m_kind) {
    case Kind::Boolean:
    case Kind::Signed:
        return m_signed >= 0 ? std::optional<quint64>(quint64(m_signed)) : std::nullopt;
    case Kind::Unsigned:
        return m_unsigned;
    case Kind::Real:
        break;
    }
    return std::nullopt;
}

double TDWNumber::toDouble() const
{
    switch (m_kind) {
    case Kind::Boolean:
    case Kind::Signed:
        return double(m_signed);
    case Kind::Unsigned:
        return double(m_unsigned);
    case Kind::Real:
        break;
    }
    return m_real;
}

int TDWNumber::compare(const TDWNumber &other) const
{
    if (!isInteger() && !other.isInteger())
        return sign(m_real, other.m_real);
    if (!isInteger())
        return -other.compare(*this);
    const std::optional<qint64> small = toSigned();
    if (!other.isInteger())
        return compareIntegerWithReal(small, small ? 0 : m_unsigned, other.m_real);
    const std::optional<qint64> otherSmall = other.toSigned();
    if (small && otherSmall)
        return sign(*small, *otherSmall);
    if (!small && !otherSmall)
        return sign(m_unsigned, other.m_unsigned);
    return small ? -1 : 1;
}

QVariant TDWNumber::toVariant() const
{
    switch (m_kind) {
    case Kind::Boolean:
        return m_signed != 0;
    case Kind::Signed:
        return qlonglong(m_signed);
    case Kind::Unsigned:
        return m_unsigned <= SignedMax ? QVariant(qlonglong(m_unsigned)) : QVariant(m_unsigned);
    case Kind::Real:
        break;
    }
    return m_real;
}
