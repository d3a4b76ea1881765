#include "platform/predicate/TDWPredicateEvaluator.h"

#include "platform/predicate/TDWPredicateOperators.h"

#include <algorithm>

using namespace TDWPredicateTree;

TDWPredicateEvaluator::TDWPredicateEvaluator(const TDWPredicateSubject &self) : m_self(self)
{
}

bool TDWPredicateEvaluator::evaluate(const Node &node)
{
    m_failure.clear();
    const bool result = test(node, {});
    return m_failure.isEmpty() && result;
}

bool TDWPredicateEvaluator::fail(const QString &why)
{
    if (m_failure.isEmpty())
        m_failure = why;
    return false;
}

bool TDWPredicateEvaluator::test(const Node &node, const Scope &scope)
{
    if (!m_failure.isEmpty())
        return false;
    switch (node.kind) {
    case Node::Kind::True:
        return true;
    case Node::Kind::False:
        return false;
    case Node::Kind::And:
        return std::all_of(node.children.begin(), node.children.end(), [&](const NodePtr &c) { return test(*c, scope); });
    case Node::Kind::Or:
        return std::any_of(node.children.begin(), node.children.end(), [&](const NodePtr &c) { return test(*c, scope); });
    case Node::Kind::Not: {
        const bool inner = test(*node.children.front(), scope);
        return m_failure.isEmpty() && !inner;
    }
    case Node::Kind::Comparison:
        return compare(node, scope);
    }
    return false;
}

bool TDWPredicateEvaluator::compare(const Node &node, const Scope &scope)
{
    const Value left = value(*node.lhs, scope);
    const Value right = value(*node.rhs, scope);
    if (!m_failure.isEmpty())
        return false;
    const bool iterate = left.kind == Value::Kind::Collection
        && !(node.modifier == Modifier::Direct && node.op == Operator::Contains);
    if (!iterate)
        return testAgainstRight(node, left, right);
    const auto matches = [&](const Value &element) { return testAgainstRight(node, element, right); };
    if (node.modifier == Modifier::All)
        return std::all_of(left.items.begin(), left.items.end(), matches);
    return std::any_of(left.items.begin(), left.items.end(), matches);
}

bool TDWPredicateEvaluator::testAgainstRight(const Node &node, const Value &left, const Value &right)
{
    if (node.op == Operator::In)
        return contains(right, left, node.options);
    if (right.kind == Value::Kind::Collection) {
        return std::any_of(right.items.begin(), right.items.end(),
                           [&](const Value &element) { return testPair(node, left, element); });
    }
    return testPair(node, left, right);
}

bool TDWPredicateEvaluator::testPair(const Node &node, const Value &left, const Value &right)
{
    switch (node.op) {
    case Operator::Contains:
        return contains(left, right, node.options);
    case Operator::Equal:
        return equal(left, right, node.options);
    case Operator::NotEqual:
        return !equal(left, right, node.options);
    default:
        break;
    }
    if (left.kind != Value::Kind::Scalar || right.kind != Value::Kind::Scalar)
        return false;
    return TDWPredicateOperators::test(node.op, node.options, left.scalar, right.scalar);
}

bool TDWPredicateEvaluator::contains(const Value &container, const Value &element, int options)
{
    if (container.kind == Value::Kind::Collection) {
        return std::any_of(container.items.begin(), container.items.end(),
                           [&](const Value &item) { return equal(item, element, options); });
    }
    if (container.kind != Value::Kind::Scalar || element.kind != Value::Kind::Scalar)
        return false;
    return TDWPredicateOperators::test(Operator::Contains, options, container.scalar, element.scalar);
}

bool TDWPredicateEvaluator::equal(const Value &a, const Value &b, int options)
{
    if (a.kind == Value::Kind::Collection || b.kind == Value::Kind::Collection)
        return false;
    if (a.kind == Value::Kind::Object && b.kind == Value::Kind::Object)
        return a.object == b.object || a.object->objectRef().refersToSameObject(b.object->objectRef());
    if (a.kind == Value::Kind::Object || b.kind == Value::Kind::Object) {
        const Value &object = a.kind == Value::Kind::Object ? a : b;
        const Value &other = a.kind == Value::Kind::Object ? b : a;
        if (TDWPredicateOperators::category(other.scalar) != TDWPredicateOperators::Category::Object)
            return false;
        return object.object->objectRef().refersToSameObject(other.scalar.value<TDWPredicateObjectRef>());
    }
    return TDWPredicateOperators::equal(a.scalar, b.scalar, options);
}

TDWPredicateEvaluator::Value TDWPredicateEvaluator::value(const Expression &expression, const Scope &scope)
{
    Value result;
    switch (expression.kind) {
    case Expression::Kind::Constant:
        result.scalar = expression.constant;
        return result;
    case Expression::Kind::Self:
        result.kind = Value::Kind::Object;
        result.object = &m_self;
        return result;
    case Expression::Kind::Variable: {
        const auto it = scope.constFind(expression.variable);
        if (it == scope.constEnd())
            fail(QStringLiteral("the variable $%1 has no value").arg(expression.variable));
        else
            result = *it;
        return result;
    }
    case Expression::Kind::KeyPath: {
        Value start;
        if (expression.operand) {
            start = value(*expression.operand, scope);
        } else {
            start.kind = Value::Kind::Object;
            start.object = &m_self;
        }
        return valueForKeys(start, expression.keys);
    }
    case Expression::Kind::Aggregate:
        result.kind = Value::Kind::Collection;
        result.items.reserve(expression.elements.size());
        for (const ExpressionPtr &element : expression.elements)
            result.items.append(value(*element, scope));
        return result;
    case Expression::Kind::Subquery: {
        const Value collection = value(*expression.operand, scope);
        result.kind = Value::Kind::Collection;
        if (collection.kind == Value::Kind::Scalar && !collection.scalar.isValid())
            return result;
        if (collection.kind != Value::Kind::Collection) {
            fail(QStringLiteral("SUBQUERY needs a collection"));
            return result;
        }
        Scope inner = scope;
        for (const Value &element : collection.items) {
            inner.insert(expression.variable, element);
            if (test(*expression.predicate, inner))
                result.items.append(element);
        }
        return result;
    }
    }
    return result;
}

TDWPredicateEvaluator::Value TDWPredicateEvaluator::valueForKeys(Value current, const QStringList &keys)
{
    for (const QString &key : keys) {
        if (key == QLatin1String("@count")) {
            Value count;
            if (current.kind == Value::Kind::Collection)
                count.scalar = qlonglong(current.items.size());
            else if (current.kind == Value::Kind::Scalar && !current.scalar.isValid())
                count.scalar = qlonglong(0);
            else
                fail(QStringLiteral("@count needs a collection"));
            return count;
        }
        current = step(current, key);
    }
    return current;
}

TDWPredicateEvaluator::Value TDWPredicateEvaluator::step(const Value &from, const QString &key)
{
    switch (from.kind) {
    case Value::Kind::Scalar:
        return {};
    case Value::Kind::Object:
        return fromSubjectValue(from.object->valueForKey(key));
    case Value::Kind::Collection:
        break;
    }
    Value flattened;
    flattened.kind = Value::Kind::Collection;
    for (const Value &item : from.items) {
        Value reached = step(item, key);
        if (reached.kind == Value::Kind::Collection)
            flattened.items.append(reached.items);
        else
            flattened.items.append(reached);
    }
    return flattened;
}

TDWPredicateEvaluator::Value TDWPredicateEvaluator::fromSubjectValue(const TDWPredicateValue &value)
{
    Value result;
    switch (value.kind) {
    case TDWPredicateValue::Kind::Scalar:
        result.scalar = value.scalar;
        break;
    case TDWPredicateValue::Kind::Object:
        if (value.object) {
            result.kind = Value::Kind::Object;
            result.object = value.object.get();
            result.holder = value.object;
        }
        break;
    case TDWPredicateValue::Kind::Objects:
        result.kind = Value::Kind::Collection;
        for (const auto &object : value.objects) {
            Value item;
            if (object) {
                item.kind = Value::Kind::Object;
                item.object = object.get();
                item.holder = object;
            }
            result.items.append(item);
        }
        break;
    }
    return result;
}
