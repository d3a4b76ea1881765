// Feeds arbitrary text to the predicate parser. Whatever parses must print to a
// form that parses back to an equal predicate, and over a small object graph the
// SQL translation (when there is one) must select exactly what evaluation in
// memory accepts. Any difference aborts, so the fuzzer reports it.

#include "platform/predicate/TDWPredicate.h"

#include <QDateTime>
#include <QSet>

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>

namespace {

class Item : public TDWPredicateSubject
{
public:
    qint64 id = 0;
    QVariantMap attributes;
    std::shared_ptr<Item> parent;
    QList<std::shared_ptr<Item>> children;

    TDWPredicateValue valueForKey(const QString &key) const override
    {
        if (key == QLatin1String("parent"))
            return TDWPredicateValue::fromObject(parent);
        if (key == QLatin1String("children"))
            return TDWPredicateValue::fromObjects({children.begin(), children.end()});
        return TDWPredicateValue::fromScalar(attributes.value(key));
    }
    TDWPredicateObjectRef objectRef() const override { return TDWPredicateObjectRef(QString(), QStringLiteral("Item"), id); }
};

struct Column {
    const char *key;
    QMetaType::Type type;
};
const Column Columns[] = {
    {"name", QMetaType::QString}, {"n", QMetaType::LongLong}, {"x", QMetaType::Double},
    {"flag", QMetaType::Bool},    {"at", QMetaType::QDateTime}, {"blob", QMetaType::QByteArray},
};

class Schema : public TDWPredicateSqlSchema
{
public:
    QString tableForEntity(const QString &entity) const override
    {
        return entity == QLatin1String("Item") ? QStringLiteral("ITEM") : QString();
    }
    QString primaryKeyColumn(const QString &) const override { return QStringLiteral("id"); }
    std::optional<Attribute> attribute(const QString &entity, const QString &key) const override
    {
        for (const Column &c : Columns) {
            if (entity == QLatin1String("Item") && key == QLatin1String(c.key))
                return Attribute{QLatin1String("c_") + key, c.type};
        }
        return std::nullopt;
    }
    std::optional<Relationship> relationship(const QString &entity, const QString &key) const override
    {
        if (entity != QLatin1String("Item"))
            return std::nullopt;
        if (key == QLatin1String("parent"))
            return Relationship{QStringLiteral("Item"), false, QStringLiteral("parent_id"), {}};
        if (key == QLatin1String("children"))
            return Relationship{QStringLiteral("Item"), true, {}, QStringLiteral("parent_id")};
        return std::nullopt;
    }
};

struct World {
    QList<std::shared_ptr<Item>> items;
    Schema schema;
    sqlite3 *db = nullptr;
    QVariantList arguments;

    World()
    {
        const QDateTime t0(QDate(2012, 1, 1), QTime(0, 0), Qt::UTC);
        const QVariant nil;
        const QVariantMap rows[] = {
            {{"name", "Abc"}, {"n", 1LL}, {"x", 1.5}, {"flag", true}, {"at", t0}, {"blob", QByteArray("a")}},
            {{"name", "\u00e9t\u00e9"}, {"n", 2LL}, {"x", 2.0}, {"flag", false}, {"at", t0.addSecs(60)}},
            {{"name", "a*b?"}, {"n", 0LL}, {"x", -1.0}, {"at", t0.addMSecs(1)}},
            {{"n", 2LL}, {"flag", true}},
            {{"name", ""}, {"x", 0.0}, {"blob", QByteArray()}},
        };
        for (const QVariantMap &row : rows) {
            auto item = std::make_shared<Item>();
            item->id = items.size() + 1;
            item->attributes = row;
            items.append(item);
        }
        const int parents[] = {0, 1, 1, 2, 0};   // 1-based parent per item, 0 for none
        for (int i = 0; i < items.size(); ++i) {
            if (parents[i]) {
                items[i]->parent = items[parents[i] - 1];
                items[parents[i] - 1]->children.append(items[i]);
            }
        }
        sqlite3_open(":memory:", &db);
        TDWPredicateSql::registerFunctions(db);
        sqlite3_exec(db, "CREATE TABLE ITEM (id INTEGER PRIMARY KEY, c_name TEXT, c_n INTEGER, c_x REAL, c_flag INTEGER, "
                         "c_at REAL, c_blob BLOB, parent_id INTEGER)", nullptr, nullptr, nullptr);
        for (const auto &item : items) {
            QVariantList values{item->id};
            for (const Column &c : Columns) {
                const QVariant v = item->attributes.value(QLatin1String(c.key));
                if (!v.isValid())
                    values.append(QVariant());
                else if (c.type == QMetaType::QDateTime)
                    values.append(TDWPredicateSql::secondsSinceReferenceDate(v.toDateTime()));
                else if (c.type == QMetaType::Bool)
                    values.append(qlonglong(v.toBool()));
                else
                    values.append(v);
            }
            values.append(item->parent ? QVariant(item->parent->id) : QVariant());
            sqlite3_stmt *insert = nullptr;
            sqlite3_prepare_v2(db, "INSERT INTO ITEM VALUES (?, ?, ?, ?, ?, ?, ?, ?)", -1, &insert, nullptr);
            TDWPredicateSql::bindValues(insert, 1, values);
            sqlite3_step(insert);
            sqlite3_finalize(insert);
        }
        arguments = {QStringLiteral("name"), 1, 2.5, QVariantList{1, QStringLiteral("Abc"), QVariant()}, t0, nil,
                     QVariant::fromValue(TDWPredicateObjectRef(QString(), QStringLiteral("Item"), 2)), QStringLiteral("a*"),
                     true, QByteArray("a"), QStringLiteral("children")};
    }

    ~World()
    {
        // Parents and children hold each other; break the cycles so nothing leaks at exit.
        for (const auto &item : items) {
            item->parent.reset();
            item->children.clear();
        }
        sqlite3_close(db);
    }
};

[[noreturn]] void failWith(const char *what, const TDWPredicate &p, const QString &detail = {})
{
    std::fprintf(stderr, "%s\npredicate: %s\n%s\n", what, p.predicateFormat().toUtf8().constData(), detail.toUtf8().constData());
    std::abort();
}

void crossCheck(const World &world, const TDWPredicate &predicate)
{
    QSet<qint64> inMemory;
    for (const auto &item : world.items) {
        TDWError error;
        if (predicate.evaluate(*item, &error))
            inMemory.insert(item->id);
        if (!error.isNull())
            return;
    }
    TDWSqlFragment fragment;
    if (!predicate.toSql(world.schema, QStringLiteral("Item"), QStringLiteral("t"), &fragment, nullptr))
        return;
    const QByteArray sql = ("SELECT id FROM ITEM t WHERE " + fragment.sql).toUtf8();
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(world.db, sql.constData(), -1, &statement, nullptr) != SQLITE_OK)
        failWith("translated SQL does not prepare", predicate, QString::fromUtf8(sqlite3_errmsg(world.db)) + "\n" + fragment.sql);
    TDWPredicateSql::bindValues(statement, 1, fragment.bindings);
    QSet<qint64> inSql;
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW)
        inSql.insert(sqlite3_column_int64(statement, 0));
    sqlite3_finalize(statement);
    if (rc != SQLITE_DONE)
        failWith("translated SQL fails", predicate, QString::fromUtf8(sqlite3_errmsg(world.db)) + "\n" + fragment.sql);
    if (inSql != inMemory)
        failWith("SQL and memory disagree", predicate, fragment.sql);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const World world;
    const QString format = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    TDWError error;
    const TDWPredicate predicate = TDWPredicate::parse(format, world.arguments, &error);
    if (predicate.isNull()) {
        if (error.isNull())
            std::abort();
        return 0;
    }
    const TDWPredicate substituted = predicate.withSubstitutionVariables(
        {{QStringLiteral("V"), 2}, {QStringLiteral("S"), QStringLiteral("Abc")}, {QStringLiteral("L"), QVariantList{1, 2}}});
    for (const TDWPredicate &p : {predicate, substituted}) {
        const QString printed = p.predicateFormat();
        const TDWPredicate reparsed = TDWPredicate::parse(printed);
        if (!(reparsed == p))
            failWith("printed form does not parse back to an equal predicate", p, printed);
        if (reparsed.predicateFormat() != printed)
            failWith("printing is not stable", p, reparsed.predicateFormat());
        crossCheck(world, p);
    }
    return 0;
}
