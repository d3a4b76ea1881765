#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <memory>

// The parsed form of a predicate, shared by the parser, the printer, the
// evaluator and the SQL translation. Nodes are immutable once built.
namespace TDWPredicateTree {

enum class Operator { Equal, NotEqual, Less, LessOrEqual, Greater, GreaterOrEqual, Like, BeginsWith, EndsWith, In, Contains };
enum class Modifier { Direct, Any, All };
enum Option { CaseInsensitive = 1, DiacriticInsensitive = 2 };

struct Node;
struct Expression;
using NodePtr = std::shared_ptr<const Node>;
using ExpressionPtr = std::shared_ptr<const Expression>;

struct Expression {
    enum class Kind { Constant, Self, Variable, KeyPath, Aggregate, Subquery };
    Kind kind = Kind::Constant;
    // Constant: invalid (nil), qlonglong, quint64 (above qlonglong's range only),
    // double, bool, QString, QDateTime (UTC), QByteArray or TDWPredicateObjectRef;
    // arrays are Aggregates.
    QVariant constant;
    QString variable;              // Variable: its name; Subquery: the iteration variable
    ExpressionPtr operand;         // KeyPath: what the keys apply to (null: the evaluated object); Subquery: the collection
    QStringList keys;              // KeyPath
    QList<ExpressionPtr> elements; // Aggregate
    NodePtr predicate;             // Subquery
};

struct Node {
    enum class Kind { True, False, And, Or, Not, Comparison };
    Kind kind = Kind::True;
    QList<NodePtr> children;       // And, Or (two or more), Not (one)
    Operator op = Operator::Equal;
    Modifier modifier = Modifier::Direct;
    int options = 0;
    ExpressionPtr lhs, rhs;
};

bool equal(const Node &a, const Node &b);
bool equal(const Expression &a, const Expression &b);

NodePtr makeConstantNode(bool value);
NodePtr makeCompound(Node::Kind kind, QList<NodePtr> children);
ExpressionPtr makeConstant(QVariant value);
ExpressionPtr makeKeyPath(ExpressionPtr operand, QStringList keys);

// A value given as an argument or variable, as an expression: arrays become
// aggregates, other values normalised constants. Null with a reason when the
// value has no predicate form.
ExpressionPtr expressionForValue(const QVariant &value, QString *whyNot);

// The tree with $VARIABLES replaced from the map, leaving those a SUBQUERY binds.
NodePtr substitute(const NodePtr &node, const QVariantMap &variables);

} // namespace TDWPredicateTree
