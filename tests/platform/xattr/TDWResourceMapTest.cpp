#include "platform/xattr/TDWResourceMap.h"

#include <gtest/gtest.h>

namespace {

const quint32 Text = 0x54455854; // "TEXT"
const quint32 Url = 0x75726C20;  // "url "

TDWResourceMap sample()
{
    TDWResourceMap map;
    EXPECT_TRUE(map.add({Text, 256, QString(), QByteArrayLiteral("https://example.org/feed\0")}));
    EXPECT_TRUE(map.add({Url, -3, QStringLiteral("Adresse \u00e9t\u00e9 \U0001F4F0"), QByteArray()}));
    EXPECT_TRUE(map.add({Url, 256, QStringLiteral("\uFEFFmarked"), QByteArray(70000, 'x')}));
    return map;
}

} // namespace

TEST(TDWResourceMap, StoredFormReadsBackEqual)
{
    const TDWResourceMap map = sample();
    const QByteArray stored = map.encode();
    const std::optional<TDWResourceMap> back = TDWResourceMap::decode(stored);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->resources(), map.resources());
    EXPECT_EQ(back->encode(), stored);
    EXPECT_TRUE(TDWResourceMap::decode(TDWResourceMap().encode()).has_value());
}

TEST(TDWResourceMap, SameTypeAndIdReplaces)
{
    TDWResourceMap map;
    ASSERT_TRUE(map.add({Text, 256, QStringLiteral("first"), "one"}));
    ASSERT_TRUE(map.add({Url, 256, QString(), "other type"}));
    ASSERT_TRUE(map.add({Text, 257, QString(), "other id"}));
    ASSERT_TRUE(map.add({Text, 256, QStringLiteral("second"), "two"}));
    ASSERT_EQ(map.resources().size(), 3);
    EXPECT_EQ(map.resources().last(), (TDWResource{Text, 256, QStringLiteral("second"), "two"}));
}

TEST(TDWResourceMap, RefusesANameLongerThanAResourceNameMayBe)
{
    TDWResourceMap map;
    EXPECT_TRUE(map.add({Text, 1, QString(255, u'a'), {}}));
    EXPECT_FALSE(map.add({Text, 2, QString(256, u'a'), {}}));
    EXPECT_FALSE(map.add({Text, 3, QString(128, u'\u00e9'), {}})); // 256 bytes of UTF-8
    EXPECT_EQ(map.resources().size(), 1);
}

// Everything but the exact stored form is refused: wrong marks, cut short,
// trailing bytes, one resource stored twice, a name that is not UTF-8.
TEST(TDWResourceMap, RefusesDamagedForms)
{
    TDWResourceMap one;
    ASSERT_TRUE(one.add({Text, 256, QStringLiteral("n"), "data"}));
    const QByteArray good = one.encode();
    ASSERT_TRUE(TDWResourceMap::decode(good).has_value());

    QByteArray twice = good + good.mid(7);
    twice[6] = 2;
    QByteArray badName = good;
    badName[4 + 1 + 2 + 4 + 2 + 1] = char(0xFF);
    QByteArray badVersion = good;
    badVersion[4] = 2;
    QByteArray longerData = good;
    longerData[good.size() - 5] = 5;

    const std::pair<const char *, QByteArray> damaged[] = {
        {"empty", QByteArray()},
        {"other mark", "TDWX" + good.mid(4)},
        {"other version", badVersion},
        {"cut in the header", good.left(6)},
        {"cut in the data", good.left(good.size() - 1)},
        {"data length past the end", longerData},
        {"trailing byte", good + 'x'},
        {"stored twice", twice},
        {"name not UTF-8", badName},
    };
    for (const auto &[what, bytes] : damaged)
        EXPECT_FALSE(TDWResourceMap::decode(bytes).has_value()) << what;
}
