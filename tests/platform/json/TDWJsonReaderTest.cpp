// The JSON reader of every server answer: what it refuses and why, the values
// it reads, and the typed reads and kept text of an item.
#include "platform/json/TDWJsonReader.h"

#include "platform/json/TDWJsonError.h"

#include <gtest/gtest.h>

namespace {

QByteArray nested(int depth)
{
    return QByteArray(depth, '[') + QByteArray(depth, ']');
}

TEST(TDWJsonReader, AcceptsOneValidValueAndRefusesEverythingElseSayingWhy)
{
    using TDWJsonError::Malformed;
    using TDWJsonError::TooDeep;
    using TDWJsonError::TooLarge;
    constexpr qint64 Accepted = 0;
    // Blanks fill the answer past the size limit: a valid value, refused for its size alone.
    const QByteArray tooLarge = "[" + QByteArray(TDWJsonReader::MaxBytes, ' ') + "]";
    const struct
    {
        const char *why;
        QByteArray text;
        qint64 code;
    } cases[] = {
        {"object", "{}", Accepted},
        {"surrounded by blanks", " \n{} \t", Accepted},
        {"after a byte order mark", "\xEF\xBB\xBF{\"a\": 1}", Accepted},
        {"nesting at the limit", nested(TDWJsonReader::MaxDepth), Accepted},
        {"nesting beyond the limit", nested(TDWJsonReader::MaxDepth + 1), TooDeep},
        {"larger than the limit", tooLarge, TooLarge},
        {"empty", "", Malformed},
        {"text after the value", "{} x", Malformed},
        {"two values", "{}{}", Malformed},
        {"a malformed member nobody reads", R"({"items": [], "x": tru})", Malformed},
        {"a number out of range", "[1E400]", Malformed},
        {"an integer beyond 64 bits", "[123456789012345678901234]", Malformed},
        {"not a number", "[NaN]", Malformed},
        {"invalid utf-8", "[\"\xC3\x28\"]", Malformed},
        {"a lone surrogate", R"(["\ud800"])", Malformed},
        {"a trailing comma", "[1,]", Malformed},
        {"truncated", R"({"items": [{"id": "1"})", Malformed},
    };
    for (const auto &c : cases) {
        TDWError error;
        EXPECT_EQ(TDWJsonReader::parse(c.text, &error).has_value(), c.code == Accepted) << c.why;
        EXPECT_EQ(error.code(), c.code) << c.why;
        if (c.code != Accepted) {
            EXPECT_EQ(error.domain(), TDWJsonError::Domain) << c.why;
            EXPECT_FALSE(error.localizedDescription().isEmpty()) << c.why;
        }
    }
}

TEST(TDWJsonReader, AnAnswerThatMustBeAnObjectRefusesEveryOtherValue)
{
    TDWJsonReader reader;
    for (const QByteArray text : {QByteArray("[]"), QByteArray("\"{}\""), QByteArray("null"), QByteArray("7")}) {
        TDWError error;
        EXPECT_FALSE(reader.readObject(text, &error)) << text.constData();
        EXPECT_EQ(error.code(), TDWJsonError::NotAnObject) << text.constData();
        error = {};
        EXPECT_FALSE(TDWJsonReader::parseObject(text, &error)) << text.constData();
        EXPECT_EQ(error.code(), TDWJsonError::NotAnObject) << text.constData();
    }
    TDWError error;
    EXPECT_FALSE(TDWJsonReader::parseObject(nested(TDWJsonReader::MaxDepth + 1), &error));
    EXPECT_EQ(error.code(), TDWJsonError::TooDeep);
    const std::optional<QVariantMap> object = TDWJsonReader::parseObject(R"({"a": {"b": [1]}, "n": null})");
    ASSERT_TRUE(object);
    EXPECT_EQ(object->value(QStringLiteral("a")), QVariant(QVariantMap{{QStringLiteral("b"), QVariantList{qint64(1)}}}));
    EXPECT_TRUE(object->contains(QStringLiteral("n")));
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

// The quick comparison never calls different values the same; where the
// answer is not plain (a key twice, containers of other types, keys ordered
// otherwise in UTF-8 than in UTF-16) it says
// "not the same" and leaves the full comparison to the caller.
TEST(TDWJsonReader, MatchesExactlyTheValuesItWouldRead)
{
    const QByteArray stored = R"({"id": "f1", "n": 3, "d": 1.5, "b": false, "z": null, "s": "",)"
                              R"( "parents": [{"id": "p1"}, {"id": "p2"}], "labels": {"starred": true}})";
    const QVariant value = *TDWJsonReader::parse(stored);
    const struct
    {
        const char *why;
        QByteArray text;
        QVariant value;
        bool matches;
    } cases[] = {
        {"the same text", stored, value, true},
        {"keys in another order", R"({"labels": {"starred": true}, "z": null, "s": "", "parents": [{"id": "p1"}, {"id": "p2"}],)"
                                  R"( "b": false, "d": 1.5, "n": 3, "id": "f1"})", value, true},
        {"a changed string", R"({"id": "f2", "n": 3, "d": 1.5, "b": false, "z": null, "s": "",)"
                             R"( "parents": [{"id": "p1"}, {"id": "p2"}], "labels": {"starred": true}})", value, false},
        {"a changed nested value", R"({"id": "f1", "n": 3, "d": 1.5, "b": false, "z": null, "s": "",)"
                                   R"( "parents": [{"id": "p1"}, {"id": "p2"}], "labels": {"starred": false}})", value, false},
        {"reordered array", R"({"id": "f1", "n": 3, "d": 1.5, "b": false, "z": null, "s": "",)"
                            R"( "parents": [{"id": "p2"}, {"id": "p1"}], "labels": {"starred": true}})", value, false},
        {"a shorter array", R"({"id": "f1", "n": 3, "d": 1.5, "b": false, "z": null, "s": "",)"
                            R"( "parents": [{"id": "p1"}], "labels": {"starred": true}})", value, false},
        {"a key more", R"({"id": "f1", "n": 3, "d": 1.5, "b": false, "z": null, "s": "", "x": 1,)"
                       R"( "parents": [{"id": "p1"}, {"id": "p2"}], "labels": {"starred": true}})", value, false},
        {"a key less", R"({"id": "f1", "n": 3, "d": 1.5, "b": false, "z": null,)"
                       R"( "parents": [{"id": "p1"}, {"id": "p2"}], "labels": {"starred": true}})", value, false},
        {"a null for an empty string", R"({"id": "f1", "n": 3, "d": 1.5, "b": false, "z": null, "s": null,)"
                                       R"( "parents": [{"id": "p1"}, {"id": "p2"}], "labels": {"starred": true}})", value, false},
        {"a string for a number", R"({"id": "f1", "n": "3", "d": 1.5, "b": false, "z": null, "s": "",)"
                                  R"( "parents": [{"id": "p1"}, {"id": "p2"}], "labels": {"starred": true}})", value, false},
        {"another number", R"({"id": "f1", "n": 3, "d": 2.5, "b": false, "z": null, "s": "",)"
                           R"( "parents": [{"id": "p1"}, {"id": "p2"}], "labels": {"starred": true}})", value, false},
        {"not a page", R"({"id": "f1",)", value, false},
        {"a key twice for a missing one", R"({"a": 1, "a": 1})", QVariantMap{{QStringLiteral("a"), 1}, {QStringLiteral("b"), 1}}, false},
        {"a key twice, the last counting", R"({"a": 2, "a": 1})", QVariantMap{{QStringLiteral("a"), 1}}, false},
        {"keys of other orders in UTF-8 and UTF-16", R"({"\uffff": 1, "\ud83d\ude00": 2})",
         QVariantMap{{QString(QChar(0xFFFF)), qint64(1)}, {QString::fromUtf8("\xF0\x9F\x98\x80"), qint64(2)}}, false},
        {"unicode keys and strings", R"({"\u00e9": "\u00e9t\u00e9", "a": ""})",
         QVariantMap{{QString(QChar(0xE9)), QString::fromUtf8("\xC3\xA9t\xC3\xA9")}, {QStringLiteral("a"), QString()}}, true},
        {"an object held as a hash", R"({"a": 1})", QVariantHash{{QStringLiteral("a"), 1}}, false},
        {"an array held as strings", R"(["a"])", QStringList{QStringLiteral("a")}, false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(TDWJsonReader::matches(c.text, c.value), c.matches) << c.why;
        // "The same" is never said of values that read differently.
        if (c.matches) {
            EXPECT_EQ(TDWJsonReader::parse(c.text), std::optional<QVariant>(c.value)) << c.why;
        }
    }
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
    try {
        item.optObject("parents");
        ADD_FAILURE() << "an array read as an object";
    } catch (const TDWJsonObject::TypeError &typeError) {
        EXPECT_EQ(typeError.error().domain(), TDWJsonError::Domain);
        EXPECT_EQ(typeError.error().code(), TDWJsonError::WrongType);
        EXPECT_EQ(typeError.error().localizedDescription(), QStringLiteral("The \"parents\" value is not an object."));
    }

    const QVariantMap original = TDWJsonReader::parse(R"({"id": "b", "gone": null, "flag": true, "count": 3,
        "quote": "say \"hi\"\n", "parents": [{"id": "p"}], "nested": {"x": [1.25, -0.0, 1e300, null]}})")->toMap();
    EXPECT_EQ(TDWJsonReader::parse(item.text())->toMap(), original) << item.text().constData();
    EXPECT_EQ(item.toMap(), original);
    EXPECT_EQ(TDWJsonObject().text(), QByteArrayLiteral("{}"));
}

} // namespace
