#include "platform/predicate/TDWPredicatePrinter.h"

#include "platform/foundation/TDWNumber.h"
#include "platform/predicate/TDWPredicateLexer.h"
#include "platform/predicate/TDWPredicateObjectRef.h"
#include "platform/predicate/TDWPredicateSql.h"

#include <QDateTime>
#include <QLocale>

using namespace TDWPredicateTree;

QString TDWPredicatePrinter::operatorText(Operator op)
{
    switch (op) {
    case Operator::Equal: return QStringLiteral("==");
    case Operator::NotEqual: return QStringLiteral("!=");
    case Operator::Less: return QStringLiteral("<");
    case Operator::LessOrEqual: return QStringLiteral("<=");
    case Operator::Greater: return QStringLiteral(">");
    case Operator::GreaterOrEqual: return QStringLiteral(">=");
    case Operator::Like: return QStringLiteral("LIKE");
    case Operator::BeginsWith: return QStringLiteral("BEGINSWITH");
    case Operator::EndsWith: return QStringLiteral("ENDSWITH");
    case Operator::In: return QStringLiteral("IN");
    case Operator::Contains: return QStringLiteral("CONTAINS");
    }
    return {};
}

namespace {

QString optionsText(int options)
{
    QString letters;
    if (options & CaseInsensitive)
        letters += QLatin1Char('c');
    if (options & DiacriticInsensitive)
        letters += QLatin1Char('d');
    return letters.isEmpty() ? letters : QLatin1Char('[') + letters + QLatin1Char(']');
}

QString keyText(const QString &key)
{
    return TDWPredicateLexer::isReservedWord(key) ? QLatin1Char('#') + key : key;
}

QString printChild(const Node &child)
{
    const QString text = TDWPredicatePrinter::print(child);
    const bool compound = child.kind == Node::Kind::And || child.kind == Node::Kind::Or;
    return compound ? QLatin1Char('(') + text + QLatin1Char(')') : text;
}

// Seconds since the reference date with six decimals, computed from whole
// milliseconds so that the printed text parses back to the same instant.
QString dateText(const QDateTime &date)
{
    const qint64 referenceMs = qint64(978307200) * 1000;
    const qint64 ms = date.toMSecsSinceEpoch() - referenceMs;
    const quint64 magnitude = ms < 0 ? quint64(0) - quint64(ms) : quint64(ms);
    return (ms < 0 ? QStringLiteral("-") : QString()) + QString::number(magnitude / 1000) + QLatin1Char('.')
        + QStringLiteral("%1").arg(magnitude % 1000, 3, 10, QLatin1Char('0')) + QStringLiteral("000");
}

} // namespace

QString TDWPredicatePrinter::quoted(const QString &text)
{
    QString out = QStringLiteral("\"");
    for (QChar c : text) {
        switch (c.unicode()) {
        case '"': out += QStringLiteral("\\\""); break;
        case '\\': out += QStringLiteral("\\\\"); break;
        case '\n': out += QStringLiteral("\\n"); break;
        case '\r': out += QStringLiteral("\\r"); break;
        case '\t': out += QStringLiteral("\\t"); break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.isSurrogate())
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    return out + QLatin1Char('"');
}

QString TDWPredicatePrinter::printConstant(const QVariant &value)
{
    if (!value.isValid())
        return QStringLiteral("nil");
    if (const std::optional<TDWNumber> number = TDWNumber::of(value)) {
        switch (number->kind()) {
        case TDWNumber::Kind::Boolean:
            return *number->toSigned() ? QStringLiteral("YES") : QStringLiteral("NO");
        case TDWNumber::Kind::Signed:
            return QString::number(*number->toSigned());
        case TDWNumber::Kind::Unsigned:
            return QString::number(*number->toUnsigned());
        case TDWNumber::Kind::Real:
            break;
        }
        QString text = QString::number(number->toDouble(), 'g', QLocale::FloatingPointShortest);
        // Keeps a whole double a double when it is read back.
        if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e')))
            text += QStringLiteral(".0");
        return text;
    }
    switch (value.metaType().id()) {
    case QMetaType::QString:
        return quoted(value.toString());
    case QMetaType::QDateTime:
        return QStringLiteral("CAST(%1, \"NSDate\")").arg(dateText(value.toDateTime()));
    case QMetaType::QByteArray:
        return QStringLiteral("CAST(\"%1\", \"NSData\")").arg(QString::fromLatin1(value.toByteArray().toHex()));
    default:
        return QStringLiteral("CAST(%1, \"TDWObjectRef\")").arg(quoted(value.value<TDWPredicateObjectRef>().uri()));
    }
}

QString TDWPredicatePrinter::print(const Node &node)
{
    switch (node.kind) {
    case Node::Kind::True:
        return QStringLiteral("TRUEPREDICATE");
    case Node::Kind::False:
        return QStringLiteral("FALSEPREDICATE");
    case Node::Kind::And:
    case Node::Kind::Or: {
        QStringList parts;
        for (const NodePtr &child : node.children)
            parts.append(printChild(*child));
        return parts.join(node.kind == Node::Kind::And ? QStringLiteral(" AND ") : QStringLiteral(" OR "));
    }
    case Node::Kind::Not:
        return QStringLiteral("NOT ") + printChild(*node.children.front());
    case Node::Kind::Comparison:
        break;
    }
    QString modifier;
    if (node.modifier == Modifier::Any)
        modifier = QStringLiteral("ANY ");
    else if (node.modifier == Modifier::All)
        modifier = QStringLiteral("ALL ");
    return modifier + print(*node.lhs) + QLatin1Char(' ') + TDWPredicatePrinter::operatorText(node.op) + optionsText(node.options)
        + QLatin1Char(' ') + print(*node.rhs);
}

QString TDWPredicatePrinter::print(const Expression &expression)
{
    switch (expression.kind) {
    case Expression::Kind::Constant:
        return printConstant(expression.constant);
    case Expression::Kind::Self:
        return QStringLiteral("SELF");
    case Expression::Kind::Variable:
        return QLatin1Char('$') + expression.variable;
    case Expression::Kind::KeyPath: {
        QStringList parts;
        if (expression.operand)
            parts.append(print(*expression.operand));
        for (const QString &key : expression.keys)
            parts.append(keyText(key));
        return parts.join(QLatin1Char('.'));
    }
    case Expression::Kind::Aggregate: {
        QStringList parts;
        for (const ExpressionPtr &element : expression.elements)
            parts.append(print(*element));
        return QLatin1Char('{') + parts.join(QStringLiteral(", ")) + QLatin1Char('}');
    }
    case Expression::Kind::Subquery:
        return QStringLiteral("SUBQUERY(%1, $%2, %3)")
            .arg(print(*expression.operand), expression.variable, print(*expression.predicate));
    }
    return {};
}
