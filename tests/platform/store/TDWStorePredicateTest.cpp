#include "StoreTestModel.h"

#include "platform/store/TDWStoreError.h"

#include <QDateTime>

#include <limits>
#include <tuple>

#include <gtest/gtest.h>

using namespace storetest;

namespace {

QDateTime day(int n)
{
    return QDateTime::fromString(QStringLiteral("2016-03-01T00:00:00Z"), Qt::ISODate).addDays(n);
}

// Items "a".."e" in library A, with versions dated over days 0..4 and one link
// (c inside b); "z" in library B.
struct Library
{
    Stack stack;
    QHash<QString, TDWManagedObjectID> items;

    Library()
    {
        auto context = stack.newContext();
        struct Row
        {
            const char *code;
            const char *title;
            int size;
            bool removed;
        };
        const QList<Row> rows{{"a", "Alpha", 1, false}, {"b", "bravo", 2, false}, {"c", "Écho", 3, true}, {"d", "delta", 4, false}, {"e", "echo", 5, false}};
        QHash<QString, TDWManagedObjectPtr> made;
        for (const Row &row : rows) {
            TDWManagedObjectPtr item = context->insertNewObject(QStringLiteral("Item"), stack.libraryA);
            item->setValue(QStringLiteral("code"), QString::fromLatin1(row.code));
            item->setValue(QStringLiteral("title"), QString::fromUtf8(row.title));
            item->setValue(QStringLiteral("size"), row.size);
            item->setValue(QStringLiteral("removed"), row.removed);
            made.insert(QString::fromLatin1(row.code), item);
            // Each item has an old version valid over [day size-1, day size) and a current one from day size.
            for (int old = 0; old < 2; ++old) {
                TDWManagedObjectPtr version = context->insertNewObject(QStringLiteral("Version"), stack.libraryA);
                version->setValue(QStringLiteral("label"), QStringLiteral("%1%2").arg(QString::fromLatin1(row.code)).arg(old ? "-old" : ""));
                version->setValue(QStringLiteral("seen"), day(row.size - old));
                if (old)
                    version->setValue(QStringLiteral("gone"), day(row.size));
                version->setValue(QStringLiteral("current"), !old);
                version->setObjectValue(QStringLiteral("item"), item);
            }
        }
        TDWManagedObjectPtr link = context->insertNewObject(QStringLiteral("Link"), stack.libraryA);
        link->setObjectValue(QStringLiteral("child"), made.value(QStringLiteral("c")));
        link->setObjectValue(QStringLiteral("parent"), made.value(QStringLiteral("b")));
        TDWManagedObjectPtr other = context->insertNewObject(QStringLiteral("Item"), stack.libraryB);
        other->setValue(QStringLiteral("code"), QStringLiteral("z"));
        made.insert(QStringLiteral("z"), other);
        EXPECT_TRUE(context->save(nullptr));
        for (auto it = made.constBegin(); it != made.constEnd(); ++it)
            items.insert(it.key(), it.value()->objectID());
    }
};

struct PredicateCase
{
    const char *name;
    const char *entity;
    QString format;
    // Arguments by name: "item:<code>" an item identifier, "day:<n>" a date, other text as is.
    QStringList arguments;
    QStringList expected; // codes of items, or labels of versions, sorted
};

void PrintTo(const PredicateCase &value, std::ostream *out)
{
    *out << value.name;
}

class StorePredicate : public ::testing::TestWithParam<PredicateCase>
{
};

// Each predicate selects the same objects when the stores run its SQL and when it is
// evaluated in memory over the loaded objects.
TEST_P(StorePredicate, SelectsTheSameObjectsInSqlAndInMemory)
{
    static Library library;
    QVariantList arguments;
    for (const QString &argument : GetParam().arguments) {
        if (argument.startsWith(QLatin1String("item:")))
            arguments.append(QVariant::fromValue(library.items.value(argument.mid(5))));
        else if (argument.startsWith(QLatin1String("day:")))
            arguments.append(day(argument.mid(4).toInt()));
        else if (argument == QLatin1String("items:a,c"))
            arguments.append(QVariant::fromValue(QList<TDWManagedObjectID>{library.items.value(QStringLiteral("a")), library.items.value(QStringLiteral("c"))}));
        else
            arguments.append(argument);
    }
    TDWError error;
    const TDWPredicate predicate = TDWPredicate::parse(GetParam().format, arguments, &error);
    ASSERT_FALSE(predicate.isNull()) << error.description().toStdString();
    const QString entity = QString::fromLatin1(GetParam().entity);
    const QString key = entity == QLatin1String("Item") ? QStringLiteral("code") : QStringLiteral("label");

    auto context = library.stack.newContext();
    TDWFetchRequest request(entity);
    request.setPredicate(predicate);
    request.setSortDescriptors({TDWSortDescriptor(key)});
    auto found = context->executeFetchRequest(request, &error);
    ASSERT_TRUE(found) << error.description().toStdString();
    QStringList bySql;
    for (const TDWManagedObjectPtr &object : *found)
        bySql.append(object->stringValue(key));
    EXPECT_EQ(bySql, GetParam().expected);
    EXPECT_EQ(context->countForFetchRequest(request, nullptr), GetParam().expected.size());

    TDWFetchRequest all(entity);
    all.setSortDescriptors({TDWSortDescriptor(key)});
    QStringList inMemory;
    const auto everything = context->executeFetchRequest(all, nullptr);
    ASSERT_TRUE(everything);
    for (const TDWManagedObjectPtr &object : *everything)
        if (predicate.evaluate(*object))
            inMemory.append(object->stringValue(key));
    EXPECT_EQ(inMemory, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Predicates, StorePredicate,
    ::testing::Values(
        PredicateCase{"Comparison", "Item", QStringLiteral("size > 3"), {}, {"d", "e"}},
        PredicateCase{"CaseAndDiacriticInsensitive", "Item", QStringLiteral("title BEGINSWITH[cd] %@"), {"E"}, {"c", "e"}},
        PredicateCase{"CaseInsensitiveOnly", "Item", QStringLiteral("title ==[c] 'ECHO'"), {}, {"e"}},
        PredicateCase{"BooleansAndIn", "Item", QStringLiteral("removed = NO AND size IN {1, 3, 4}"), {}, {"a", "d"}},
        PredicateCase{"Like", "Item", QStringLiteral("title LIKE[c] '*a'"), {}, {"a", "d"}},
        PredicateCase{"SubqueryOverToMany", "Item", QStringLiteral("SUBQUERY(parentLinks, $x, $x.parent.code = 'b').@count != 0"), {}, {"c"}},
        PredicateCase{"NoParent", "Item", QStringLiteral("code != 'z' AND SUBQUERY(parentLinks, $x, $x.child != nil).@count = 0"), {}, {"a", "b", "d", "e"}},
        PredicateCase{"AnyOverToMany", "Item", QStringLiteral("ANY versions.label = 'b-old'"), {}, {"b"}},
        PredicateCase{"SelfInIdentifiers", "Item", QStringLiteral("self IN %@"), {"items:a,c"}, {"a", "c"}},
        PredicateCase{"ToOneObject", "Version", QStringLiteral("item = %@"), {"item:d"}, {"d", "d-old"}},
        PredicateCase{"ObjectOfAnotherStoreMatchesNothing", "Version", QStringLiteral("item = %@"), {"item:z"}, {}},
        PredicateCase{"KeyPathThroughToOne", "Version", QStringLiteral("item.removed = YES AND current = YES"), {}, {"c"}},
        PredicateCase{"ValidAtASnapshot", "Version", QStringLiteral("seen <= %@ AND (gone = nil OR gone > %@)"), {"day:2", "day:2"},
                      {"a", "b", "c-old"}},
        PredicateCase{"Nil", "Version", QStringLiteral("gone != nil AND item.size >= 4"), {}, {"d-old", "e-old"}}),
    [](const ::testing::TestParamInfo<PredicateCase> &info) { return std::string(info.param.name); });

TEST(StorePredicate, UnsavedInsertsAreTestedInMemory)
{
    Library library;
    auto context = library.stack.newContext();
    for (int size : {10, 0}) {
        TDWManagedObjectPtr item = context->insertNewObject(QStringLiteral("Item"), library.stack.libraryA);
        item->setValue(QStringLiteral("code"), QStringLiteral("new%1").arg(size));
        item->setValue(QStringLiteral("size"), size);
    }
    TDWFetchRequest request(QStringLiteral("Item"));
    request.setPredicate(TDWPredicate::parse(QStringLiteral("size >= 4")));
    request.setSortDescriptors({TDWSortDescriptor(QStringLiteral("size"), false)});
    auto found = context->executeFetchRequest(request, nullptr);
    ASSERT_TRUE(found);
    QStringList codes;
    for (const TDWManagedObjectPtr &object : *found)
        codes.append(object->stringValue(QStringLiteral("code")));
    EXPECT_EQ(codes, (QStringList{QStringLiteral("new10"), QStringLiteral("e"), QStringLiteral("d")}));
    EXPECT_EQ(context->countForFetchRequest(request, nullptr), 3);
}

// Lookups by key test that key first on unsaved objects; they must select what the
// stored rows select once saved.
TEST(StorePredicate, UnsavedObjectsMatchAsTheirSavedRowsDo)
{
    Stack stack;
    auto context = stack.newContext();
    const QList<QPair<QString, QString>> items{{QStringLiteral("x"), QStringLiteral("Same")}, {QStringLiteral("X"), QString()},
                                               {QStringLiteral("y"), QStringLiteral("same")}, {QStringLiteral("x "), QStringLiteral("Same")}};
    for (const auto &[code, title] : items) {
        TDWManagedObjectPtr item = context->insertNewObject(QStringLiteral("Item"), stack.libraryA);
        item->setValue(QStringLiteral("code"), code);
        item->setValue(QStringLiteral("title"), title);
    }
    const QStringList formats{QStringLiteral("code == 'x'"), QStringLiteral("code == 'x' AND title == 'Same'"), QStringLiteral("code ==[c] 'x'"),
                              QStringLiteral("title == 'same' OR code == 'X'"), QStringLiteral("title == 'Same' AND code != 'x'"),
                              QStringLiteral("code == 'z'")};
    auto codesFor = [](TDWManagedObjectContext &moc, const QString &format) {
        TDWFetchRequest request(QStringLiteral("Item"));
        request.setPredicate(TDWPredicate::parse(format));
        request.setSortDescriptors({TDWSortDescriptor(QStringLiteral("code"))});
        QStringList codes;
        for (const TDWManagedObjectPtr &object : moc.executeFetchRequest(request, nullptr).value_or(QList<TDWManagedObjectPtr>()))
            codes.append(object->stringValue(QStringLiteral("code")));
        return codes;
    };
    QList<QStringList> unsaved;
    for (const QString &format : formats)
        unsaved.append(codesFor(*context, format));
    ASSERT_TRUE(context->save(nullptr));
    auto fresh = stack.newContext();
    for (int i = 0; i < formats.size(); ++i)
        EXPECT_EQ(unsaved[i], codesFor(*fresh, formats[i])) << formats[i].toStdString();
    EXPECT_EQ(unsaved[1], QStringList{QStringLiteral("x")});
}

// Lookups by a to-one link see links changed or made in the context, and no stored
// link that the context has changed since.
TEST(StorePredicate, LinksChangedInTheContextDecide)
{
    Stack stack;
    auto context = stack.newContext();
    const TDWManagedObjectPtr a = addItem(*context, stack.libraryA, QStringLiteral("a"), QStringLiteral("v1"));
    const TDWManagedObjectPtr b = addItem(*context, stack.libraryA, QStringLiteral("b"), QStringLiteral("v2"));
    ASSERT_TRUE(context->save(nullptr));
    auto versionsOf = [&context](const TDWManagedObjectPtr &item) {
        TDWFetchRequest request(QStringLiteral("Version"));
        request.setPredicate(TDWPredicate::parse(QStringLiteral("item == %@ AND current == YES"), {QVariant::fromValue(item)}));
        request.setSortDescriptors({TDWSortDescriptor(QStringLiteral("label"))});
        QStringList labels;
        for (const TDWManagedObjectPtr &version : context->executeFetchRequest(request, nullptr).value_or(QList<TDWManagedObjectPtr>()))
            labels.append(version->stringValue(QStringLiteral("label")));
        return labels;
    };
    a->objectsValue(QStringLiteral("versions")).first()->setObjectValue(QStringLiteral("item"), b); // v1 moves to b
    b->objectsValue(QStringLiteral("versions")).first()->setValue(QStringLiteral("label"), QStringLiteral("v2 renamed"));
    TDWManagedObjectPtr v3 = context->insertNewObject(QStringLiteral("Version"), stack.libraryA);
    v3->setValue(QStringLiteral("label"), QStringLiteral("v3"));
    v3->setValue(QStringLiteral("current"), true);
    v3->setObjectValue(QStringLiteral("item"), b);
    EXPECT_EQ(versionsOf(b), (QStringList{QStringLiteral("v1"), QStringLiteral("v2 renamed"), QStringLiteral("v3")}));
    EXPECT_TRUE(versionsOf(a).isEmpty());
}

TEST(StorePredicate, ChangedObjectsAreTestedWithTheirCurrentValues)
{
    Library library;
    auto context = library.stack.newContext();
    // "e" (size 5) no longer matches, "a" (size 1) now does and sorts first; neither is saved.
    context->existingObjectWithID(library.items.value(QStringLiteral("e")), nullptr)->setValue(QStringLiteral("size"), 0);
    context->existingObjectWithID(library.items.value(QStringLiteral("a")), nullptr)->setValue(QStringLiteral("size"), 9);
    TDWFetchRequest request(QStringLiteral("Item"));
    request.setPredicate(TDWPredicate::parse(QStringLiteral("size >= 4")));
    request.setSortDescriptors({TDWSortDescriptor(QStringLiteral("size"), false)});
    auto found = context->executeFetchRequest(request, nullptr);
    ASSERT_TRUE(found);
    QStringList codes;
    for (const TDWManagedObjectPtr &object : *found)
        codes.append(object->stringValue(QStringLiteral("code")));
    EXPECT_EQ(codes, (QStringList{QStringLiteral("a"), QStringLiteral("d")}));
    EXPECT_EQ(context->countForFetchRequest(request, nullptr), 2);
    request.setFetchLimit(1);
    EXPECT_EQ(context->executeIDFetchRequest(request, nullptr), std::optional<QList<TDWManagedObjectID>>({library.items.value(QStringLiteral("a"))}));
    // Another context sees the stored values only.
    request.setFetchLimit(0);
    EXPECT_EQ(library.stack.newContext()->countForFetchRequest(request, nullptr), 2);
    EXPECT_EQ(library.stack.newContext()->executeIDFetchRequest(request, nullptr)->first(), library.items.value(QStringLiteral("e")));
}

TEST(StorePredicate, PredicatesOverUnknownKeysFail)
{
    Library library;
    auto context = library.stack.newContext();
    TDWFetchRequest request(QStringLiteral("Item"));
    request.setPredicate(TDWPredicate::parse(QStringLiteral("colour = 'red'")));
    TDWError error;
    EXPECT_FALSE(context->executeFetchRequest(request, &error));
    EXPECT_EQ(error.code(), TDWStoreError::InvalidArgument);
}

// What a fetch with the predicate selects through SQL and what evaluating it in
// memory over every object of the entity selects: names (the value of `key`), sorted.
struct Selection
{
    QStringList bySql;
    QStringList inMemory;
};

Selection selectBoth(const Stack &stack, const QString &entity, const QString &key, const TDWPredicate &predicate)
{
    Selection selection;
    auto context = stack.newContext();
    TDWFetchRequest request(entity);
    request.setPredicate(predicate);
    TDWError error;
    const auto found = context->executeFetchRequest(request, &error);
    EXPECT_TRUE(found) << error.description().toStdString();
    for (const TDWManagedObjectPtr &object : found.value_or(QList<TDWManagedObjectPtr>{}))
        selection.bySql.append(object->stringValue(key));
    const auto everything = context->executeFetchRequest(TDWFetchRequest(entity), nullptr);
    EXPECT_TRUE(everything);
    for (const TDWManagedObjectPtr &object : everything.value_or(QList<TDWManagedObjectPtr>{}))
        if (predicate.evaluate(*object))
            selection.inMemory.append(object->stringValue(key));
    selection.bySql.sort();
    selection.inMemory.sort();
    return selection;
}

struct SelectionCase
{
    const char *entity;
    const char *format;
    QVariantList arguments;
    QStringList expected; // sorted
};

// Items are named by their code, owners by their name.
void expectSelections(const Stack &stack, const QList<SelectionCase> &cases)
{
    for (const SelectionCase &row : cases) {
        SCOPED_TRACE(std::string(row.entity) + ": " + row.format);
        TDWError error;
        const TDWPredicate predicate = TDWPredicate::parse(QString::fromUtf8(row.format), row.arguments, &error);
        ASSERT_FALSE(predicate.isNull()) << error.description().toStdString();
        const QString entity = QString::fromLatin1(row.entity);
        const Selection selection =
            selectBoth(stack, entity, entity == QLatin1String("Item") ? QStringLiteral("code") : QStringLiteral("name"), predicate);
        QStringList expected = row.expected;
        expected.sort();
        EXPECT_EQ(selection.bySql, expected);
        EXPECT_EQ(selection.inMemory, expected);
    }
}

// Integers (item sizes), reals (owner scores) and booleans against constants of
// every numeric type, near the edges of doubles and of 64 bits: SQL and memory
// select the same objects, and the right ones.
TEST(StorePredicate, NumbersCompareExactlyInSqlAndInMemory)
{
    constexpr qint64 SignedMax = std::numeric_limits<qint64>::max();
    constexpr qint64 SignedMin = std::numeric_limits<qint64>::min();
    constexpr quint64 UnsignedMax = std::numeric_limits<quint64>::max();
    const quint64 twoTo63 = quint64(SignedMax) + 1;
    const qint64 twoTo53 = qint64(1) << 53;
    Stack stack;
    {
        auto context = stack.newContext();
        const QList<std::pair<const char *, qint64>> sizes{{"min", SignedMin}, {"neg", -1}, {"zero", 0}, {"one", 1},
                                                          {"p53", twoTo53}, {"p53+1", twoTo53 + 1}, {"msg0", 1600000000000000000LL},
                                                          {"msg1", 1600000000000000001LL}, {"max", SignedMax}};
        for (const auto &[code, size] : sizes) {
            TDWManagedObjectPtr item = context->insertNewObject(QStringLiteral("Item"), stack.libraryA);
            item->setValue(QStringLiteral("code"), QString::fromLatin1(code));
            item->setValue(QStringLiteral("size"), QVariant::fromValue(size));
        }
        const QList<std::tuple<const char *, double, bool>> scores{{"s-neg", -0.5, true}, {"s-half", 0.5, false},
                                                                   {"s-53", 9007199254740992.0, true}, {"s-msg", 1.6e18, false},
                                                                   {"s-63", 9223372036854775808.0, true}, {"s-64", 18446744073709551616.0, false}};
        for (const auto &[name, score, active] : scores) {
            TDWManagedObjectPtr owner = context->insertNewObject(QStringLiteral("Owner"), stack.main);
            owner->setValue(QStringLiteral("name"), QString::fromLatin1(name));
            owner->setValue(QStringLiteral("score"), score);
            owner->setValue(QStringLiteral("active"), active);
        }
        ASSERT_TRUE(context->save(nullptr));
    }
    const QStringList allItems{"max", "min", "msg0", "msg1", "neg", "one", "p53", "p53+1", "zero"};
    expectSelections(stack, {
        {"Item", "size == %@", {QVariant(quint64(1600000000000000001ULL))}, {"msg1"}},
        {"Item", "size == %@", {QVariant(qlonglong(1600000000000000000LL))}, {"msg0"}},
        {"Item", "size == %@", {QVariant::fromValue<ulong>(1600000000000000000UL)}, {"msg0"}},
        {"Item", "size == 1600000000000000001", {}, {"msg1"}},
        {"Item", "size > %@", {QVariant(1.6e18)}, {"max", "msg1"}},
        {"Item", "size >= %@", {QVariant(1.6e18)}, {"max", "msg0", "msg1"}},
        {"Item", "size > %@", {QVariant(9007199254740992.0)}, {"max", "msg0", "msg1", "p53+1"}},
        {"Item", "size == %@", {QVariant(9007199254740993.0)}, {"p53"}}, // the double is 2^53
        {"Item", "size == %@", {QVariant(9223372036854775807.0)}, {}},    // the double is 2^63
        {"Item", "size < %@", {QVariant(9223372036854775807.0)}, allItems},
        {"Item", "size < %@", {QVariant(twoTo63)}, allItems},
        {"Item", "size >= %@", {QVariant(twoTo63)}, {}},
        {"Item", "size == %@", {QVariant(UnsignedMax)}, {}},
        {"Item", "size != %@", {QVariant(UnsignedMax)}, allItems},
        {"Item", "size <= %llu", {QVariant(UnsignedMax)}, allItems},
        {"Item", "size > 18446744073709551615", {}, {}},
        {"Item", "%@ > size", {QVariant(UnsignedMax - 1)}, allItems},
        {"Item", "size IN %@", {QVariantList{QVariant(UnsignedMax), QVariant(quint64(1600000000000000001ULL)), QVariant(-1)}}, {"msg1", "neg"}},
        {"Item", "size <= %@", {QVariant(-9223372036854775808.0)}, {"min"}},
        {"Item", "size < -9223372036854775807", {}, {"min"}},
        {"Item", "size == YES", {}, {"one"}},
        {"Item", "size > NO AND size < %@", {QVariant(uint(2))}, {"one"}},
        {"Item", "size < %@", {QVariant(-0.5)}, {"min", "neg"}},
        {"Owner", "score == %@", {QVariant(twoTo63)}, {"s-63"}},
        {"Owner", "score == %@", {QVariant(UnsignedMax)}, {}},
        {"Owner", "score > %@", {QVariant(UnsignedMax)}, {"s-64"}},
        {"Owner", "score < %@", {QVariant(UnsignedMax)}, {"s-53", "s-63", "s-half", "s-msg", "s-neg"}},
        {"Owner", "%@ >= score", {QVariant(UnsignedMax)}, {"s-53", "s-63", "s-half", "s-msg", "s-neg"}},
        {"Owner", "score IN %@", {QVariantList{QVariant(twoTo63), QVariant(UnsignedMax)}}, {"s-63"}},
        {"Owner", "score == %@", {QVariant(quint64(1600000000000000000ULL))}, {"s-msg"}},
        {"Owner", "score == %@", {QVariant(quint64(1600000000000000001ULL))}, {}},
        {"Owner", "score > %@", {QVariant(qlonglong(twoTo53 - 1))}, {"s-53", "s-63", "s-64", "s-msg"}},
        {"Owner", "score >= %@", {QVariant(qlonglong(SignedMax))}, {"s-63", "s-64"}},
        {"Owner", "score < 1", {}, {"s-half", "s-neg"}},
        {"Owner", "active == %@", {QVariant(uint(1))}, {"s-53", "s-63", "s-neg"}},
        {"Owner", "active == %@", {QVariant(2.0)}, {}},
        {"Owner", "active != NO", {}, {"s-53", "s-63", "s-neg"}},
    });
}

// Case-insensitive comparisons fold case fully (ß is ss, the ﬁ ligature is fi) and
// the same way in SQL as in memory, for every string operator.
TEST(StorePredicate, CaseFoldingIsFullAndTheSameInSqlAndInMemory)
{
    Stack stack;
    {
        auto context = stack.newContext();
        const QStringList titles{QStringLiteral("Straße"), QStringLiteral("STRASSE"), QStringLiteral("strasse"), QStringLiteral("ﬁle"),
                                 QStringLiteral("FILE"), QStringLiteral("ΣΊΣΥΦΟΣ"), QStringLiteral("σίσυφος"), QStringLiteral("İstanbul"),
                                 QStringLiteral("istanbul"), QStringLiteral("ISTANBUL"), QStringLiteral("ıstanbul")};
        for (const QString &title : titles) {
            TDWManagedObjectPtr item = context->insertNewObject(QStringLiteral("Item"), stack.libraryA);
            item->setValue(QStringLiteral("code"), title);
            item->setValue(QStringLiteral("title"), title);
        }
        ASSERT_TRUE(context->save(nullptr));
    }
    expectSelections(stack, {
        {"Item", "title ==[c] %@", {QStringLiteral("strasse")}, {"STRASSE", "Straße", "strasse"}},
        {"Item", "title ==[c] %@", {QStringLiteral("STRAẞE")}, {"STRASSE", "Straße", "strasse"}},
        {"Item", "title == %@", {QStringLiteral("strasse")}, {"strasse"}},
        {"Item", "title BEGINSWITH[c] %@", {QStringLiteral("STRAS")}, {"STRASSE", "Straße", "strasse"}},
        {"Item", "title CONTAINS[c] %@", {QStringLiteral("fi")}, {"FILE", "ﬁle"}},
        {"Item", "title LIKE[c] %@", {QStringLiteral("*SS*")}, {"STRASSE", "Straße", "strasse"}},
        {"Item", "title LIKE[c] %@", {QStringLiteral("?stanbul")}, {"ISTANBUL", "istanbul", "ıstanbul"}},
        {"Item", "title ENDSWITH[c] %@", {QStringLiteral("ς")}, {"ΣΊΣΥΦΟΣ", "σίσυφος"}},
        {"Item", "title ==[cd] %@", {QStringLiteral("σισυφοσ")}, {"ΣΊΣΥΦΟΣ", "σίσυφος"}},
        {"Item", "title IN[c] %@", {QStringList{QStringLiteral("STRASSE"), QStringLiteral("ﬁle")}}, {"FILE", "STRASSE", "Straße", "strasse", "ﬁle"}},
        // Default folding keeps the dot of İ as a combining mark, which [d] drops; ı stays ı.
        {"Item", "title ==[c] %@", {QStringLiteral("istanbul")}, {"ISTANBUL", "istanbul"}},
        {"Item", "title ==[cd] %@", {QStringLiteral("istanbul")}, {"ISTANBUL", "istanbul", "İstanbul"}},
        {"Item", "title BEGINSWITH[cd] %@", {QStringLiteral("Ist")}, {"ISTANBUL", "istanbul", "İstanbul"}},
    });
}

} // namespace
