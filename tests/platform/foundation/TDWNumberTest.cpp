#include "platform/foundation/TDWNumber.h"

#include <QDateTime>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr qint64 SignedMax = std::numeric_limits<qint64>::max();
constexpr qint64 SignedMin = std::numeric_limits<qint64>::min();
constexpr quint64 UnsignedMax = std::numeric_limits<quint64>::max();
constexpr qint64 TwoTo53 = qint64(1) << 53;

} // namespace

TEST(TDWNumber, ClassifiesEveryNumericTypeAndNothingElse)
{
    using Kind = TDWNumber::Kind;
    const struct
    {
        const char *name;
        QVariant value;
        std::optional<Kind> kind;
        std::optional<qint64> asSigned;
        std::optional<quint64> asUnsigned;
    } rows[] = {
        {"bool", QVariant(true), Kind::Boolean, 1, 1},
        {"char", QVariant::fromValue<signed char>(-5), Kind::Signed, -5, std::nullopt},
        {"short", QVariant::fromValue<short>(-300), Kind::Signed, -300, std::nullopt},
        {"int", QVariant(-7), Kind::Signed, -7, std::nullopt},
        {"long", QVariant::fromValue<long>(SignedMin), Kind::Signed, SignedMin, std::nullopt},
        {"long long", QVariant(qlonglong(SignedMax)), Kind::Signed, SignedMax, quint64(SignedMax)},
        {"unsigned char", QVariant::fromValue<uchar>(200), Kind::Unsigned, 200, 200},
        {"unsigned short", QVariant::fromValue<ushort>(65535), Kind::Unsigned, 65535, 65535},
        {"unsigned int", QVariant(uint(4000000000u)), Kind::Unsigned, 4000000000LL, 4000000000u},
        {"unsigned long", QVariant::fromValue<ulong>(UnsignedMax), Kind::Unsigned, std::nullopt, UnsignedMax},
        {"2^63 unsigned", QVariant(quint64(SignedMax) + 1), Kind::Unsigned, std::nullopt, quint64(SignedMax) + 1},
        {"float", QVariant(1.5f), Kind::Real, std::nullopt, std::nullopt},
        {"whole double", QVariant(3.0), Kind::Real, std::nullopt, std::nullopt},
        {"nil", QVariant(), std::nullopt, std::nullopt, std::nullopt},
        {"digits", QVariant(QStringLiteral("12")), std::nullopt, std::nullopt, std::nullopt},
        {"date", QVariant(QDateTime::currentDateTimeUtc()), std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const std::optional<TDWNumber> number = TDWNumber::of(row.value);
        EXPECT_EQ(TDWNumber::kindOf(row.value.metaType()), row.kind);
        ASSERT_EQ(number.has_value(), row.kind.has_value());
        if (!number)
            continue;
        EXPECT_EQ(number->kind(), *row.kind);
        EXPECT_EQ(number->isInteger(), *row.kind != Kind::Real);
        EXPECT_EQ(number->toSigned(), row.asSigned);
        EXPECT_EQ(number->toUnsigned(), row.asUnsigned);
    }
}

TEST(TDWNumber, PlainestFormKeepsEveryValueExact)
{
    const struct
    {
        QVariant value;
        QVariant expected;
    } rows[] = {
        {QVariant(false), QVariant(false)},
        {QVariant(short(-3)), QVariant(qlonglong(-3))},
        {QVariant(uint(7)), QVariant(qlonglong(7))},
        {QVariant(quint64(SignedMax)), QVariant(qlonglong(SignedMax))},
        {QVariant(quint64(SignedMax) + 1), QVariant(quint64(SignedMax) + 1)},
        {QVariant(UnsignedMax), QVariant(UnsignedMax)},
        {QVariant(2.5f), QVariant(2.5)},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.value.toString().toStdString());
        const QVariant plain = TDWNumber::of(row.value)->toVariant();
        EXPECT_EQ(plain.metaType(), row.expected.metaType());
        EXPECT_EQ(plain, row.expected);
    }
    EXPECT_EQ(TDWNumber::fromUnsigned(UnsignedMax).toVariant(), QVariant(UnsignedMax));
    EXPECT_EQ(TDWNumber::fromUnsigned(42).toVariant(), QVariant(qlonglong(42)));
}

// Each row: a < b. Every pair is also checked reversed and against itself.
TEST(TDWNumber, ComparesExactlyAcrossSignednessAndReals)
{
    const quint64 twoTo63 = quint64(SignedMax) + 1;
    const struct
    {
        const char *name;
        QVariant a;
        QVariant b;
    } rows[] = {
        {"adjacent unsigned beyond doubles", QVariant(quint64(1600000000000000000ULL)), QVariant(quint64(1600000000000000001ULL))},
        {"signed against unsigned of the next value", QVariant(qlonglong(1600000000000000000LL)), QVariant(quint64(1600000000000000001ULL))},
        {"2^63-1 against 2^63", QVariant(qlonglong(SignedMax)), QVariant(twoTo63)},
        {"2^64-2 against 2^64-1", QVariant(UnsignedMax - 1), QVariant(UnsignedMax)},
        {"negative against the largest unsigned", QVariant(-1), QVariant(UnsignedMax)},
        {"most negative against zero unsigned", QVariant(qlonglong(SignedMin)), QVariant(uint(0))},
        {"2^53 against 2^53+1", QVariant(qlonglong(TwoTo53)), QVariant(qlonglong(TwoTo53 + 1))},
        {"the double 2^53 against 2^53+1", QVariant(double(TwoTo53)), QVariant(qlonglong(TwoTo53 + 1))},
        {"2^63-1 against the double 2^63", QVariant(qlonglong(SignedMax)), QVariant(9223372036854775808.0)},
        {"the double 2^63 against 2^63+1", QVariant(9223372036854775808.0), QVariant(twoTo63 + 1)},
        {"2^64-1 against the double 2^64", QVariant(UnsignedMax), QVariant(18446744073709551616.0)},
        {"the largest double below 2^64 against 2^64-1", QVariant(std::nextafter(18446744073709551616.0, 0.0)), QVariant(UnsignedMax)},
        {"a fraction below a whole", QVariant(2.5), QVariant(3)},
        {"a whole below a fraction", QVariant(-3), QVariant(-2.5)},
        {"below the signed range", QVariant(-9223372036854777856.0), QVariant(qlonglong(SignedMin))},
        {"false below true", QVariant(false), QVariant(true)},
        {"true below two", QVariant(true), QVariant(2.0)},
        {"reals", QVariant(-0.5), QVariant(0.25f)},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const TDWNumber a = *TDWNumber::of(row.a);
        const TDWNumber b = *TDWNumber::of(row.b);
        EXPECT_EQ(a.compare(b), -1);
        EXPECT_EQ(b.compare(a), 1);
        EXPECT_EQ(a.compare(a), 0);
        EXPECT_EQ(b.compare(b), 0);
    }
}

TEST(TDWNumber, EqualValuesOfDifferentTypesCompareEqual)
{
    const struct
    {
        QVariant a;
        QVariant b;
    } rows[] = {
        {QVariant(true), QVariant(1)},
        {QVariant(uint(5)), QVariant(qlonglong(5))},
        {QVariant(quint64(SignedMax)), QVariant(qlonglong(SignedMax))},
        {QVariant(quint64(SignedMax) + 1), QVariant(9223372036854775808.0)},
        {QVariant(qlonglong(SignedMin)), QVariant(-9223372036854775808.0)},
        {QVariant(qlonglong(TwoTo53)), QVariant(double(TwoTo53))},
        {QVariant(1.5f), QVariant(1.5)},
        {QVariant(std::nan("")), QVariant(1)},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.a.toString().toStdString() + " = " + row.b.toString().toStdString());
        EXPECT_EQ(TDWNumber::of(row.a)->compare(*TDWNumber::of(row.b)), 0);
        EXPECT_EQ(TDWNumber::of(row.b)->compare(*TDWNumber::of(row.a)), 0);
    }
}
