#pragma once

#include "platform/predicate/TDWPredicate.h"
#include "platform/predicate/TDWPredicateError.h"

#include <QHash>
#include <QStringList>

#include <sqlite3.h>

#include <ostream>

// Readable QString values in test failure messages.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList &list, std::ostream *out)
{
    *out << '{' << list.join(QStringLiteral(", ")).toStdString() << '}';
}

// A small object graph kept twice: as subjects in memory and as rows of an
// in-memory SQLite database, with a schema whose column and table names differ
// from the keys. Entities: Account; Doc (to-one account, to-many docRevs and
// parentDocs); DocRev (to-one doc); DocParent (to-one doc and parentDoc).
// Every object has a short name ("r1", "d2") that tests use to name results.
class PredicateTestGraph : public TDWPredicateSqlSchema
{
public:
    static inline const QString StoreIdentifier = QStringLiteral("store-1");

    class Object : public TDWPredicateSubject
    {
    public:
        QString entity;
        QString name;
        qint64 primaryKey = 0;
        QVariantMap attributes;
        QHash<QString, std::shared_ptr<Object>> toOne;
        QHash<QString, QList<std::shared_ptr<Object>>> toMany;

        TDWPredicateValue valueForKey(const QString &key) const override;
        TDWPredicateObjectRef objectRef() const override;
    };

    PredicateTestGraph();
    ~PredicateTestGraph() override;

    TDWPredicateObjectRef ref(const QString &name) const;
    static QDateTime hour(int n);

    // Names of the objects of the entity that match, in creation order.
    QStringList matchesInMemory(const QString &entity, const TDWPredicate &predicate, TDWError *error) const;
    QStringList matchesInSql(const QString &entity, const TDWPredicate &predicate, TDWError *error) const;
    sqlite3 *database() const { return m_db; }

    QString tableForEntity(const QString &entity) const override;
    QString primaryKeyColumn(const QString &entity) const override;
    std::optional<Attribute> attribute(const QString &entity, const QString &key) const override;
    std::optional<Relationship> relationship(const QString &entity, const QString &key) const override;
    QString storeIdentifier() const override { return StoreIdentifier; }

private:
    std::shared_ptr<Object> add(const QString &entity, const QString &name, const QVariantMap &attributes);
    void link(const QString &fromName, const QString &key, const QString &toName);
    void createDatabase();

    QList<std::shared_ptr<Object>> m_objects;
    QHash<QString, std::shared_ptr<Object>> m_byName;
    sqlite3 *m_db = nullptr;
};
