#pragma once

#include "platform/predicate/TDWPredicateSubject.h"
#include "platform/predicate/TDWPredicateTree.h"

#include <QHash>

// Evaluates a predicate tree against one subject in memory.
//
// Key paths that pass through a to-many relationship yield the collection of
// the values reached (nil objects along the way give nil elements). A
// comparison with such a collection on the left applies to any of its elements
// (ALL: every element), except CONTAINS without a modifier, which tests
// membership; a collection on the right applies to any of its elements, except
// with IN, which tests membership.
class TDWPredicateEvaluator
{
public:
    explicit TDWPredicateEvaluator(const TDWPredicateSubject &self);

    bool evaluate(const TDWPredicateTree::Node &node);
    // Why evaluation failed (an unbound variable, @count of a single value).
    const QString &failure() const { return m_failure; }

private:
    struct Value {
        enum class Kind { Scalar, Object, Collection };
        Kind kind = Kind::Scalar;
        QVariant scalar;                                   // nil when invalid
        const TDWPredicateSubject *object = nullptr;
        std::shared_ptr<const TDWPredicateSubject> holder; // keeps `object` alive
        QList<Value> items;
    };
    using Scope = QHash<QString, Value>;

    bool test(const TDWPredicateTree::Node &node, const Scope &scope);
    bool compare(const TDWPredicateTree::Node &node, const Scope &scope);
    bool testAgainstRight(const TDWPredicateTree::Node &node, const Value &left, const Value &right);
    bool testPair(const TDWPredicateTree::Node &node, const Value &left, const Value &right);
    static bool contains(const Value &container, const Value &element, int options);
    static bool equal(const Value &a, const Value &b, int options);

    Value value(const TDWPredicateTree::Expression &expression, const Scope &scope);
    Value valueForKeys(Value start, const QStringList &keys);
    static Value step(const Value &from, const QString &key);
    static Value fromSubjectValue(const TDWPredicateValue &value);
    bool fail(const QString &why);

    const TDWPredicateSubject &m_self;
    QString m_failure;
};
