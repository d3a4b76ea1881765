#pragma once

#include <QMetaType>
#include <QVariant>

#include <optional>

// The number a QVariant holds, whatever its C++ type: a boolean, a signed or an
// unsigned integer kept exactly in 64 bits, or a floating-point value. Everything
// that stores, prints, converts or compares numbers asks this class, so a 64-bit
// unsigned value is never narrowed or sent through a double by accident.
class TDWNumber
{
public:
    enum class Kind { Boolean, Signed, Unsigned, Real };

    // The kind of number values of this type are; none for a type that holds no number.
    static std::optional<Kind> kindOf(QMetaType type);
    // The number the value holds; none for nil and for anything that is not a number
    // (a string of digits included).
    static std::optional<TDWNumber> of(const QVariant &value);
    static TDWNumber fromUnsigned(quint64 value);

    Kind kind() const { return m_kind; }
    bool isInteger() const { return m_kind != Kind::Real; }
    // The exact value when it is an integer that fits the type; none otherwise
    // (a real, a negative value as unsigned, an unsigned one above 2^63-1 as signed).
    std::optional<qint64> toSigned() const;
    std::optional<quint64> toUnsigned() const;
    // The nearest double (integers beyond 2^53 are rounded).
    double toDouble() const;

    // Exact order, the way SQLite orders its numbers: integers by value whatever their
    // signedness, an integer against a real without rounding either. A NaN is unordered
    // and compares as equal.
    int compare(const TDWNumber &other) const;

    // The value in its plainest exact form: bool, qlonglong, quint64 only above
    // qlonglong's range, or double.
    QVariant toVariant() const;

private:
    TDWNumber() = default;

    Kind m_kind = Kind::Signed;
    union {
        qint64 m_signed = 0;
        quint64 m_unsigned;
        double m_real;
    };
};
