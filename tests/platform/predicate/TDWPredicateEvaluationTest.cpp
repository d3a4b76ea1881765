#include "PredicateTestGraph.h"

#include <gtest/gtest.h>

namespace {

struct Row {
    const char *entity;
    const char *format;
    QVariantList arguments;
    QStringList expected;
};

QVariant ref(const PredicateTestGraph &graph, const char *name)
{
    return QVariant::fromValue(graph.ref(QString::fromLatin1(name)));
}

// Revisions r1..r5 (r5 has no doc and no values), docs d1..d4 (d4 has no
// account and no revisions), links p1..p3 (p3 has no parent); see PredicateTestGraph.
QList<Row> rows(const PredicateTestGraph &g)
{
    const QStringList allRevisions{"r1", "r2", "r3", "r4", "r5"};
    return {
        // Booleans, numbers and nil; NOT over missing values.
        {"DocRev", "latest == YES", {}, {"r1", "r3", "r4"}},
        {"DocRev", "latest = 1 AND doc.deleted = 0", {}, {"r1", "r3"}},
        {"DocRev", "NOT doc.deleted == 1", {}, {"r1", "r2", "r3", "r5"}},
        {"DocRev", "doc.deleted != 1", {}, {"r1", "r2", "r3", "r5"}},
        {"DocRev", "exportStatus == YES", {}, {"r1"}},
        {"DocRev", "size == 2", {}, {"r2"}},
        {"DocRev", "size > 1", {}, {"r1", "r2"}},
        {"DocRev", "NOT size < 1", {}, {"r1", "r2", "r3", "r5"}},
        {"DocRev", "exportStatus >= 2.5", {}, {"r2", "r3"}},
        {"DocRev", "exportStatus == \"1\"", {}, {}},
        {"DocRev", "exportStatus != \"1\"", {}, allRevisions},
        {"DocRev", "who == nil", {}, {"r2", "r4", "r5"}},
        {"DocRev", "nil != who", {}, {"r1", "r3"}},
        {"DocRev", "etag == %@", {QByteArray("\x01\x02", 2)}, {"r1"}},
        {"DocRev", "TRUEPREDICATE", {}, allRevisions},
        {"DocRev", "FALSEPREDICATE OR NOT TRUEPREDICATE", {}, {}},
        // Strings: options, wildcards, ordering, empty needles.
        {"DocRev", "title BEGINSWITH[cd] \"RESUME\"", {}, {"r1", "r2"}},
        {"DocRev", "title BEGINSWITH \"resume\"", {}, {"r2"}},
        {"DocRev", "title CONTAINS[c] \"RESUM\"", {}, {"r2"}},
        {"DocRev", "title CONTAINS[d] \"\u00e9\"", {}, {"r1", "r2", "r4"}},
        {"DocRev", "title ==[cd] \"resume final\"", {}, {"r1"}},
        {"DocRev", "title ENDSWITH[c] \"FINAL\" OR title ENDSWITH \"?\"", {}, {"r1", "r4"}},
        {"DocRev", "who ==[c] \"ZO\u00cb\"", {}, {"r1"}},
        {"DocRev", "title LIKE %@", {"Tax\\*Report\\?"}, {"r4"}},
        {"DocRev", "title LIKE \"?esume*\"", {}, {"r2"}},
        {"DocRev", "title LIKE[cd] \"r?sume*\"", {}, {"r1", "r2"}},
        {"DocRev", "title LIKE[c] \"*report*\"", {}, {"r4"}},
        {"DocRev", "title < \"s\"", {}, {"r1", "r2", "r3", "r4"}},
        {"DocRev", "title > \"r\"", {}, {"r2"}},
        {"DocRev", "title >[cd] \"r\"", {}, {"r1", "r2", "r4"}},
        {"DocRev", "title CONTAINS \"\" OR title BEGINSWITH \"\" OR title ENDSWITH[cd] \"\"", {}, {}},
        {"DocRev", "\"draft\" IN title", {}, {"r2"}},
        // Arrays.
        {"DocRev", "exportStatus IN {1, 2, 4}", {}, {"r1", "r4"}},
        {"DocRev", "exportStatus IN %@", {QVariantList{3, 5.0, "1"}}, {"r2", "r3"}},
        {"DocRev", "NOT (exportStatus IN {1, 2})", {}, {"r2", "r3", "r5"}},
        {"DocRev", "exportStatus IN {}", {}, {}},
        {"DocRev", "title IN {\"resume draft\", \"My Contacts\", nil}", {}, {"r2", "r3", "r5"}},
        {"DocRev", "title IN[c] {\"RESUME DRAFT\", who}", {}, {"r2", "r5"}},
        {"DocRev", "doc.docType IN %@", {QStringList{"pdf", "group"}}, {"r3", "r4"}},
        {"DocRev", "ANY {title, who} == \"bob\"", {}, {"r3"}},
        {"DocRev", "ALL {1, 2} < exportStatus", {}, {"r2", "r3"}},
        {"DocRev", "{title, who} CONTAINS nil", {}, {"r2", "r4", "r5"}},
        // To-one key paths, key path against key path, nil on both sides.
        {"DocRev", "doc.account.username == \"alice@example.com\"", {}, {"r1", "r2", "r3"}},
        {"DocRev", "doc.account == nil", {}, {"r5"}},
        {"DocRev", "ownerEmail = doc.accountUsername", {}, {"r1", "r5"}},
        {"DocRev", "(ownerEmail != doc.accountUsername) OR (ownerEmail == nil)", {}, {"r2", "r3", "r4", "r5"}},
        {"DocRev", "title == doc.docId", {}, {"r5"}},
        {"DocRev", "doc.docId LIKE %@", {"/m8/feeds/groups/*/base/6"}, {"r3"}},
        {"DocRev", "NOT(doc.docId like %@) and latest = 1", {"/m8/feeds/groups/*/base/6"}, {"r1", "r4"}},
        {"DocRev", "%K == %@", {"doc.docType", "pdf"}, {"r4"}},
        {"DocRev", "title.length == nil AND doc.account.username.length == nil", {}, allRevisions},
        // Dates.
        {"DocRev", "firstSeenDate > %@", {PredicateTestGraph::hour(4)}, {"r1", "r3"}},
        {"DocRev", "firstSeenDate == %@", {PredicateTestGraph::hour(10).addMSecs(123)}, {"r1"}},
        {"DocRev", "firstSeenDate == CAST(347104800.123, \"NSDate\")", {}, {"r1"}},
        {"DocRev", "firstSeenDate == 10 OR firstSeenDate > \"a\"", {}, {}},
        {"DocRev", "firstSeenDate <= %@ and (obsoletedDate = nil or obsoletedDate > %@)",
         {PredicateTestGraph::hour(4), PredicateTestGraph::hour(4)}, {"r2"}},
        // Objects.
        {"DocRev", "doc == %@", {ref(g, "d1")}, {"r1", "r2"}},
        {"DocRev", "doc != %@", {ref(g, "d1")}, {"r3", "r4", "r5"}},
        {"DocRev", "self == %@", {ref(g, "r2")}, {"r2"}},
        {"DocRev", "self IN %@",
         {QVariantList{ref(g, "r1"), ref(g, "r3"), QVariant::fromValue(TDWPredicateObjectRef("store-2", "DocRev", g.ref("r4").primaryKey())),
                       QVariant::fromValue(TDWPredicateObjectRef("store-1", "Doc", g.ref("r5").primaryKey()))}},
         {"r1", "r3"}},
        {"DocRev", "doc == %@", {QVariant::fromValue(TDWPredicateObjectRef("store-2", "Doc", g.ref("d1").primaryKey()))}, {}},
        {"DocRev", "doc.docRevs CONTAINS %@", {ref(g, "r2")}, {"r1", "r2"}},
        {"DocRev", "%@ IN doc.docRevs", {ref(g, "r3")}, {"r3"}},
        {"DocRev", "doc.docRevs CONTAINS nil", {}, {}},
        // To-many key paths: ANY, ALL, NONE, implicit ANY, membership.
        {"DocRev", "ANY doc.docRevs.title == \"resume draft\"", {}, {"r1", "r2"}},
        {"DocRev", "doc.docRevs.title == \"resume draft\"", {}, {"r1", "r2"}},
        {"DocRev", "\"resume draft\" == doc.docRevs.title", {}, {"r1", "r2"}},
        {"DocRev", "ALL doc.docRevs.latest == YES", {}, {"r3", "r4"}},
        {"DocRev", "NONE doc.docRevs.exportStatus == 3", {}, {"r3", "r4", "r5"}},
        {"DocRev", "ALL doc.docRevs.exportStatus != 5", {}, {"r1", "r2", "r4", "r5"}},
        {"DocRev", "doc.docRevs.title != nil", {}, {"r1", "r2", "r3", "r4"}},
        {"DocRev", "ANY doc.docRevs.title CONTAINS[cd] \"TAX\"", {}, {"r4"}},
        {"DocRev", "doc.parentDocs.parentDoc.docType CONTAINS \"group\"", {}, {"r1", "r2"}},
        {"DocRev", "ANY doc.parentDocs.parentDoc.docRevs.title BEGINSWITH \"My\"", {}, {"r1", "r2"}},
        {"DocRev", "doc.docRevs.@count == 2", {}, {"r1", "r2"}},
        {"DocRev", "doc.docRevs.@count == 0", {}, {"r5"}},
        // SUBQUERY, as the browser and the rules write it.
        {"DocRev", "subquery(doc.parentDocs, $x, $x.assocCurrent = 1 and $x.parentDoc = %@).@count != 0", {ref(g, "d2")}, {"r1", "r2"}},
        {"DocRev", "SUBQUERY(doc.parentDocs, $x, $x.assocCurrent = 1).@count = 0", {}, {"r3", "r4", "r5"}},
        {"DocRev", "subquery(doc.docRevs, $x, $x.firstSeenDate >= obsoletedDate and $x.firstSeenDate <= %@).@count = 0",
         {PredicateTestGraph::hour(20)}, {"r1", "r3", "r4", "r5"}},
        {"DocRev", "SUBQUERY(doc.parentDocs, $p, SUBQUERY($p.parentDoc.docRevs, $r, $r.latest == YES).@count > 0).@count == 2",
         {}, {"r1", "r2"}},
        {"DocRev", "ANY SUBQUERY(doc.docRevs, $x, $x.latest == NO).title BEGINSWITH \"resume\"", {}, {"r1", "r2"}},
        // As deep as the deepest predicate the browser builds (its label search at a snapshot).
        {"DocRev", "firstSeenDate <= %@ and (obsoletedDate = nil or obsoletedDate > %@) and subquery(doc.parentDocs, $x, "
                   "($x.parentDoc.docType =[cd] %@ or $x.parentDoc.docId like[cd] %@) and $x.parentDoc.account = %@ and "
                   "$x.parentDoc.deleted = 0 and ($x.parentDoc.account.username = nil or $x.parentDoc.account.username != %@)).@count != 0",
         {PredicateTestGraph::hour(20), PredicateTestGraph::hour(20), "GROUP", "/M8/*", ref(g, "alice"), "x"}, {"r1"}},
        // From the other side of the relationships.
        {"Doc", "ANY docRevs.latest == NO", {}, {"d1"}},
        {"Doc", "docRevs.@count == 0", {}, {"d4"}},
        {"Doc", "account.username BEGINSWITH \"bob\"", {}, {"d3"}},
        {"Doc", "SUBQUERY(parentDocs, $x, $x.parentDoc == nil).@count > 0", {}, {"d4"}},
        {"Doc", "ALL parentDocs.assocCurrent == YES", {}, {"d2", "d3", "d4"}},
        {"Doc", "parentDocs.parentDoc.docRevs.@count == 1", {}, {"d4"}},
        {"Doc", "parentDocs.parentDoc.docRevs.@count == 2", {}, {"d1"}},
        {"Doc", "ANY parentDocs.parentDoc.docType == nil", {}, {"d4"}},
        {"Doc", "parentDocs.parentDoc.docRevs CONTAINS nil", {}, {"d4"}},
        {"DocParent", "doc.docRevs.title CONTAINS \"My Contacts\" OR parentDoc.docRevs.title CONTAINS \"My Contacts\"", {}, {"p1"}},
        {"Account", "username ENDSWITH \"@example.com\" AND NOT username BEGINSWITH \"bob\"", {}, {"alice"}},
    };
}

TEST(TDWPredicateEvaluation, MemoryAndSqlSelectExactlyTheExpectedObjects)
{
    const PredicateTestGraph graph;
    for (const Row &row : rows(graph)) {
        SCOPED_TRACE(row.format);
        TDWError error;
        const TDWPredicate predicate = TDWPredicate::parse(QString::fromUtf8(row.format), row.arguments, &error);
        ASSERT_FALSE(predicate.isNull()) << error.localizedDescription().toStdString();
        const QString entity = QString::fromLatin1(row.entity);
        EXPECT_EQ(graph.matchesInMemory(entity, predicate, &error), row.expected) << error.localizedDescription().toStdString();
        EXPECT_TRUE(error.isNull());
        EXPECT_EQ(graph.matchesInSql(entity, predicate, &error), row.expected) << error.localizedDescription().toStdString();
        EXPECT_TRUE(error.isNull());
        // The printed form selects the same objects.
        const TDWPredicate reparsed = TDWPredicate::parse(predicate.predicateFormat());
        EXPECT_EQ(graph.matchesInSql(entity, reparsed, &error), row.expected);
    }
}

TEST(TDWPredicateEvaluation, ExclusionRulesFromTheEditorMatchByTitleOrType)
{
    // The editor stores its rows joined by OR, each title comparison with [cd].
    const PredicateTestGraph graph;
    const TDWPredicate rule = TDWPredicate::parse(
        QStringLiteral("title BEGINSWITH[cd] \"R\u00c9SUM\u00c9\" OR doc.docType == \"pdf\""));
    EXPECT_EQ(graph.matchesInMemory("DocRev", rule, nullptr), QStringList({"r1", "r2", "r4"}));
    EXPECT_EQ(graph.matchesInSql("DocRev", rule, nullptr), QStringList({"r1", "r2", "r4"}));
}

TEST(TDWPredicateEvaluation, UnboundVariablesFailInMemoryAndInSql)
{
    const PredicateTestGraph graph;
    const TDWPredicate p = TDWPredicate::parse(QStringLiteral("title == $TITLE OR latest == YES"));
    TDWError error;
    EXPECT_TRUE(graph.matchesInMemory("DocRev", p, &error).isEmpty());
    EXPECT_EQ(error.code(), TDWPredicateError::Evaluation);
    EXPECT_TRUE(error.localizedDescription().contains("$TITLE"));
    error = {};
    EXPECT_TRUE(graph.matchesInSql("DocRev", p, &error).isEmpty());
    EXPECT_EQ(error.code(), TDWPredicateError::SqlTranslation);

    const TDWPredicate bound = p.withSubstitutionVariables({{"TITLE", "resume draft"}});
    EXPECT_EQ(graph.matchesInMemory("DocRev", bound, nullptr), QStringList({"r1", "r2", "r3", "r4"}));
    EXPECT_EQ(graph.matchesInSql("DocRev", bound, nullptr), QStringList({"r1", "r2", "r3", "r4"}));

    error = {};
    EXPECT_FALSE(TDWPredicate().evaluate(*std::make_shared<PredicateTestGraph::Object>(), &error));
    EXPECT_FALSE(error.isNull());
}

TEST(TDWPredicateEvaluation, SqlTranslationRefusesWhatTheSchemaCannotAnswer)
{
    const PredicateTestGraph graph;
    const struct {
        const char *entity;
        const char *format;
        const char *reason;
    } cases[] = {
        {"DocRev", "nosuchkey == 1", "no key nosuchkey"},
        {"DocRev", "doc.nosuchkey == 1", "no key nosuchkey"},
        {"Nothing", "TRUEPREDICATE", "has no table"},
        {"DocRev", "SUBQUERY(doc, $x, $x.deleted == NO).@count == 0", "SUBQUERY"},
        {"DocRev", "doc.@count == 1", "@count"},
        {"DocRev", "ANY {doc.docRevs} == 1", "array element"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.format);
        TDWError error;
        TDWSqlFragment fragment;
        EXPECT_FALSE(TDWPredicate::parse(QString::fromLatin1(c.format)).toSql(graph, c.entity, "t0", &fragment, &error));
        EXPECT_EQ(error.code(), TDWPredicateError::SqlTranslation);
        EXPECT_TRUE(error.localizedDescription().contains(QString::fromLatin1(c.reason))) << error.localizedDescription().toStdString();
    }
}

TEST(TDWPredicateEvaluation, LongAndDeepPredicatesStayWithinSqliteLimits)
{
    // "self in %@" and "docId in %@" carry whole batches; a chain of ORs would
    // exceed SQLite's expression depth long before this.
    const PredicateTestGraph graph;
    QVariantList ids;
    QVariantList objects;
    for (int i = 0; i < 20000; ++i) {
        ids.append(QStringLiteral("doc-%1").arg(i));
        objects.append(QVariant::fromValue(TDWPredicateObjectRef(PredicateTestGraph::StoreIdentifier, "DocRev", 100000 + i)));
    }
    objects.append(ref(graph, "r4"));
    const TDWPredicate byId = TDWPredicate::parse(QStringLiteral("docId IN %@"), {QVariant(ids)});
    EXPECT_EQ(graph.matchesInSql("Doc", byId, nullptr), QStringList({"d1", "d3", "d4"}));
    const TDWPredicate byObject = TDWPredicate::parse(QStringLiteral("self IN %@"), {QVariant(objects)});
    EXPECT_EQ(graph.matchesInSql("DocRev", byObject, nullptr), QStringList({"r4"}));
    EXPECT_EQ(graph.matchesInMemory("DocRev", byObject, nullptr), QStringList({"r4"}));

    QStringList terms;
    for (int i = 0; i < 3000; ++i)
        terms.append(QStringLiteral("exportStatus == %1").arg(i));
    const TDWPredicate wide = TDWPredicate::parse(terms.join(QStringLiteral(" OR ")));
    EXPECT_EQ(graph.matchesInSql("DocRev", wide, nullptr), QStringList({"r1", "r2", "r3", "r4"}));

    // Nesting the parser takes but SQLite's parser would not is refused, not sent.
    const TDWPredicate deep = TDWPredicate::parse(QStringLiteral("NOT ").repeated(60) + QStringLiteral("latest == YES"));
    EXPECT_EQ(graph.matchesInMemory("DocRev", deep, nullptr), QStringList({"r1", "r3", "r4"}));
    TDWError error;
    EXPECT_TRUE(graph.matchesInSql("DocRev", deep, &error).isEmpty());
    EXPECT_TRUE(error.localizedDescription().contains("nested too deeply")) << error.localizedDescription().toStdString();
}

} // namespace
