#include "platform/predicate/TDWPredicateParser.h"

#include "platform/foundation/TDWNumber.h"
#include "platform/predicate/TDWPredicate.h"
#include "platform/predicate/TDWPredicateError.h"
#include "platform/predicate/TDWPredicateObjectRef.h"
#include "platform/predicate/TDWPredicateSql.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

using namespace TDWPredicateTree;
using Token = TDWPredicateLexer::Token;

namespace {

// Deep enough for any predicate a person or program writes; shallow enough that
// hostile input cannot exhaust the stack.
constexpr int MaxDepth = 100;

std::shared_ptr<Expression> makeExpression(Expression::Kind kind)
{
    auto expression = std::make_shared<Expression>();
    expression->kind = kind;
    return expression;
}

} // namespace

TDWPredicateParser::TDWPredicateParser(const QString &format, const QVariantList &arguments)
    : m_format(format), m_arguments(arguments), m_lexer(format)
{
}

NodePtr TDWPredicateParser::parse(TDWError *error)
{
    advance();
    NodePtr root = parseOr();
    if (root && m_token.type != Token::Type::End)
        root = fail(m_token.position, QStringLiteral("AND, OR or the end of the format"));
    if (!root) {
        tdwSetError(error, TDWPredicateError::make(TDWPredicateError::Parse,
                                                    QStringLiteral("Unable to parse the predicate format \"%1\": expected %2 at position %3.")
                                                        .arg(m_format, m_errorText)
                                                        .arg(m_errorPosition),
                                                    {{QStringLiteral("position"), m_errorPosition}}));
    }
    return root;
}

void TDWPredicateParser::advance()
{
    m_token = m_lexer.next();
    if (m_token.type == Token::Type::Error)
        fail(m_token.position, m_token.text);
}

bool TDWPredicateParser::atKeyword(const char *word) const
{
    return m_token.type == Token::Type::Identifier && !m_token.escaped
        && m_token.text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
}

bool TDWPredicateParser::atSymbol(const char *symbol) const
{
    return m_token.type == Token::Type::Symbol && m_token.text == QLatin1String(symbol);
}

bool TDWPredicateParser::expectSymbol(const char *symbol)
{
    if (!atSymbol(symbol)) {
        fail(m_token.position, QStringLiteral("'%1'").arg(QLatin1String(symbol)));
        return false;
    }
    advance();
    return !m_failed;
}

std::nullptr_t TDWPredicateParser::fail(qsizetype position, const QString &expected)
{
    // The first failure is the one worth reporting; later ones follow from it.
    if (!m_failed) {
        m_failed = true;
        m_errorPosition = position;
        m_errorText = expected;
    }
    return nullptr;
}

bool TDWPredicateParser::enter()
{
    if (++m_depth > MaxDepth) {
        fail(m_token.position, QStringLiteral("less deeply nested parts"));
        return false;
    }
    return true;
}

NodePtr TDWPredicateParser::parseOr()
{
    NodePtr first = parseAnd();
    if (!first)
        return nullptr;
    QList<NodePtr> children{first};
    while (!m_failed && (atKeyword("OR") || atSymbol("||"))) {
        advance();
        NodePtr next = parseAnd();
        if (!next)
            return nullptr;
        children.append(next);
    }
    if (m_failed)
        return nullptr;
    return children.size() == 1 ? first : makeCompound(Node::Kind::Or, children);
}

NodePtr TDWPredicateParser::parseAnd()
{
    NodePtr first = parseUnary();
    if (!first)
        return nullptr;
    QList<NodePtr> children{first};
    while (!m_failed && (atKeyword("AND") || atSymbol("&&"))) {
        advance();
        NodePtr next = parseUnary();
        if (!next)
            return nullptr;
        children.append(next);
    }
    if (m_failed)
        return nullptr;
    return children.size() == 1 ? first : makeCompound(Node::Kind::And, children);
}

NodePtr TDWPredicateParser::parseUnary()
{
    if (m_failed)
        return nullptr;
    if (!atKeyword("NOT") && !atSymbol("!"))
        return parsePrimary();
    if (!enter())
        return nullptr;
    advance();
    NodePtr child = parseUnary();
    leave();
    return child ? makeCompound(Node::Kind::Not, {child}) : nullptr;
}

NodePtr TDWPredicateParser::parsePrimary()
{
    if (m_failed)
        return nullptr;
    if (atSymbol("(")) {
        if (!enter())
            return nullptr;
        advance();
        NodePtr inner = parseOr();
        leave();
        if (!inner || !expectSymbol(")"))
            return nullptr;
        return inner;
    }
    if (atKeyword("TRUEPREDICATE") || atKeyword("FALSEPREDICATE")) {
        const bool value = atKeyword("TRUEPREDICATE");
        advance();
        return m_failed ? nullptr : makeConstantNode(value);
    }
    return parseComparison();
}

NodePtr TDWPredicateParser::parseComparison()
{
    auto node = std::make_shared<Node>();
    node->kind = Node::Kind::Comparison;
    bool negate = false;
    if (atKeyword("ANY") || atKeyword("SOME")) {
        node->modifier = Modifier::Any;
        advance();
    } else if (atKeyword("ALL")) {
        node->modifier = Modifier::All;
        advance();
    } else if (atKeyword("NONE")) {
        node->modifier = Modifier::Any;
        negate = true;
        advance();
    }
    node->lhs = parseExpression();
    if (!node->lhs || !parseOperator(&node->op, &node->options))
        return nullptr;
    node->rhs = parseExpression();
    if (!node->rhs)
        return nullptr;
    return negate ? makeCompound(Node::Kind::Not, {node}) : NodePtr(node);
}

bool TDWPredicateParser::parseOperator(Operator *op, int *options)
{
    if (m_failed)
        return false;
    struct Spelling {
        const char *text;
        bool keyword;
        Operator op;
    };
    static const Spelling spellings[] = {
        {"==", false, Operator::Equal},
        {"=", false, Operator::Equal},
        {"!=", false, Operator::NotEqual},
        {"<>", false, Operator::NotEqual},
        {"<", false, Operator::Less},
        {"<=", false, Operator::LessOrEqual},
        {"=<", false, Operator::LessOrEqual},
        {">", false, Operator::Greater},
        {">=", false, Operator::GreaterOrEqual},
        {"=>", false, Operator::GreaterOrEqual},
        {"LIKE", true, Operator::Like},
        {"BEGINSWITH", true, Operator::BeginsWith},
        {"ENDSWITH", true, Operator::EndsWith},
        {"IN", true, Operator::In},
        {"CONTAINS", true, Operator::Contains},
    };
    const Spelling *found = nullptr;
    for (const Spelling &spelling : spellings) {
        if (spelling.keyword ? atKeyword(spelling.text) : atSymbol(spelling.text)) {
            found = &spelling;
            break;
        }
    }
    if (!found) {
        if (atKeyword("MATCHES") || atKeyword("BETWEEN"))
            fail(m_token.position, QStringLiteral("a supported operator (%1 is not one)").arg(m_token.text.toUpper()));
        else
            fail(m_token.position, QStringLiteral("a comparison operator"));
        return false;
    }
    *op = found->op;
    *options = 0;
    advance();
    if (!atSymbol("["))
        return !m_failed;
    advance();
    if (m_token.type != Token::Type::Identifier || m_token.escaped) {
        fail(m_token.position, QStringLiteral("options c, d or cd"));
        return false;
    }
    for (QChar c : m_token.text) {
        if (c.toLower() == QLatin1Char('c'))
            *options |= CaseInsensitive;
        else if (c.toLower() == QLatin1Char('d'))
            *options |= DiacriticInsensitive;
        else {
            fail(m_token.position, QStringLiteral("options c, d or cd"));
            return false;
        }
    }
    advance();
    return expectSymbol("]");
}

ExpressionPtr TDWPredicateParser::parseExpression()
{
    if (m_failed || !enter())
        return nullptr;
    ExpressionPtr operand = parseOperand();
    // Keys of a constant are nil, but a substituted variable can put a constant
    // before keys, and its printed form must read back.
    if (operand)
        operand = parseKeys(operand);
    leave();
    return m_failed ? nullptr : operand;
}

ExpressionPtr TDWPredicateParser::parseOperand()
{
    const qsizetype position = m_token.position;
    switch (m_token.type) {
    case Token::Type::String: {
        ExpressionPtr constant = makeConstant(m_token.text);
        advance();
        return constant;
    }
    case Token::Type::Integer:
    case Token::Type::Real:
        return parseNumber(false);
    case Token::Type::Variable: {
        auto variable = makeExpression(Expression::Kind::Variable);
        variable->variable = m_token.text;
        advance();
        return variable;
    }
    case Token::Type::Placeholder:
        return parsePlaceholder();
    case Token::Type::Symbol:
        if (atSymbol("-")) {
            advance();
            if (m_token.type != Token::Type::Integer && m_token.type != Token::Type::Real)
                return fail(m_token.position, QStringLiteral("a number after '-'"));
            return parseNumber(true);
        }
        if (atSymbol("{"))
            return parseAggregate();
        return fail(position, QStringLiteral("a value or key path"));
    case Token::Type::Identifier:
        break;
    default:
        return fail(position, QStringLiteral("a value or key path"));
    }
    if (!m_token.escaped && m_token.text.startsWith(QLatin1Char('@')))
        return fail(position, QStringLiteral("a collection before %1").arg(m_token.text));
    if (m_token.escaped || !TDWPredicateLexer::isReservedWord(m_token.text)) {
        ExpressionPtr keyPath = makeKeyPath(nullptr, {m_token.text});
        advance();
        return keyPath;
    }
    QVariant constant;
    bool isConstant = true;
    if (atKeyword("NIL") || atKeyword("NULL"))
        constant = QVariant();
    else if (atKeyword("YES") || atKeyword("TRUE"))
        constant = true;
    else if (atKeyword("NO") || atKeyword("FALSE"))
        constant = false;
    else
        isConstant = false;
    if (isConstant) {
        advance();
        return makeConstant(constant);
    }
    if (atKeyword("SELF")) {
        advance();
        return makeExpression(Expression::Kind::Self);
    }
    if (atKeyword("SUBQUERY"))
        return parseSubquery();
    if (atKeyword("CAST"))
        return parseCast();
    return fail(position, QStringLiteral("a value or key path, not the word %1").arg(m_token.text));
}

ExpressionPtr TDWPredicateParser::parseKeys(ExpressionPtr base)
{
    QStringList keys;
    if (base->kind == Expression::Kind::KeyPath) {
        keys = base->keys;
        base = base->operand;
    } else if (base->kind == Expression::Kind::Self) {
        base = nullptr;
    }
    while (!m_failed && atSymbol(".")) {
        advance();
        const qsizetype position = m_token.position;
        if (!keys.isEmpty() && keys.back() == QLatin1String("@count"))
            return fail(position, QStringLiteral("@count at the end of the key path"));
        if (m_token.type == Token::Type::Placeholder && m_token.text == QLatin1String("K")) {
            if (!appendKeyPathArgument(&keys))
                return nullptr;
        } else if (m_token.type == Token::Type::Identifier) {
            keys.append(m_token.text);
            advance();
        } else {
            return fail(position, QStringLiteral("a key after '.'"));
        }
        for (qsizetype i = 0; i < keys.size(); ++i) {
            if (!keys[i].startsWith(QLatin1Char('@')))
                continue;
            if (keys[i] != QLatin1String("@count"))
                return fail(position, QStringLiteral("a supported collection operator (only @count is)"));
            if (i + 1 != keys.size())
                return fail(position, QStringLiteral("@count at the end of the key path"));
            if (i == 0 && !base)
                return fail(position, QStringLiteral("a collection before @count"));
        }
    }
    if (m_failed)
        return nullptr;
    if (keys.isEmpty())
        return base ? base : makeExpression(Expression::Kind::Self);
    return makeKeyPath(base, keys);
}

ExpressionPtr TDWPredicateParser::parseSubquery()
{
    advance();
    if (!expectSymbol("("))
        return nullptr;
    auto subquery = std::make_shared<Expression>();
    subquery->kind = Expression::Kind::Subquery;
    subquery->operand = parseExpression();
    if (!subquery->operand || !expectSymbol(","))
        return nullptr;
    if (m_token.type != Token::Type::Variable)
        return fail(m_token.position, QStringLiteral("a $variable naming each element"));
    subquery->variable = m_token.text;
    advance();
    if (!expectSymbol(",") || !enter())
        return nullptr;
    subquery->predicate = parseOr();
    leave();
    if (!subquery->predicate || !expectSymbol(")"))
        return nullptr;
    return subquery;
}

ExpressionPtr TDWPredicateParser::parseCast()
{
    const qsizetype position = m_token.position;
    advance();
    if (!expectSymbol("("))
        return nullptr;
    ExpressionPtr value = parseExpression();
    if (!value || !expectSymbol(","))
        return nullptr;
    if (m_token.type != Token::Type::String)
        return fail(m_token.position, QStringLiteral("a class name in quotes"));
    const QString className = m_token.text;
    advance();
    if (!expectSymbol(")"))
        return nullptr;
    if (value->kind != Expression::Kind::Constant)
        return fail(position, QStringLiteral("a constant to CAST"));
    const QVariant &constant = value->constant;
    const int type = constant.metaType().id();
    const std::optional<TDWNumber> number = TDWNumber::of(constant);
    if (className == QLatin1String("NSDate") && number && number->kind() != TDWNumber::Kind::Boolean) {
        const double seconds = constant.toDouble();
        // Beyond this the millisecond count would overflow; no stored date is that far away.
        if (std::fabs(seconds) > 1e14)
            return fail(position, QStringLiteral("a date within a million years of 2001"));
        return makeConstant(TDWPredicateSql::dateFromSecondsSinceReferenceDate(seconds));
    }
    if (className == QLatin1String("NSData") && type == QMetaType::QString) {
        const QByteArray hex = constant.toString().toLatin1();
        const bool valid = hex.size() % 2 == 0
            && std::all_of(hex.begin(), hex.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); })
            && constant.toString().size() == hex.size();
        if (!valid)
            return fail(position, QStringLiteral("hexadecimal digits in pairs for NSData"));
        return makeConstant(QByteArray::fromHex(hex));
    }
    if (className == QLatin1String("TDWObjectRef") && type == QMetaType::QString) {
        const TDWPredicateObjectRef ref = TDWPredicateObjectRef::fromUri(constant.toString());
        if (ref.isNull())
            return fail(position, QStringLiteral("an object URI for TDWObjectRef"));
        return makeConstant(QVariant::fromValue(ref));
    }
    return fail(position, QStringLiteral("a number CAST to NSDate or a string CAST to NSData or TDWObjectRef"));
}

ExpressionPtr TDWPredicateParser::parseAggregate()
{
    advance();
    auto aggregate = std::make_shared<Expression>();
    aggregate->kind = Expression::Kind::Aggregate;
    if (atSymbol("}")) {
        advance();
        return aggregate;
    }
    while (!m_failed) {
        ExpressionPtr element = parseExpression();
        if (!element)
            return nullptr;
        aggregate->elements.append(element);
        if (atSymbol("}")) {
            advance();
            return aggregate;
        }
        if (!expectSymbol(","))
            return nullptr;
    }
    return nullptr;
}

ExpressionPtr TDWPredicateParser::parseNumber(bool negative)
{
    const Token token = m_token;
    advance();
    if (token.type == Token::Type::Real) {
        bool ok = false;
        const double value = token.text.toDouble(&ok);
        if (!ok || !std::isfinite(value))
            return fail(token.position, QStringLiteral("a number within the range of doubles"));
        return makeConstant(negative ? -value : value);
    }
    int radix = 10;
    QString digits = token.text;
    if (digits.size() > 2 && digits[0] == QLatin1Char('0') && !digits[1].isDigit()) {
        const QChar prefix = digits[1].toLower();
        radix = prefix == QLatin1Char('x') ? 16 : prefix == QLatin1Char('o') ? 8 : 2;
        digits = digits.mid(2);
    }
    bool ok = false;
    const quint64 magnitude = digits.toULongLong(&ok, radix);
    // Unsigned 64-bit values (message identifiers among them) are written as they are.
    if (!ok || (negative && magnitude > quint64(std::numeric_limits<qint64>::max()) + 1))
        return fail(token.position, QStringLiteral("an integer that fits in 64 bits"));
    if (!negative)
        return makeConstant(TDWNumber::fromUnsigned(magnitude).toVariant());
    // Negating in unsigned arithmetic keeps the most negative value representable.
    return makeConstant(QVariant::fromValue<qlonglong>(qint64(0 - magnitude)));
}

const QVariant *TDWPredicateParser::takeArgument()
{
    if (m_nextArgument >= m_arguments.size()) {
        fail(m_token.position, QStringLiteral("an argument for this placeholder (%1 given)").arg(m_arguments.size()));
        return nullptr;
    }
    return &m_arguments[m_nextArgument++];
}

bool TDWPredicateParser::appendKeyPathArgument(QStringList *keys)
{
    const qsizetype position = m_token.position;
    const QVariant *argument = takeArgument();
    if (!argument)
        return false;
    if (argument->metaType().id() != QMetaType::QString) {
        fail(position, QStringLiteral("a string argument for %K"));
        return false;
    }
    const QStringList parts = argument->toString().split(QLatin1Char('.'));
    for (const QString &part : parts) {
        if (!TDWPredicateLexer::isKeyName(part)) {
            fail(position, QStringLiteral("a key path argument for %K made of names separated by dots"));
            return false;
        }
    }
    keys->append(parts);
    advance();
    return !m_failed;
}

ExpressionPtr TDWPredicateParser::parsePlaceholder()
{
    const Token token = m_token;
    if (token.text == QLatin1String("K")) {
        QStringList keys;
        if (!appendKeyPathArgument(&keys))
            return nullptr;
        if (keys.front().startsWith(QLatin1Char('@')))
            return fail(token.position, QStringLiteral("a collection before @count"));
        return makeKeyPath(nullptr, keys);
    }
    const QVariant *argument = takeArgument();
    if (!argument)
        return nullptr;
    advance();
    const qsizetype index = m_nextArgument;
    if (token.text == QLatin1String("@")) {
        QString whyNot;
        ExpressionPtr value = expressionForValue(*argument, &whyNot);
        if (!value)
            return fail(token.position, QStringLiteral("an argument a predicate can hold (argument %1 is %2)").arg(index).arg(whyNot));
        return value;
    }
    const QChar conversion = token.text.back();
    const std::optional<TDWNumber> number = TDWNumber::of(*argument);
    if (QStringLiteral("fFeEgG").contains(conversion)) {
        if (!number || !std::isfinite(number->toDouble()))
            return fail(token.position, QStringLiteral("a finite number for %%1 (argument %2)").arg(token.text).arg(index));
        return makeConstant(number->toDouble());
    }
    if (!number || !number->isInteger())
        return fail(token.position, QStringLiteral("an integer for %%1 (argument %2)").arg(token.text).arg(index));
    // A boolean given for an integer conversion is the integer 0 or 1.
    if (number->kind() == TDWNumber::Kind::Boolean)
        return makeConstant(QVariant::fromValue<qlonglong>(*number->toSigned()));
    return makeConstant(number->toVariant());
}
