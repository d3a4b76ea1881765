#include "PredicateTestGraph.h"

#include <QDateTime>

#include <gtest/gtest.h>

namespace {

struct PrintRow {
    const char *format;
    QVariantList arguments;
    const char *printed;
};

const TDWPredicateObjectRef Folder(QStringLiteral("s"), QStringLiteral("MailFolder"), 7);

QList<PrintRow> printRows()
{
    const QDateTime dayAndAQuarterSecond(QDate(2001, 1, 2), QTime(0, 0, 0, 250), Qt::UTC);
    return {
        // Operators in every spelling print in one canonical form.
        {"name = \"x\"", {}, "name == \"x\""},
        {"a == 1 && b != 2 || c <> 3", {}, "(a == 1 AND b != 2) OR c != 3"},
        {"a < 1 and b <= 2 and c =< 3 and d > 4 and e >= 5 and f => 6", {},
         "a < 1 AND b <= 2 AND c <= 3 AND d > 4 AND e >= 5 AND f >= 6"},
        {"a = 1 or b = 2 and c = 3", {}, "a == 1 OR (b == 2 AND c == 3)"},
        {"(a = 1 or b = 2) and (c = 3 or d = 4)", {}, "(a == 1 OR b == 2) AND (c == 3 OR d == 4)"},
        {"((a = 1 and b = 2)) and c = 3", {}, "(a == 1 AND b == 2) AND c == 3"},
        {"not a == 1 && !(b == 2 || c == 3)", {}, "NOT a == 1 AND NOT (b == 2 OR c == 3)"},
        {"NOT(doc.docId like %@)", {"*/base/6"}, "NOT doc.docId LIKE \"*/base/6\""},
        {"title contains[cd] 'Ab' or title beginswith[c] %@ or title endswith[d] %@", {"x", "y"},
         "title CONTAINS[cd] \"Ab\" OR title BEGINSWITH[c] \"x\" OR title ENDSWITH[d] \"y\""},
        {"$x.mailFolder.folderPath =[cd] %@", {"Inbox"}, "$x.mailFolder.folderPath ==[cd] \"Inbox\""},
        {"docType in %@", {QStringList{"pdf", "group"}}, "docType IN {\"pdf\", \"group\"}"},
        {"a in {1, 2.5, 'a', yes, Nil, {}}", {}, "a IN {1, 2.5, \"a\", YES, nil, {}}"},
        {"%@ in doc.parentDocs", {QVariant::fromValue(Folder)},
         "CAST(\"x-tdw-object://s/MailFolder/p7\", \"TDWObjectRef\") IN doc.parentDocs"},
        // Modifiers: SOME is ANY, NONE is NOT ANY.
        {"any revisions.title == nil", {}, "ANY revisions.title == nil"},
        {"some x == 1", {}, "ANY x == 1"},
        {"none x == 1", {}, "NOT ANY x == 1"},
        {"all x > 1", {}, "ALL x > 1"},
        {"subquery(doc.mailItems, $x, $x.mailFolder = %@ and $x.current = 1).@count != 0", {QVariant::fromValue(Folder)},
         "SUBQUERY(doc.mailItems, $x, $x.mailFolder == CAST(\"x-tdw-object://s/MailFolder/p7\", \"TDWObjectRef\") "
         "AND $x.current == 1).@count != 0"},
        {"{1,2}.@count == 2 and docRevs.@count > 0", {}, "{1, 2}.@count == 2 AND docRevs.@count > 0"},
        // Constants.
        {"a == NULL or b == TRUE or c == false or d == no", {}, "a == nil OR b == YES OR c == NO OR d == NO"},
        {"truepredicate", {}, "TRUEPREDICATE"},
        {"FALSEPREDICATE or a == 1", {}, "FALSEPREDICATE OR a == 1"},
        {"a == 0x1F or b == 0o17 or c == 0b101 or d == -9223372036854775808", {},
         "a == 31 OR b == 15 OR c == 5 OR d == -9223372036854775808"},
        {"a == 1e3 or b == 1.5e-7 or c == -0.25", {}, "a == 1000.0 OR b == 1.5e-07 OR c == -0.25"},
        {"a == 'it\\'s' or b == \"tab\\there\\\\\" or c == '\\u00e9\\x41'", {},
         "a == \"it's\" OR b == \"tab\\there\\\\\" OR c == \"\u00e9A\""},
        {"a == %@", {QStringLiteral("say \"hi\"\n\x01")}, "a == \"say \\\"hi\\\"\\n\\u0001\""},
        {"a > %@", {dayAndAQuarterSecond}, "a > CAST(86400.250000, \"NSDate\")"},
        {"a < CAST(-1.5, 'NSDate')", {}, "a < CAST(-1.500000, \"NSDate\")"},
        {"a == %@", {QByteArray("\x00\xff", 2)}, "a == CAST(\"00ff\", \"NSData\")"},
        {"a == %@ and b == %@", {QVariant(), QVariantList{}}, "a == nil AND b == {}"},
        {"self IN %@", {QVariant::fromValue(QList<TDWPredicateObjectRef>{Folder})},
         "SELF IN {CAST(\"x-tdw-object://s/MailFolder/p7\", \"TDWObjectRef\")}"},
        // Placeholders for key paths and typed numbers.
        {"%K == %d and %K.%K == %ld", {"a.b", 42, "c", "d", qint64(-5)}, "a.b == 42 AND c.d == -5"},
        // Unsigned 64-bit values above 2^63-1 stay exact and unsigned.
        {"a == 18446744073709551615 or b == %@ or c == %llu", {quint64(9223372036854775808ULL), quint64(7)},
         "a == 18446744073709551615 OR b == 9223372036854775808 OR c == 7"},
        {"a == %f or b == %i", {1, true}, "a == 1.0 OR b == 1"},
        // Reserved words as keys are escaped; SELF.key is the key.
        {"#like == 1 and %K == 2 and size == 3", {"in"}, "#like == 1 AND #in == 2 AND size == 3"},
        {"self == %@ and SELF.name == 1", {QVariant::fromValue(Folder)},
         "SELF == CAST(\"x-tdw-object://s/MailFolder/p7\", \"TDWObjectRef\") AND name == 1"},
        {"a == $VALUE", {}, "a == $VALUE"},
    };
}

struct ErrorRow {
    const char *format;
    QVariantList arguments;
    qsizetype position;
};

QList<ErrorRow> errorRows()
{
    return {
        {"", {}, 0},
        {"name ==", {}, 7},
        {"name == 'abc", {}, 8},
        {"== 1", {}, 0},
        {"a == 1 AND", {}, 10},
        {"(a == 1", {}, 7},
        {"a == 1)", {}, 6},
        {"a == 1 b == 2", {}, 7},
        {"a LIKES 1", {}, 2},
        {"a MATCHES 'x'", {}, 2},
        {"a BETWEEN {1, 2}", {}, 2},
        {"a ==[x] 1", {}, 5},
        {"a == %@", {}, 5},
        {"a == %s", {"x"}, 5},
        {"%K == 1", {"a b"}, 0},
        {"%K == 1", {5}, 0},
        {"a == %d", {"x"}, 5},
        {"a == %@", {QVariant::fromValue(QDate(2012, 1, 1))}, 5},
        {"a == %@", {qQNaN()}, 5},
        {"a == 99999999999999999999", {}, 5},
        {"a == 18446744073709551616", {}, 5},
        {"a == -9223372036854775809", {}, 6},
        {"a == 12abc", {}, 7},
        {"a.@sum == 1", {}, 2},
        {"a.@count.b == 1", {}, 9},
        {"@count == 1", {}, 0},
        {"a.b. == 1", {}, 5},
        {"SUBQUERY(a, x, b == 1).@count == 0", {}, 12},
        {"a == CAST(1, 'NSString')", {}, 5},
        {"a == 'x\\q'", {}, 7},
        {"a == \"\\u12\"", {}, 6},
        {"a == $", {}, 5},
        {"a == -b", {}, 6},
        {"ANY == 1", {}, 4},
        {"a == {1, 2", {}, 10},
        {"a == nil nil", {}, 9},
        {"a == 1 ; b", {}, 7},
    };
}

TEST(TDWPredicateParser, PrintsEveryConstructCanonicallyAndReadsItsOwnOutputBack)
{
    for (const PrintRow &row : printRows()) {
        SCOPED_TRACE(row.format);
        TDWError error;
        const TDWPredicate parsed = TDWPredicate::parse(QString::fromUtf8(row.format), row.arguments, &error);
        ASSERT_FALSE(parsed.isNull()) << error.localizedDescription().toStdString();
        EXPECT_EQ(parsed.predicateFormat(), QString::fromUtf8(row.printed));
        const TDWPredicate reparsed = TDWPredicate::parse(parsed.predicateFormat(), {}, &error);
        ASSERT_FALSE(reparsed.isNull()) << error.localizedDescription().toStdString();
        EXPECT_TRUE(reparsed == parsed);
        EXPECT_EQ(reparsed.predicateFormat(), parsed.predicateFormat());
    }
}

TEST(TDWPredicateParser, MalformedFormatsFailWithThePositionOfTheFault)
{
    for (const ErrorRow &row : errorRows()) {
        SCOPED_TRACE(row.format);
        TDWError error;
        const TDWPredicate parsed = TDWPredicate::parse(QString::fromUtf8(row.format), row.arguments, &error);
        EXPECT_TRUE(parsed.isNull());
        EXPECT_EQ(error.domain(), TDWPredicateError::Domain);
        EXPECT_EQ(error.code(), TDWPredicateError::Parse);
        EXPECT_EQ(error.userInfo().value(QStringLiteral("position")).toLongLong(), row.position)
            << error.localizedDescription().toStdString();
    }
}

TEST(TDWPredicateParser, DeepNestingIsRefusedRatherThanExhaustingTheStack)
{
    const QString deep = QString(5000, QLatin1Char('(')) + QStringLiteral("a == 1") + QString(5000, QLatin1Char(')'));
    const QString notChain = QStringLiteral("NOT ").repeated(5000) + QStringLiteral("a == 1");
    const QString aggregates = QStringLiteral("a IN ") + QString(5000, QLatin1Char('{')) + QString(5000, QLatin1Char('}'));
    for (const QString &format : {deep, notChain, aggregates}) {
        TDWError error;
        EXPECT_TRUE(TDWPredicate::parse(format, {}, &error).isNull());
        EXPECT_FALSE(error.isNull());
    }
    const QString moderate = QString(50, QLatin1Char('(')) + QStringLiteral("a == 1") + QString(50, QLatin1Char(')'));
    EXPECT_EQ(TDWPredicate::parse(moderate).predicateFormat(), QStringLiteral("a == 1"));
}

TEST(TDWPredicateParser, CompoundsBuiltInCodeRoundTripAndCollapseTrivialCases)
{
    const TDWPredicate a = TDWPredicate::parse(QStringLiteral("a == 1"));
    const TDWPredicate b = TDWPredicate::parse(QStringLiteral("b == 2 OR c == 3"));
    const TDWPredicate both = TDWPredicate::andPredicate({a, b});
    EXPECT_EQ(both.predicateFormat(), QStringLiteral("a == 1 AND (b == 2 OR c == 3)"));
    const TDWPredicate nested = TDWPredicate::andPredicate({both, TDWPredicate::notPredicate(a)});
    EXPECT_EQ(nested.predicateFormat(), QStringLiteral("(a == 1 AND (b == 2 OR c == 3)) AND NOT a == 1"));
    for (const TDWPredicate &p : {both, nested})
        EXPECT_TRUE(TDWPredicate::parse(p.predicateFormat()) == p);

    EXPECT_TRUE(TDWPredicate::andPredicate({}) == TDWPredicate::truePredicate());
    EXPECT_TRUE(TDWPredicate::orPredicate({}) == TDWPredicate::falsePredicate());
    EXPECT_TRUE(TDWPredicate::orPredicate({TDWPredicate(), a}) == a);
    EXPECT_TRUE(TDWPredicate::notPredicate(TDWPredicate()).isNull());
    EXPECT_FALSE(a == b);
    EXPECT_FALSE(TDWPredicate::parse(QStringLiteral("a == 1")) == TDWPredicate::parse(QStringLiteral("a == 1.0")));
    EXPECT_FALSE(TDWPredicate::parse(QStringLiteral("a ==[c] 'x'")) == TDWPredicate::parse(QStringLiteral("a == 'x'")));
}

TEST(TDWPredicateParser, RulesComeApartIntoRowsAndGoBackAsAnOr)
{
    // The rule editor shows one row per comparison and always stores an OR of its rows.
    const TDWPredicate edited = TDWPredicate::parse(
        QStringLiteral("title CONTAINS[cd] %@ AND doc.docType == %@ AND ANY tags == 1 AND title IN {'a', 'b'}"), {"Tax", "pdf"});
    ASSERT_EQ(edited.kind(), TDWPredicate::Kind::And);
    const QList<TDWPredicate> rows = edited.subpredicates();
    ASSERT_EQ(rows.size(), 4);
    const auto name = rows[0].keyPathComparison();
    ASSERT_TRUE(name.has_value());
    EXPECT_EQ(name->keyPath, QStringLiteral("title"));
    EXPECT_EQ(name->operatorText, QStringLiteral("CONTAINS"));
    EXPECT_EQ(name->options, TDWPredicate::CaseInsensitive | TDWPredicate::DiacriticInsensitive);
    EXPECT_EQ(name->value, QVariant(QStringLiteral("Tax")));
    const auto type = rows[1].keyPathComparison();
    ASSERT_TRUE(type.has_value());
    EXPECT_EQ(type->keyPath, QStringLiteral("doc.docType"));
    EXPECT_EQ(type->operatorText, QStringLiteral("=="));
    EXPECT_EQ(type->options, 0);
    EXPECT_FALSE(rows[2].keyPathComparison().has_value());
    EXPECT_EQ(rows[3].keyPathComparison()->value, QVariant(QVariantList{"a", "b"}));

    const TDWPredicate stored = TDWPredicate::orPredicate(rows.mid(0, 2));
    EXPECT_EQ(stored.predicateFormat(), QStringLiteral("title CONTAINS[cd] \"Tax\" OR doc.docType == \"pdf\""));
    EXPECT_EQ(TDWPredicate::notPredicate(stored).subpredicates().front().kind(), TDWPredicate::Kind::Or);
    EXPECT_EQ(TDWPredicate().kind(), TDWPredicate::Kind::False);
    EXPECT_TRUE(TDWPredicate::truePredicate().subpredicates().isEmpty());
}

TEST(TDWPredicateParser, SubstitutionReplacesFreeVariablesOnly)
{
    const TDWPredicate p = TDWPredicate::parse(
        QStringLiteral("title == $T AND SUBQUERY(docRevs, $x, $x.title == $T).@count == $N AND who == $MISSING"));
    const TDWPredicate filled = p.withSubstitutionVariables({{"T", "a\"b"}, {"N", 2}, {"x", 5}});
    EXPECT_EQ(filled.predicateFormat(),
              QStringLiteral("title == \"a\\\"b\" AND SUBQUERY(docRevs, $x, $x.title == \"a\\\"b\").@count == 2 AND who == $MISSING"));
    EXPECT_EQ(p.predicateFormat(),
              QStringLiteral("title == $T AND SUBQUERY(docRevs, $x, $x.title == $T).@count == $N AND who == $MISSING"));

    // A variable before keys can become a constant before keys; that still prints and reads back.
    const TDWPredicate keyed = TDWPredicate::parse(QStringLiteral("$V.name == 1 AND $L.@count == 2"))
                                   .withSubstitutionVariables({{"V", 2.5}, {"L", QVariantList{1, "a"}}});
    EXPECT_EQ(keyed.predicateFormat(), QStringLiteral("2.5.name == 1 AND {1, \"a\"}.@count == 2"));
    EXPECT_TRUE(TDWPredicate::parse(keyed.predicateFormat()) == keyed);
}

} // namespace
