#pragma once

#include "platform/predicate/TDWPredicateSqlSchema.h"
#include "platform/predicate/TDWPredicateTree.h"

#include <QHash>

// Translates a predicate tree into a boolean SQL expression over one row, with
// the same answers as TDWPredicateEvaluator gives in memory.
//
// Every fragment it builds is 0 or 1, never NULL, so that NOT keeps its meaning
// when values are missing. Key paths through to-one relationships become scalar
// subqueries; to-many relationships become correlated row sources that
// comparisons test with EXISTS and @count counts; string operators with
// options call the functions of TDWPredicateSql, which run the in-memory code.
class TDWPredicateSqlTranslator
{
public:
    explicit TDWPredicateSqlTranslator(const TDWPredicateSqlSchema &schema);

    bool translate(const TDWPredicateTree::Node &root, const QString &entity, const QString &alias, TDWSqlFragment *out);
    const QString &failure() const { return m_failure; }

private:
    struct Sql {
        QString text;
        QVariantList bindings;
    };
    enum class Type { Nil, Number, String, Date, Data, Object };
    // One value per row: an expression, its type and, for objects, the entity
    // (the expression is then the primary key).
    struct Single {
        Sql expr;
        Type type = Type::Nil;
        QString entity;
        bool nullable = true;
        QString alias;      // set when expr is the primary key of a row named by this alias
        QVariant constant;  // set for constants; an invalid QVariant with Type::Nil for nil
        bool isConstant = false;
    };
    // Several values per row: rows of `from` meeting `where`, each giving `element`.
    struct Source {
        Sql from;
        Sql where;
        Single element;
        Sql anchorIsNull;   // when true the key path stopped at nil before reaching the collection
    };
    struct Value {
        enum class Kind { Single, Many, Aggregate };
        Kind kind = Kind::Single;
        Single single;
        Source many;
        QList<Value> elements;
    };
    using Scope = QHash<QString, Single>;
    using Tester = std::function<Sql(const Single &)>;

    Sql predicate(const TDWPredicateTree::Node &node, const Scope &scope);
    Sql comparison(const TDWPredicateTree::Node &node, const Scope &scope);
    Sql testAgainstRight(const TDWPredicateTree::Node &node, const Value &left, const Value &right);
    Sql testPair(const TDWPredicateTree::Node &node, const Value &left, const Single &right);
    Sql containsSql(const Value &container, const Single &element, int options);
    Sql inList(const Value &aggregate, const Single &element, int options);
    Sql compareSingles(TDWPredicateTree::Operator op, int options, const Single &a, const Single &b);
    std::optional<Sql> compareWithInexactNumber(TDWPredicateTree::Operator op, int options, const Single &a, const Single &b);
    Sql equalObjects(bool negate, const Single &a, const Single &b);
    bool refersToEntity(const Single &constant, const QString &entity) const;
    Sql anyOf(const Value &value, const Tester &test, bool whenNil);
    Sql allOf(const Value &value, const Tester &test);

    Value value(const TDWPredicateTree::Expression &expression, const Scope &scope);
    Value applyKeys(Value current, const QStringList &keys);
    Value applyKey(const Value &current, const QString &key);
    Single keyOfObject(const Single &object, const QString &key);
    Value firstCollection(const Single &object, const QString &destination, const QString &inverse);
    Single constantSingle(const QVariant &constant);
    static Single nilSingle();

    QString table(const QString &entity);
    QString newAlias();
    bool fail(const QString &why);
    static QString quote(const QString &identifier);
    static Sql lit(const QString &text);
    static Sql cat(std::initializer_list<Sql> parts);
    static void append(Sql *to, const Sql &part);
    static Sql join(const QList<Sql> &terms, bool conjunction);
    static bool fitsSqliteParser(const QString &sql);
    static Sql boolean(bool value);

    const TDWPredicateSqlSchema &m_schema;
    Single m_self;
    int m_aliases = 0;
    QString m_failure;
};
