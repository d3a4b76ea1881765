#include "StoreTestModel.h"

#include "platform/store/TDWJsonArchive.h"
#include "platform/store/TDWStoreError.h"

#include <QDateTime>

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(JsonArchive, PropertyListValuesRoundTrip)
{
    QDateTime when = QDateTime::fromString(QStringLiteral("2013-07-08T09:10:11.125Z"), Qt::ISODateWithMs);
    const QVariantMap value{
        {QStringLiteral("flag"), true},
        {QStringLiteral("count"), qlonglong(1) << 40},
        {QStringLiteral("ratio"), 0.5},
        {QStringLiteral("name"), QStringLiteral("Zoë \"quoted\"")},
        {QStringLiteral("when"), when},
        {QStringLiteral("bytes"), QByteArray("\x00\xfe", 2)},
        {QStringLiteral("nothing"), QVariant()},
        {QStringLiteral("$date"), QStringLiteral("a key that looks like a marker")},
        {QStringLiteral("list"), QVariantList{1, QStringLiteral("two"), QVariantMap{{QStringLiteral("three"), 3.0}}}},
    };
    TDWError error;
    const QVariant back = TDWJsonArchive::unarchive(TDWJsonArchive::archive(value), &error);
    EXPECT_TRUE(error.isNull());
    const QVariantMap map = back.toMap();
    EXPECT_EQ(map.value(QStringLiteral("count")).toLongLong(), qlonglong(1) << 40);
    EXPECT_EQ(map.value(QStringLiteral("when")).toDateTime(), when);
    EXPECT_EQ(map.value(QStringLiteral("bytes")).toByteArray(), QByteArray("\x00\xfe", 2));
    EXPECT_EQ(map.value(QStringLiteral("$date")).toString(), QStringLiteral("a key that looks like a marker"));
    EXPECT_TRUE(map.contains(QStringLiteral("nothing")) && map.value(QStringLiteral("nothing")).isNull());
    EXPECT_EQ(map.value(QStringLiteral("list")).toList().at(2).toMap().value(QStringLiteral("three")).toDouble(), 3.0);
    EXPECT_EQ(map.value(QStringLiteral("name")).toString(), QStringLiteral("Zoë \"quoted\""));
    EXPECT_EQ(map.keys(), value.keys());
}

TEST(JsonArchive, TextThatIsNoArchiveIsReported)
{
    for (const QByteArray &bad : {QByteArray("{\"a\":"), QByteArray("\xff\xfe"), QByteArray("{\"$odd\": 1}"), QByteArray()}) {
        TDWError error;
        EXPECT_TRUE(TDWJsonArchive::unarchive(bad, &error).isNull());
        EXPECT_FALSE(error.isNull()) << bad.toStdString();
    }
}

// Integers come back with their exact value; those above 2^63-1 stay unsigned
// instead of turning negative.
TEST(JsonArchive, IntegersKeepTheirValueAndSign)
{
    constexpr qint64 SignedMax = std::numeric_limits<qint64>::max();
    const struct
    {
        QVariant value;
        QVariant expected;
    } rows[] = {
        {QVariant(qlonglong(std::numeric_limits<qint64>::min())), QVariant(qlonglong(std::numeric_limits<qint64>::min()))},
        {QVariant(qlonglong(SignedMax)), QVariant(qlonglong(SignedMax))},
        {QVariant(uint(4000000000u)), QVariant(qlonglong(4000000000LL))},
        {QVariant(quint64(SignedMax) + 1), QVariant(quint64(SignedMax) + 1)},
        {QVariant::fromValue<ulong>(std::numeric_limits<ulong>::max()), QVariant(std::numeric_limits<quint64>::max())},
        {QVariant(1.5f), QVariant(1.5)},
        {QVariant(false), QVariant(false)},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.value.toString().toStdString());
        TDWError error;
        const QVariant back = TDWJsonArchive::unarchive(TDWJsonArchive::archive(QVariantList{row.value}), &error);
        ASSERT_TRUE(error.isNull()) << error.description().toStdString();
        const QVariant element = back.toList().value(0);
        EXPECT_EQ(element.metaType(), row.expected.metaType());
        EXPECT_EQ(element, row.expected);
    }
    EXPECT_EQ(TDWJsonArchive::archive(QVariant(std::numeric_limits<quint64>::max())), QByteArray("18446744073709551615"));
    EXPECT_EQ(TDWJsonArchive::unarchive("[18446744073709551615]", nullptr), QVariant(QVariantList{std::numeric_limits<quint64>::max()}));
}

// Archives not written by archive() (older versions, edits by hand) read the same
// whichever of the two readers takes them: repeated keys (the last one counts),
// markers with integer seconds, escaped "$" keys, numbers of every kind.
TEST(JsonArchive, TextsFromElsewhereReadAsWritten)
{
    const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    const struct
    {
        QByteArray text;
        QVariant expected;
    } rows[] = {
        {R"({"a": 1, "a": 2})", QVariantMap{{QStringLiteral("a"), qlonglong(2)}}},
        {R"({"$date": 1, "$date": 2})", reference.addSecs(2)},
        {R"({"$date": 10})", reference.addSecs(10)},
        {R"({"$date": 1.5})", reference.addMSecs(1500)},
        {R"({"$data": "AP4="})", QByteArray("\x00\xfe", 2)},
        {R"({"$$data": "x", "$$$y": [1.0, -2, 3e2, null, true]})",
         QVariantMap{{QStringLiteral("$data"), QStringLiteral("x")},
                     {QStringLiteral("$$y"), QVariantList{1.0, qlonglong(-2), 300.0, QVariant(), true}}}},
        {"  [\"caf\\u00e9\", 9223372036854775808]  ", QVariantList{QStringLiteral("café"), quint64(9223372036854775808ULL)}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text.toStdString());
        TDWError error;
        const QVariant back = TDWJsonArchive::unarchive(row.text, &error);
        ASSERT_TRUE(error.isNull()) << error.description().toStdString();
        EXPECT_EQ(back, row.expected);
    }
    TDWError error;
    EXPECT_TRUE(TDWJsonArchive::unarchive(R"({"$x": 1, "$$x": 2})", &error).isNull());
    EXPECT_FALSE(error.isNull());
}

// A stored value nested beyond what any archive we write holds is refused with an
// error, without recursing through it.
TEST(JsonArchive, NestingIsBounded)
{
    const auto nested = [](int depth, const QByteArray &open, const QByteArray &close) { return open.repeated(depth) + close.repeated(depth); };
    TDWError error;
    EXPECT_TRUE(TDWJsonArchive::unarchive(nested(TDWJsonArchive::MaxDepth, "[", "]"), &error).isValid());
    EXPECT_TRUE(error.isNull());
    for (const QByteArray &deep : {nested(TDWJsonArchive::MaxDepth + 1, "[", "]"), nested(50000, "[", "]"),
                                   nested(TDWJsonArchive::MaxDepth + 1, "{\"a\":", "}").replace("{\"a\":}", "{\"a\":1}")}) {
        SCOPED_TRACE(deep.size());
        TDWError deepError;
        EXPECT_FALSE(TDWJsonArchive::unarchive(deep, &deepError).isValid());
        EXPECT_EQ(deepError.code(), TDWStoreError::InvalidArgument);
        EXPECT_TRUE(deepError.localizedDescription().contains(QStringLiteral("deep"))) << deepError.description().toStdString();
    }
}

} // namespace
