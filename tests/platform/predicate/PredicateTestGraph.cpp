#include "PredicateTestGraph.h"

#include <QDateTime>

#include <stdexcept>

namespace {

struct AttributeSpec {
    const char *entity;
    const char *key;
    const char *column;
    QMetaType::Type type;
};

struct RelationshipSpec {
    const char *entity;
    const char *key;
    const char *destination;
    bool toMany;
    const char *column;  // to-one: column in the source; to-many: column in the destination
};

const AttributeSpec Attributes[] = {
    {"Account", "username", "ZUSERNAME", QMetaType::QString},
    {"Doc", "docId", "ZDOCID", QMetaType::QString},
    {"Doc", "docType", "ZDOCTYPE", QMetaType::QString},
    {"Doc", "deleted", "ZDELETED", QMetaType::Bool},
    {"Doc", "accountUsername", "ZACCOUNTUSERNAME", QMetaType::QString},
    {"DocRev", "title", "ZTITLE", QMetaType::QString},
    {"DocRev", "who", "ZWHO", QMetaType::QString},
    {"DocRev", "latest", "ZLATEST", QMetaType::Bool},
    {"DocRev", "exportStatus", "ZEXPORTSTATUS", QMetaType::LongLong},
    {"DocRev", "size", "ZSIZE", QMetaType::Double},
    {"DocRev", "firstSeenDate", "ZFIRSTSEENDATE", QMetaType::QDateTime},
    {"DocRev", "obsoletedDate", "ZOBSOLETEDDATE", QMetaType::QDateTime},
    {"DocRev", "ownerEmail", "ZOWNEREMAIL", QMetaType::QString},
    {"DocRev", "etag", "ZETAG", QMetaType::QByteArray},
    {"DocParent", "assocCurrent", "ZASSOCCURRENT", QMetaType::Bool},
};

const RelationshipSpec Relationships[] = {
    {"Doc", "account", "Account", false, "ZACCOUNT"},
    {"Doc", "docRevs", "DocRev", true, "ZDOC"},
    {"Doc", "parentDocs", "DocParent", true, "ZDOC"},
    {"DocRev", "doc", "Doc", false, "ZDOC"},
    {"DocParent", "doc", "Doc", false, "ZDOC"},
    {"DocParent", "parentDoc", "Doc", false, "ZPARENTDOC"},
};

const char *const Entities[] = {"Account", "Doc", "DocRev", "DocParent"};

QString sqlType(QMetaType::Type type)
{
    switch (type) {
    case QMetaType::Double:
    case QMetaType::QDateTime: return QStringLiteral("REAL");
    case QMetaType::QString: return QStringLiteral("TEXT");
    case QMetaType::QByteArray: return QStringLiteral("BLOB");
    default: return QStringLiteral("INTEGER");
    }
}

void check(int rc, sqlite3 *db)
{
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
        throw std::runtime_error(sqlite3_errmsg(db));
}

} // namespace

TDWPredicateValue PredicateTestGraph::Object::valueForKey(const QString &key) const
{
    if (const auto it = toOne.constFind(key); it != toOne.constEnd())
        return TDWPredicateValue::fromObject(*it);
    for (const RelationshipSpec &spec : Relationships) {
        if (entity == QLatin1String(spec.entity) && key == QLatin1String(spec.key)) {
            if (!spec.toMany)
                return TDWPredicateValue::fromObject(nullptr);
            QList<std::shared_ptr<const TDWPredicateSubject>> objects;
            for (const auto &object : toMany.value(key))
                objects.append(object);
            return TDWPredicateValue::fromObjects(objects);
        }
    }
    return TDWPredicateValue::fromScalar(attributes.value(key));
}

TDWPredicateObjectRef PredicateTestGraph::Object::objectRef() const
{
    return TDWPredicateObjectRef(StoreIdentifier, entity, primaryKey);
}

QDateTime PredicateTestGraph::hour(int n)
{
    return QDateTime(QDate(2012, 1, 1), QTime(0, 0), Qt::UTC).addSecs(qint64(n) * 3600);
}

PredicateTestGraph::PredicateTestGraph()
{
    const QVariant nil;
    add("Account", "alice", {{"username", "alice@example.com"}});
    add("Account", "bob", {{"username", "bob@example.com"}});

    add("Doc", "d1", {{"docId", "doc-1"}, {"docType", "document"}, {"deleted", false}, {"accountUsername", "alice@example.com"}});
    add("Doc", "d2", {{"docId", "/m8/feeds/groups/alice/base/6"}, {"docType", "group"}, {"deleted", false},
                      {"accountUsername", "alice@example.com"}});
    add("Doc", "d3", {{"docId", "doc-3"}, {"docType", "pdf"}, {"deleted", true}, {"accountUsername", "bob@example.com"}});
    add("Doc", "d4", {{"docId", "doc-4"}, {"docType", "document"}, {"deleted", false}});
    link("d1", "account", "alice");
    link("d2", "account", "alice");
    link("d3", "account", "bob");

    add("DocRev", "r1", {{"title", "Résumé Final"}, {"who", "Zoë"}, {"latest", true}, {"exportStatus", 1LL}, {"size", 1.5},
                         {"firstSeenDate", hour(10).addMSecs(123)}, {"ownerEmail", "alice@example.com"},
                         {"etag", QByteArray("\x01\x02", 2)}});
    add("DocRev", "r2", {{"title", "resume draft"}, {"latest", false}, {"exportStatus", 3LL}, {"size", 2.0},
                         {"firstSeenDate", hour(0)}, {"obsoletedDate", hour(10)}});
    add("DocRev", "r3", {{"title", "My Contacts"}, {"who", "bob"}, {"latest", true}, {"exportStatus", 5LL},
                         {"firstSeenDate", hour(5)}, {"ownerEmail", "bob@example.com"}, {"etag", QByteArray("\x01", 1)}});
    add("DocRev", "r4", {{"title", "Tax*Report?"}, {"latest", true}, {"exportStatus", 2LL}, {"size", 0.0},
                         {"firstSeenDate", hour(3)}, {"obsoletedDate", hour(4)}});
    add("DocRev", "r5", {{"latest", false}});
    link("r1", "doc", "d1");
    link("r2", "doc", "d1");
    link("r3", "doc", "d2");
    link("r4", "doc", "d3");

    add("DocParent", "p1", {{"assocCurrent", true}});
    add("DocParent", "p2", {{"assocCurrent", false}});
    add("DocParent", "p3", {{"assocCurrent", true}});
    link("p1", "doc", "d1");
    link("p1", "parentDoc", "d2");
    link("p2", "doc", "d1");
    link("p2", "parentDoc", "d3");
    link("p3", "doc", "d4");
    createDatabase();
}

PredicateTestGraph::~PredicateTestGraph()
{
    // The graph holds cycles (a doc and its revisions); break them.
    for (const auto &object : m_objects) {
        object->toOne.clear();
        object->toMany.clear();
    }
    sqlite3_close(m_db);
}

std::shared_ptr<PredicateTestGraph::Object> PredicateTestGraph::add(const QString &entity, const QString &name,
                                                                    const QVariantMap &attributes)
{
    auto object = std::make_shared<Object>();
    object->entity = entity;
    object->name = name;
    object->attributes = attributes;
    // Keys start at 100 per entity, so a key never equals its position or another entity's by chance.
    qint64 count = 0;
    for (const auto &existing : m_objects)
        count += existing->entity == entity;
    object->primaryKey = 100 + count * 7;
    m_objects.append(object);
    m_byName.insert(name, object);
    return object;
}

void PredicateTestGraph::link(const QString &fromName, const QString &key, const QString &toName)
{
    const auto from = m_byName.value(fromName);
    const auto to = m_byName.value(toName);
    from->toOne.insert(key, to);
    for (const RelationshipSpec &inverse : Relationships) {
        const auto spec = relationship(from->entity, key);
        if (inverse.toMany && to->entity == QLatin1String(inverse.entity) && from->entity == QLatin1String(inverse.destination)
            && spec->sourceColumn == QLatin1String(inverse.column))
            to->toMany[QLatin1String(inverse.key)].append(from);
    }
}

void PredicateTestGraph::createDatabase()
{
    check(sqlite3_open(":memory:", &m_db), m_db);
    if (!TDWPredicateSql::registerFunctions(m_db))
        throw std::runtime_error("registerFunctions failed");
    for (const char *entity : Entities) {
        QStringList columns{QStringLiteral("Z_PK INTEGER PRIMARY KEY")};
        QStringList keys;
        QList<QMetaType::Type> types;
        for (const AttributeSpec &spec : Attributes) {
            if (QLatin1String(spec.entity) == QLatin1String(entity)) {
                columns.append(QLatin1String(spec.column) + QLatin1Char(' ') + sqlType(spec.type));
                keys.append(QLatin1String(spec.key));
                types.append(spec.type);
            }
        }
        QStringList links;
        for (const RelationshipSpec &spec : Relationships) {
            if (QLatin1String(spec.entity) == QLatin1String(entity) && !spec.toMany) {
                columns.append(QLatin1String(spec.column) + QStringLiteral(" INTEGER"));
                links.append(QLatin1String(spec.key));
            }
        }
        const QString table = tableForEntity(QLatin1String(entity));
        check(sqlite3_exec(m_db, QStringLiteral("CREATE TABLE %1 (%2)").arg(table, columns.join(", ")).toUtf8(), nullptr, nullptr, nullptr), m_db);
        const QString insert = QStringLiteral("INSERT INTO %1 VALUES (%2)").arg(table, QStringList(columns.size(), "?").join(", "));
        for (const auto &object : m_objects) {
            if (object->entity != QLatin1String(entity))
                continue;
            QVariantList row{object->primaryKey};
            for (qsizetype i = 0; i < keys.size(); ++i) {
                const QVariant value = object->attributes.value(keys[i]);
                if (!value.isValid())
                    row.append(QVariant());
                else if (types[i] == QMetaType::QDateTime)
                    row.append(TDWPredicateSql::secondsSinceReferenceDate(value.toDateTime()));
                else if (types[i] == QMetaType::Bool)
                    row.append(qlonglong(value.toBool()));
                else
                    row.append(value);
            }
            for (const QString &key : links) {
                const auto target = object->toOne.value(key);
                row.append(target ? QVariant(target->primaryKey) : QVariant());
            }
            sqlite3_stmt *statement = nullptr;
            check(sqlite3_prepare_v2(m_db, insert.toUtf8(), -1, &statement, nullptr), m_db);
            TDWPredicateSql::bindValues(statement, 1, row);
            check(sqlite3_step(statement), m_db);
            sqlite3_finalize(statement);
        }
    }
}

TDWPredicateObjectRef PredicateTestGraph::ref(const QString &name) const
{
    return m_byName.value(name)->objectRef();
}

QStringList PredicateTestGraph::matchesInMemory(const QString &entity, const TDWPredicate &predicate, TDWError *error) const
{
    QStringList names;
    for (const auto &object : m_objects) {
        if (object->entity != entity)
            continue;
        TDWError failure;
        if (predicate.evaluate(*object, &failure))
            names.append(object->name);
        if (!failure.isNull()) {
            tdwSetError(error, failure);
            return {};
        }
    }
    return names;
}

QStringList PredicateTestGraph::matchesInSql(const QString &entity, const TDWPredicate &predicate, TDWError *error) const
{
    TDWSqlFragment fragment;
    if (!predicate.toSql(*this, entity, QStringLiteral("t0"), &fragment, error))
        return {};
    const QString sql = QStringLiteral("SELECT Z_PK FROM %1 t0 WHERE %2 ORDER BY Z_PK").arg(tableForEntity(entity), fragment.sql);
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.toUtf8(), -1, &statement, nullptr) != SQLITE_OK)
        throw std::runtime_error(QStringLiteral("%1 in: %2").arg(QString::fromUtf8(sqlite3_errmsg(m_db)), sql).toStdString());
    TDWPredicateSql::bindValues(statement, 1, fragment.bindings);
    QStringList names;
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        const qint64 key = sqlite3_column_int64(statement, 0);
        for (const auto &object : m_objects) {
            if (object->entity == entity && object->primaryKey == key)
                names.append(object->name);
        }
    }
    sqlite3_finalize(statement);
    if (rc != SQLITE_DONE)
        throw std::runtime_error(sqlite3_errmsg(m_db));
    return names;
}

QString PredicateTestGraph::tableForEntity(const QString &entity) const
{
    for (const char *known : Entities) {
        if (entity == QLatin1String(known))
            return QLatin1Char('Z') + entity.toUpper();
    }
    return {};
}

QString PredicateTestGraph::primaryKeyColumn(const QString &) const
{
    return QStringLiteral("Z_PK");
}

std::optional<TDWPredicateSqlSchema::Attribute> PredicateTestGraph::attribute(const QString &entity, const QString &key) const
{
    for (const AttributeSpec &spec : Attributes) {
        if (entity == QLatin1String(spec.entity) && key == QLatin1String(spec.key))
            return Attribute{QLatin1String(spec.column), spec.type};
    }
    return std::nullopt;
}

std::optional<TDWPredicateSqlSchema::Relationship> PredicateTestGraph::relationship(const QString &entity, const QString &key) const
{
    for (const RelationshipSpec &spec : Relationships) {
        if (entity == QLatin1String(spec.entity) && key == QLatin1String(spec.key)) {
            if (spec.toMany)
                return Relationship{QLatin1String(spec.destination), true, {}, QLatin1String(spec.column)};
            return Relationship{QLatin1String(spec.destination), false, QLatin1String(spec.column), {}};
        }
    }
    return std::nullopt;
}
