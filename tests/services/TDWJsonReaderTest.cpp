// The JSON reader under every list parser: what it refuses, the values it
// reads, and the typed reads and kept text of an item.
#include "services/TDWJsonReader.h"

#include <gtest/gtest.h>

namespace {

QByteArray nested(int depth)
{
    return QByteArray(depth, '[') + QByteArray(depth, ']');
}

TEST(TDWJsonReader, AcceptsOneValidValueAndRefusesEverythingElse)
{
    const struct
    {
        const char *why;
        QByteArray text;
        bool accepted;
    } cases[] = {
        {"object", "{}", true},
        {"surrounded by blanks", " \n{} \t", true},
        {"after a byte order mark", "\xEF\xBB\xBF{\"a\": 1}", true},
        {"nesting at the limit", nested(TDWJsonReader::MaxDepth), true},
        {"nesting beyond the limit", nested(TDWJsonReader::MaxDepth + 1), false},
        {"empty", "", false},
        {"text after the value", "{} x", false},
        {"two values", "{}{}", false},
        {"a malformed member nobody reads", R"({"items": [], "x": tru})", false},
        {"a number out of range", "[1E400]", false},
        {"an integer beyond 64 bits", "[123456789012345678901234]", false},
        {"not a number", "[NaN]", false},
        {"invalid utf-8", "[\"\xC3\x28\"]", false},
        {"a lone surrogate", R"(["\ud800"])", false},
        {"a trailing comma", "[1,]", false},
        {"truncated", R"({"items": [{"id": "1"})", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TDWJsonReader::parse(c.text).has_value(), c.accepted) << c.why;
}

TEST(TDWJsonReader, ReadsPropertyListValues)
{
    const std::optional<QVariant> value = TDWJsonReader::parse(
        R"({"s": "", "n": null, "i": -5, "big": 18446744073709551615, "d": 1.5, "b": true, "a": [1, "x"], "k": 1, "k": 2, "u": "\u00e9\u0000"})");
    ASSERT_TRUE(value);
    const QVariantMap map = value->toMap();
    EXPECT_TRUE(map.value(QStringLiteral("s")).toString().isEmpty());
    EXPECT_FALSE(map.value(QStringLiteral("s")).toString().isNull());
    EXPECT_TRUE(map.contains(QStringLiteral("n")));
    EXPECT_TRUE(map.value(QStringLiteral("n")).isNull());
    EXPECT_EQ(map.value(QStringLiteral("i")), QVariant(qint64(-5)));
    EXPECT_EQ(map.value(QStringLiteral("big")), QVariant(quint64(18446744073709551615ULL)));
    EXPECT_EQ(map.value(QStringLiteral("d")), QVariant(1.5));
    EXPECT_EQ(map.value(QStringLiteral("b")), QVariant(true));
    EXPECT_EQ(map.value(QStringLiteral("a")), QVariant(QVariantList{qint64(1), QStringLiteral("x")}));
    EXPECT_EQ(map.value(QStringLiteral("k")), QVariant(qint64(2)));
    EXPECT_EQ(map.value(QStringLiteral("u")), QVariant(QString(QChar(0xE9)) + QChar(0)));
}

TEST(TDWJsonReader, ItemsGiveTypedReadsAndTextThatReadsBackTheSame)
{
    TDWJsonReader reader;
    const std::optional<TDWJsonReader::ItemsPage> page = reader.readItemsPage(R"({"items": [
        {"id": "a", "id": "b", "gone": null, "flag": true, "count": 3, "quote": "say \"hi\"\n",
         "parents": [{"id": "p"}], "nested": {"x": [1.25, -0.0, 1e300, null]}}]})",
                                                                                  {"test#list"});
    ASSERT_TRUE(page);
    ASSERT_EQ(page->items.size(), 1);
    const TDWJsonObject &item = page->items.first();
    EXPECT_EQ(item.requiredString("id"), QStringLiteral("b"));
    EXPECT_TRUE(item.optString("gone").isNull());
    EXPECT_FALSE(item.has("gone"));
    EXPECT_TRUE(item.optBool("flag"));
    EXPECT_FALSE(item.optBool("missing"));
    EXPECT_EQ(item.optObjectArray("parents")->first().optString("id"), QStringLiteral("p"));
    EXPECT_THROW(item.optString("count"), TDWJsonObject::TypeError);
    EXPECT_THROW(item.optBool("id"), TDWJsonObject::TypeError);
    EXPECT_THROW(item.optObject("parents"), TDWJsonObject::TypeError);
    EXPECT_THROW(item.optObjectArray("nested"), TDWJsonObject::TypeError);
    EXPECT_THROW(item.requiredString("missing"), TDWJsonObject::TypeError);
    EXPECT_THROW(item.optObject("nested")->optObjectArray("x"), TDWJsonObject::TypeError);

    const QVariantMap original = TDWJsonReader::parse(R"({"id": "b", "gone": null, "flag": true, "count": 3,
        "quote": "say \"hi\"\n", "parents": [{"id": "p"}], "nested": {"x": [1.25, -0.0, 1e300, null]}})")->toMap();
    EXPECT_EQ(TDWJsonReader::parse(item.text())->toMap(), original) << item.text().constData();
    EXPECT_EQ(TDWJsonObject().text(), QByteArrayLiteral("{}"));
}

} // namespace
