#include "platform/predicate/TDWPredicateTree.h"

#include "platform/foundation/TDWNumber.h"
#include "platform/predicate/TDWPredicateObjectRef.h"

#include <QDateTime>
#include <QSequentialIterable>

#include <cmath>

namespace TDWPredicateTree {

namespace {

bool equalConstants(const QVariant &a, const QVariant &b)
{
    if (a.isValid() != b.isValid())
        return false;
    if (!a.isValid())
        return true;
    if (a.metaType() != b.metaType())
        return false;
    if (const std::optional<TDWNumber> number = TDWNumber::of(a))
        return number->compare(*TDWNumber::of(b)) == 0;
    switch (a.metaType().id()) {
    case QMetaType::QString: return a.toString() == b.toString();
    case QMetaType::QByteArray: return a.toByteArray() == b.toByteArray();
    case QMetaType::QDateTime: return a.toDateTime().toMSecsSinceEpoch() == b.toDateTime().toMSecsSinceEpoch();
    default:
        return a.value<TDWPredicateObjectRef>() == b.value<TDWPredicateObjectRef>();
    }
}

template<typename T>
bool equalPointers(const std::shared_ptr<const T> &a, const std::shared_ptr<const T> &b)
{
    if (!a || !b)
        return !a && !b;
    return a == b || equal(*a, *b);
}

template<typename T>
bool equalLists(const QList<std::shared_ptr<const T>> &a, const QList<std::shared_ptr<const T>> &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (!equalPointers(a[i], b[i]))
            return false;
    }
    return true;
}

ExpressionPtr substituteExpression(const ExpressionPtr &expression, const QVariantMap &variables);

NodePtr substituteNode(const NodePtr &node, const QVariantMap &variables)
{
    if (!node)
        return node;
    auto copy = std::make_shared<Node>(*node);
    for (NodePtr &child : copy->children)
        child = substituteNode(child, variables);
    copy->lhs = substituteExpression(node->lhs, variables);
    copy->rhs = substituteExpression(node->rhs, variables);
    return copy;
}

ExpressionPtr substituteExpression(const ExpressionPtr &expression, const QVariantMap &variables)
{
    if (!expression)
        return expression;
    if (expression->kind == Expression::Kind::Variable) {
        const auto it = variables.constFind(expression->variable);
        if (it == variables.constEnd())
            return expression;
        QString whyNot;
        ExpressionPtr value = expressionForValue(*it, &whyNot);
        // A value with no predicate form leaves the variable unbound, so using it fails visibly.
        return value ? value : expression;
    }
    auto copy = std::make_shared<Expression>(*expression);
    if (expression->kind == Expression::Kind::Subquery) {
        // The iteration variable belongs to the subquery, whatever the map says.
        QVariantMap inner = variables;
        inner.remove(expression->variable);
        copy->operand = substituteExpression(expression->operand, variables);
        copy->predicate = substituteNode(expression->predicate, inner);
        return copy;
    }
    copy->operand = substituteExpression(expression->operand, variables);
    for (ExpressionPtr &element : copy->elements)
        element = substituteExpression(element, variables);
    return copy;
}

} // namespace

bool equal(const Node &a, const Node &b)
{
    if (a.kind != b.kind)
        return false;
    if (a.kind == Node::Kind::Comparison) {
        return a.op == b.op && a.modifier == b.modifier && a.options == b.options && equalPointers(a.lhs, b.lhs)
            && equalPointers(a.rhs, b.rhs);
    }
    return equalLists(a.children, b.children);
}

bool equal(const Expression &a, const Expression &b)
{
    if (a.kind != b.kind)
        return false;
    switch (a.kind) {
    case Expression::Kind::Constant: return equalConstants(a.constant, b.constant);
    case Expression::Kind::Self: return true;
    case Expression::Kind::Variable: return a.variable == b.variable;
    case Expression::Kind::KeyPath: return a.keys == b.keys && equalPointers(a.operand, b.operand);
    case Expression::Kind::Aggregate: return equalLists(a.elements, b.elements);
    case Expression::Kind::Subquery:
        return a.variable == b.variable && equalPointers(a.operand, b.operand) && equalPointers(a.predicate, b.predicate);
    }
    return false;
}

NodePtr makeConstantNode(bool value)
{
    auto node = std::make_shared<Node>();
    node->kind = value ? Node::Kind::True : Node::Kind::False;
    return node;
}

NodePtr makeCompound(Node::Kind kind, QList<NodePtr> children)
{
    auto node = std::make_shared<Node>();
    node->kind = kind;
    node->children = std::move(children);
    return node;
}

ExpressionPtr makeConstant(QVariant value)
{
    auto expression = std::make_shared<Expression>();
    expression->constant = std::move(value);
    return expression;
}

ExpressionPtr makeKeyPath(ExpressionPtr operand, QStringList keys)
{
    auto expression = std::make_shared<Expression>();
    expression->kind = Expression::Kind::KeyPath;
    expression->operand = std::move(operand);
    expression->keys = std::move(keys);
    return expression;
}

ExpressionPtr expressionForValue(const QVariant &value, QString *whyNot)
{
    if (!value.isValid())
        return makeConstant({});
    const QMetaType refType = QMetaType::fromType<TDWPredicateObjectRef>();
    if (const std::optional<TDWNumber> number = TDWNumber::of(value)) {
        if (!std::isfinite(number->toDouble())) {
            *whyNot = QStringLiteral("a number that is not finite");
            return nullptr;
        }
        return makeConstant(number->toVariant());
    }
    switch (value.metaType().id()) {
    case QMetaType::QString:
        return makeConstant(value.toString());
    case QMetaType::QByteArray:
        return makeConstant(value.toByteArray());
    case QMetaType::QDateTime: {
        const QDateTime date = value.toDateTime();
        return makeConstant(date.isValid() ? QVariant(date.toUTC()) : QVariant());
    }
    default:
        break;
    }
    if (value.metaType() == refType || QMetaType::canConvert(value.metaType(), refType)) {
        const TDWPredicateObjectRef ref = value.value<TDWPredicateObjectRef>();
        return makeConstant(ref.isNull() ? QVariant() : QVariant::fromValue(ref));
    }
    // Any list (QVariantList, QStringList, QList<T> of a registered T) is an array.
    if (value.canView<QSequentialIterable>()) {
        auto aggregate = std::make_shared<Expression>();
        aggregate->kind = Expression::Kind::Aggregate;
        const QSequentialIterable elements = value.value<QSequentialIterable>();
        for (const QVariant &element : elements) {
            ExpressionPtr converted = expressionForValue(element, whyNot);
            if (!converted)
                return nullptr;
            aggregate->elements.append(converted);
        }
        return aggregate;
    }
    *whyNot = QStringLiteral("a value of type %1").arg(QString::fromLatin1(value.metaType().name()));
    return nullptr;
}

NodePtr substitute(const NodePtr &node, const QVariantMap &variables)
{
    return substituteNode(node, variables);
}

} // namespace TDWPredicateTree
