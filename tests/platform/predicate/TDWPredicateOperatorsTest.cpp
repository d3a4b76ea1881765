#include "platform/predicate/TDWPredicateOperators.h"

#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

using TDWPredicateTree::Operator;

namespace {

TEST(TDWPredicateOperators, LikeMatchesWildcardsByCharacterAndHonoursEscapes)
{
    const struct {
        const char *text;
        const char *pattern;
        bool matches;
    } cases[] = {
        {"", "", true},
        {"", "*", true},
        {"", "?", false},
        {"abc", "abc", true},
        {"abc", "ab", false},
        {"abc", "a?c", true},
        {"abc", "a*", true},
        {"abc", "*c", true},
        {"abc", "*b*", true},
        {"abc", "*d*", false},
        {"aXbXc", "a*b*c", true},
        {"abcbd", "a*bd", true},
        {"abcbe", "a*bd", false},
        {"a*c", "a\\*c", true},
        {"abc", "a\\*c", false},
        {"a?", "a\\?", true},
        {"a\\", "a\\", true},
        {"\xf0\x9f\x98\x80x", "?x", true},   // one character outside the BMP counts as one
        {"/m8/feeds/groups/a@b.c/base/6", "/m8/feeds/groups/*/base/6", true},
        {"/m8/feeds/groups/a/base/60", "/m8/feeds/groups/*/base/6", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.text) + " LIKE " + c.pattern);
        EXPECT_EQ(TDWPredicateOperators::like(QString::fromUtf8(c.text), QString::fromUtf8(c.pattern)), c.matches);
    }
}

TEST(TDWPredicateOperators, FoldingIgnoresCaseAndDiacriticsOnlyWhenAsked)
{
    const struct {
        const char *text;
        int options;
        const char *folded;
    } cases[] = {
        {"R\u00c9SUM\u00c9", 0, "R\u00c9SUM\u00c9"},
        {"R\u00c9SUM\u00c9", TDWPredicateTree::CaseInsensitive, "r\u00e9sum\u00e9"},
        {"R\u00c9SUM\u00c9", TDWPredicateTree::DiacriticInsensitive, "RESUME"},
        {"R\u00c9SUM\u00c9", TDWPredicateTree::CaseInsensitive | TDWPredicateTree::DiacriticInsensitive, "resume"},
        {"Re\u0301sume\u0301", TDWPredicateTree::DiacriticInsensitive, "Resume"},
        // Full case folding: one character may fold to several.
        {"Stra\u00dfe", TDWPredicateTree::CaseInsensitive, "strasse"},
        {"STRA\u1e9eE", TDWPredicateTree::CaseInsensitive, "strasse"},
        {"\ufb01le", TDWPredicateTree::CaseInsensitive, "file"},
        {"\u03a3\u038a\u03a3\u03a5\u03a6\u039f\u03a3", TDWPredicateTree::CaseInsensitive, "\u03c3\u03af\u03c3\u03c5\u03c6\u03bf\u03c3"},
        {"\u03c3\u03af\u03c3\u03c5\u03c6\u03bf\u03c2", TDWPredicateTree::CaseInsensitive, "\u03c3\u03af\u03c3\u03c5\u03c6\u03bf\u03c3"},
        {"\u0130stanbul", TDWPredicateTree::CaseInsensitive, "i\u0307stanbul"},
        {"\u0130stanbul", 3, "istanbul"},
        {"\u0131stanbul", 3, "\u0131stanbul"},
        {"\U00010400", TDWPredicateTree::CaseInsensitive, "\U00010428"},   // outside the BMP
        {"\u00c5ngstr\u00f6m", 3, "angstrom"},
        // Plain ASCII: only A-Z change, and only when case is ignored.
        {"Q3 Report_[AZ]@{az}", TDWPredicateTree::CaseInsensitive, "q3 report_[az]@{az}"},
        {"Q3 Report_[AZ]@{az}", TDWPredicateTree::DiacriticInsensitive, "Q3 Report_[AZ]@{az}"},
        {"Q3 Report_[AZ]@{az}", 3, "q3 report_[az]@{az}"},
        {"", 3, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(TDWPredicateOperators::fold(QString::fromUtf8(c.text), c.options), QString::fromUtf8(c.folded));
    }
}

TEST(TDWPredicateOperators, ComparisonsFollowValueKindsAndNil)
{
    const QVariant nil;
    const QDateTime when(QDate(2012, 1, 1), QTime(0, 0), Qt::UTC);
    const struct {
        Operator op;
        QVariant lhs;
        QVariant rhs;
        bool result;
    } cases[] = {
        {Operator::Equal, nil, nil, true},
        {Operator::Equal, nil, 0, false},
        {Operator::NotEqual, nil, "", true},
        {Operator::Less, nil, 1, false},
        {Operator::GreaterOrEqual, nil, nil, false},
        {Operator::Equal, true, 1, true},
        {Operator::Equal, false, 0.0, true},
        {Operator::Equal, 2, 2.0, true},
        {Operator::Less, qlonglong(9007199254740993LL), 9007199254740992.0, false},
        {Operator::Greater, qlonglong(9007199254740993LL), 9007199254740992.0, true},
        // Unsigned 64-bit values (message identifiers) compare exactly, not through a double.
        {Operator::Equal, quint64(1600000000000000000ULL), quint64(1600000000000000001ULL), false},
        {Operator::Equal, qlonglong(1600000000000000000LL), quint64(1600000000000000001ULL), false},
        {Operator::Less, quint64(1600000000000000000ULL), qlonglong(1600000000000000001LL), true},
        {Operator::Equal, quint64(1600000000000000001ULL), qlonglong(1600000000000000001LL), true},
        {Operator::Greater, quint64(18446744073709551615ULL), -1, true},
        {Operator::Less, quint64(18446744073709551614ULL), quint64(18446744073709551615ULL), true},
        {Operator::Less, quint64(18446744073709551615ULL), 18446744073709551616.0, true},
        {Operator::Equal, quint64(9223372036854775808ULL), 9223372036854775808.0, true},
        {Operator::Greater, quint64(9223372036854775809ULL), 9223372036854775808.0, true},
        {Operator::Equal, "1", 1, false},
        {Operator::NotEqual, "1", 1, true},
        {Operator::Less, "1", 2, false},
        {Operator::Less, "Z", "a", true},
        {Operator::Less, "\uffff", "\U0001F600", true},   // code-point order, as SQLite compares UTF-8
        {Operator::Equal, when, when.toTimeZone(QTimeZone(3600)), true},
        {Operator::Less, when, when.addMSecs(1), true},
        {Operator::Equal, when, 0, false},
        {Operator::Equal, QByteArray("a"), QByteArray("a"), true},
        {Operator::Less, QByteArray("a"), QByteArray("b"), false},
        {Operator::Contains, "abc", "b", true},
        {Operator::Contains, "abc", 1, false},
        {Operator::In, "b", "abc", true},
        {Operator::BeginsWith, nil, "a", false},
        {Operator::BeginsWith, "abc", "", false},
        {Operator::Like, "", "", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.op) << " " << c.lhs.toString().toStdString() << " / " << c.rhs.toString().toStdString());
        EXPECT_EQ(TDWPredicateOperators::test(c.op, 0, c.lhs, c.rhs), c.result);
    }
}

} // namespace
