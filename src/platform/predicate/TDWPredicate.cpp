#include "platform/predicate/TDWPredicate.h"

#include "platform/predicate/TDWPredicateError.h"
#include "platform/predicate/TDWPredicateEvaluator.h"
#include "platform/predicate/TDWPredicateParser.h"
#include "platform/predicate/TDWPredicatePrinter.h"
#include "platform/predicate/TDWPredicateSqlTranslator.h"
#include "platform/predicate/TDWPredicateTree.h"

using namespace TDWPredicateTree;

static_assert(int(TDWPredicate::CaseInsensitive) == int(TDWPredicateTree::CaseInsensitive)
              && int(TDWPredicate::DiacriticInsensitive) == int(TDWPredicateTree::DiacriticInsensitive));

TDWPredicate::TDWPredicate() = default;

TDWPredicate::TDWPredicate(std::shared_ptr<const Node> root) : m_root(std::move(root))
{
}

TDWPredicate TDWPredicate::parse(const QString &format, const QVariantList &arguments, TDWError *error)
{
    TDWPredicateParser parser(format, arguments);
    return TDWPredicate(parser.parse(error));
}

TDWPredicate TDWPredicate::truePredicate()
{
    return TDWPredicate(makeConstantNode(true));
}

TDWPredicate TDWPredicate::falsePredicate()
{
    return TDWPredicate(makeConstantNode(false));
}

TDWPredicate TDWPredicate::compound(bool conjunction, const QList<TDWPredicate> &subpredicates)
{
    QList<NodePtr> children;
    for (const TDWPredicate &p : subpredicates) {
        if (p.m_root)
            children.append(p.m_root);
    }
    if (children.isEmpty())
        return conjunction ? truePredicate() : falsePredicate();
    if (children.size() == 1)
        return TDWPredicate(children.front());
    return TDWPredicate(makeCompound(conjunction ? Node::Kind::And : Node::Kind::Or, children));
}

TDWPredicate TDWPredicate::andPredicate(const QList<TDWPredicate> &subpredicates)
{
    return compound(true, subpredicates);
}

TDWPredicate TDWPredicate::orPredicate(const QList<TDWPredicate> &subpredicates)
{
    return compound(false, subpredicates);
}

TDWPredicate TDWPredicate::notPredicate(const TDWPredicate &predicate)
{
    if (!predicate.m_root)
        return {};
    return TDWPredicate(makeCompound(Node::Kind::Not, {predicate.m_root}));
}

bool TDWPredicate::isNull() const
{
    return !m_root;
}

TDWPredicate::Kind TDWPredicate::kind() const
{
    if (!m_root)
        return Kind::False;
    switch (m_root->kind) {
    case Node::Kind::True: return Kind::True;
    case Node::Kind::False: return Kind::False;
    case Node::Kind::And: return Kind::And;
    case Node::Kind::Or: return Kind::Or;
    case Node::Kind::Not: return Kind::Not;
    case Node::Kind::Comparison: return Kind::Comparison;
    }
    return Kind::False;
}

QList<TDWPredicate> TDWPredicate::subpredicates() const
{
    QList<TDWPredicate> children;
    if (m_root) {
        for (const NodePtr &child : m_root->children)
            children.append(TDWPredicate(child));
    }
    return children;
}

std::optional<TDWPredicate::KeyPathComparison> TDWPredicate::keyPathComparison() const
{
    if (!m_root || m_root->kind != Node::Kind::Comparison || m_root->modifier != Modifier::Direct)
        return std::nullopt;
    const Expression &left = *m_root->lhs;
    const Expression &right = *m_root->rhs;
    if (left.kind != Expression::Kind::KeyPath || left.operand)
        return std::nullopt;
    KeyPathComparison parts;
    parts.keyPath = left.keys.join(QLatin1Char('.'));
    parts.operatorText = TDWPredicatePrinter::operatorText(m_root->op);
    parts.options = m_root->options;
    if (right.kind == Expression::Kind::Constant) {
        parts.value = right.constant;
        return parts;
    }
    if (right.kind != Expression::Kind::Aggregate)
        return std::nullopt;
    QVariantList values;
    for (const ExpressionPtr &element : right.elements) {
        if (element->kind != Expression::Kind::Constant)
            return std::nullopt;
        values.append(element->constant);
    }
    parts.value = values;
    return parts;
}

QString TDWPredicate::predicateFormat() const
{
    return m_root ? TDWPredicatePrinter::print(*m_root) : QString();
}

TDWPredicate TDWPredicate::withSubstitutionVariables(const QVariantMap &variables) const
{
    return m_root ? TDWPredicate(substitute(m_root, variables)) : TDWPredicate();
}

bool TDWPredicate::evaluate(const TDWPredicateSubject &subject, TDWError *error) const
{
    if (!m_root) {
        tdwSetError(error, TDWPredicateError::make(TDWPredicateError::Evaluation, QStringLiteral("A null predicate cannot be evaluated.")));
        return false;
    }
    TDWPredicateEvaluator evaluator(subject);
    const bool result = evaluator.evaluate(*m_root);
    if (!evaluator.failure().isEmpty()) {
        tdwSetError(error, TDWPredicateError::make(TDWPredicateError::Evaluation, QStringLiteral("Unable to evaluate the predicate \"%1\": %2.")
                                                          .arg(predicateFormat(), evaluator.failure())));
        return false;
    }
    return result;
}

bool TDWPredicate::toSql(const TDWPredicateSqlSchema &schema, const QString &entity, const QString &alias,
                         TDWSqlFragment *out, TDWError *error) const
{
    if (!m_root) {
        tdwSetError(error, TDWPredicateError::make(TDWPredicateError::SqlTranslation, QStringLiteral("A null predicate has no SQL form.")));
        return false;
    }
    TDWPredicateSqlTranslator translator(schema);
    TDWSqlFragment fragment;
    if (!translator.translate(*m_root, entity, alias, &fragment)) {
        tdwSetError(error, TDWPredicateError::make(TDWPredicateError::SqlTranslation, QStringLiteral("Unable to translate the predicate \"%1\" to SQL: %2.")
                                                              .arg(predicateFormat(), translator.failure())));
        return false;
    }
    if (out)
        *out = fragment;
    return true;
}

bool TDWPredicate::operator==(const TDWPredicate &other) const
{
    if (!m_root || !other.m_root)
        return !m_root && !other.m_root;
    return m_root == other.m_root || equal(*m_root, *other.m_root);
}
