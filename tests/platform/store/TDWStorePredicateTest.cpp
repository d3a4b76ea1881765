#include "StoreTestModel.h"

#include "platform/store/TDWStoreError.h"

#include <QDateTime>

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

} // namespace
