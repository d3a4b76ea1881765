#include "platform/predicate/TDWPredicateSqlTranslator.h"

#include "platform/foundation/TDWNumber.h"
#include "platform/predicate/TDWPredicateObjectRef.h"
#include "platform/predicate/TDWPredicateOperators.h"
#include "platform/predicate/TDWPredicateSql.h"

#include <QDateTime>

#include <cmath>

using namespace TDWPredicateTree;

namespace {

bool isStringOperator(Operator op)
{
    switch (op) {
    case Operator::Like:
    case Operator::BeginsWith:
    case Operator::EndsWith:
    case Operator::Contains:
    case Operator::In:
        return true;
    default:
        return false;
    }
}

QString sqlOperator(Operator op)
{
    switch (op) {
    case Operator::Less: return QStringLiteral("<");
    case Operator::LessOrEqual: return QStringLiteral("<=");
    case Operator::Greater: return QStringLiteral(">");
    case Operator::GreaterOrEqual: return QStringLiteral(">=");
    default: return QStringLiteral("=");
    }
}

bool isOrdering(Operator op)
{
    return op == Operator::Less || op == Operator::LessOrEqual || op == Operator::Greater || op == Operator::GreaterOrEqual;
}

// SQLite's integers end at 2^63-1, but it compares them with doubles exactly, so
// a constant is bound as its integer or else as a double. An unsigned constant
// beyond that range which no double equals gives the doubles just below and just
// above it; none for every other value.
std::optional<std::pair<double, double>> doublesAroundInexact(const QVariant &constant)
{
    const std::optional<TDWNumber> number = TDWNumber::of(constant);
    if (!number || !number->isInteger() || number->toSigned())
        return std::nullopt;
    const double nearest = number->toDouble();
    const int order = TDWNumber::of(nearest)->compare(*number);
    if (order == 0)
        return std::nullopt;
    return order > 0 ? std::pair(std::nextafter(nearest, 0.0), nearest) : std::pair(nearest, std::nextafter(nearest, HUGE_VAL));
}

QVariant sqlNumber(const QVariant &constant)
{
    const TDWNumber number = *TDWNumber::of(constant);
    const std::optional<qint64> integer = number.toSigned();
    return integer ? QVariant(qlonglong(*integer)) : QVariant(number.toDouble());
}

} // namespace

TDWPredicateSqlTranslator::TDWPredicateSqlTranslator(const TDWPredicateSqlSchema &schema) : m_schema(schema)
{
}

bool TDWPredicateSqlTranslator::translate(const Node &root, const QString &entity, const QString &alias, TDWSqlFragment *out)
{
    m_failure.clear();
    table(entity);
    if (!m_failure.isEmpty())
        return false;
    m_self = Single{};
    m_self.alias = quote(alias);
    m_self.expr = lit(m_self.alias + QLatin1Char('.') + quote(m_schema.primaryKeyColumn(entity)));
    m_self.type = Type::Object;
    m_self.entity = entity;
    m_self.nullable = false;
    const Sql sql = predicate(root, {});
    if (m_failure.isEmpty() && !fitsSqliteParser(sql.text))
        fail(QStringLiteral("the predicate is nested too deeply for SQL"));
    if (!m_failure.isEmpty())
        return false;
    out->sql = sql.text;
    out->bindings = sql.bindings;
    return true;
}

bool TDWPredicateSqlTranslator::fail(const QString &why)
{
    if (m_failure.isEmpty())
        m_failure = why;
    return false;
}

QString TDWPredicateSqlTranslator::quote(const QString &identifier)
{
    QString escaped = identifier;
    escaped.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

TDWPredicateSqlTranslator::Sql TDWPredicateSqlTranslator::lit(const QString &text)
{
    return Sql{text, {}};
}

TDWPredicateSqlTranslator::Sql TDWPredicateSqlTranslator::cat(std::initializer_list<Sql> parts)
{
    Sql joined;
    for (const Sql &part : parts) {
        joined.text += part.text;
        joined.bindings += part.bindings;
    }
    return joined;
}

void TDWPredicateSqlTranslator::append(Sql *to, const Sql &part)
{
    to->text += part.text;
    to->bindings += part.bindings;
}

// AND or OR of terms, grouped by eight: SQLite parses a long flat chain into a
// tree as deep as the chain is long and refuses beyond 1000 levels.
TDWPredicateSqlTranslator::Sql TDWPredicateSqlTranslator::join(const QList<Sql> &terms, bool conjunction)
{
    constexpr qsizetype Group = 8;
    if (terms.isEmpty())
        return boolean(conjunction);
    if (terms.size() > Group) {
        QList<Sql> groups;
        const qsizetype size = (terms.size() + Group - 1) / Group;
        for (qsizetype i = 0; i < terms.size(); i += size)
            groups.append(join(terms.mid(i, size), conjunction));
        return join(groups, conjunction);
    }
    Sql joined = lit(QStringLiteral("("));
    for (qsizetype i = 0; i < terms.size(); ++i) {
        if (i)
            append(&joined, lit(conjunction ? QStringLiteral(" AND ") : QStringLiteral(" OR ")));
        append(&joined, terms[i]);
    }
    append(&joined, lit(QStringLiteral(")")));
    return joined;
}

// An estimate, from above, of how deep SQLite's parser stack goes on this text:
// its stack holds 100 entries, and a subquery opened inside another takes about
// ten of them. Double-quoted identifiers are skipped.
bool TDWPredicateSqlTranslator::fitsSqliteParser(const QString &sql)
{
    constexpr int Budget = 90;
    QList<int> open;
    int depth = 0;
    bool quoted = false;
    for (qsizetype i = 0; i < sql.size(); ++i) {
        const QChar c = sql.at(i);
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        if (quoted)
            continue;
        if (c == QLatin1Char('(')) {
            const QStringView rest = QStringView(sql).mid(i + 1);
            const int weight = rest.startsWith(QLatin1String("SELECT")) ? 11 : rest.startsWith(QLatin1String("CASE")) ? 7 : 4;
            open.append(weight);
            depth += weight;
            if (depth > Budget)
                return false;
        } else if (c == QLatin1Char(')') && !open.isEmpty()) {
            depth -= open.takeLast();
        }
    }
    return true;
}

TDWPredicateSqlTranslator::Sql TDWPredicateSqlTranslator::boolean(bool value)
{
    return lit(value ? QStringLiteral("1") : QStringLiteral("0"));
}

QString TDWPredicateSqlTranslator::table(const QString &entity)
{
    const QString name = m_schema.tableForEntity(entity);
    if (name.isEmpty())
        fail(QStringLiteral("the entity %1 has no table").arg(entity));
    return quote(name);
}

QString TDWPredicateSqlTranslator::newAlias()
{
    return quote(QStringLiteral("tdwp%1").arg(++m_aliases));
}

TDWPredicateSqlTranslator::Single TDWPredicateSqlTranslator::nilSingle()
{
    Single nil;
    nil.expr = lit(QStringLiteral("NULL"));
    nil.isConstant = true;
    return nil;
}

// ---- predicates -------------------------------------------------------------

TDWPredicateSqlTranslator::Sql TDWPredicateSqlTranslator::predicate(const Node &node, const Scope &scope)
{
    switch (node.kind) {
    case Node::Kind::True:
        return boolean(true);
    case Node::Kind::False:
        return boolean(false);
    case Node::Kind::Not:
        return cat({lit(QStringLiteral("(NOT ")), predicate(*node.children.front(), scope), lit(QStringLiteral(")"))});
    case Node::Kind::And:
    case Node::Kind::Or: {
        QList<Sql> terms;
        for (const NodePtr &child : node.children)
            terms.append(predicate(*child, scope));
        return join(terms, node.kind == Node::Kind::And);
    }
    case Node::Kind::Comparison:
        return comparison(node, scope);
    }
    return boolean(false);
}

TDWPredicateSqlTranslator::Sql TDWPredicateSqlTranslator::comparison(const Node &node, const Scope &scope)
{
    const Value left = value(*node.lhs, scope);
    const Value right = value(*node.rhs, scope);
    if (!m_failure.isEmpty())
        return boolean(false);
    const bool iterate = left.kind != Value::Kind::Single
        && !(node.modifier == Modifier::Direct && node.op == Operator::Contains);
    if (!iterate)
        return testAgainstRight(node, left, right);
    const Tester test = [&](const Single &element) {
        Value single;
        single.single = element;
        return testAgainstRight(node, single, right);
    };
    return node.modifier == Modifier::All ? allOf(left, test) : anyOf(left, test, true);
}

TDWPredicateSqlTranslator::Sql TDWPredicateSqlTranslator::testAgainstRight(const Node &node, const Value &left, const Value &right)
{
    if (node.op == Operator::In)
        return containsSql(right, left.single, node.options);
    if (right.kind != Value::Kind::Single)
        return anyOf(right, [&](const Single &element) { return testPair(node, left, element); }, true);
    return testPair(node, left, right.single);
}

TDWPredicateSqlTranslator::Sql TDWPredicateSqlTranslator::testPair(const Node &node, const Value &left, const Single &right)
{
    if (node.op == Operator::Contains)
        return containsSql(left, right, node.options);
    return compareSingles(node.op, node.options, left.single, right);
}

TDWPredicateSqlTranslator::Sql TDWPredicateSqlTranslator::containsSql(const Value &container, const Single &element, int options)
{
    switch (container.kind) {
    case Value::Kind::Many:
        // A collection cut short by nil is no collection: it contains nothing.
        return anyOf(container, [&](const Single &item) { return compareSingles(Operator::Equal, options, item, element); }, false);
    case Value::Kind::Aggregate:
        return inList(container, element, options);
    case Value::Kind::Single:
        break;
    }
    const Single &text = container.single;
    const bool strings = (text.type == Type::String || text.type == Type::Nil)
        && (element.type == Type::String || element.type == Type::Nil);
    if (!strings)
        return boolean(false);
    return compareSingles(Operator::Contains, options, text, element);
}

// Membership in an array: constants of the element's kind go into one IN list
// (no limit on their number, where a chain of ORs would hit SQLite's depth
// limit); nil and other expressions are tested one by one.
TDWPredicateSqlTranslator::Sql TDWPredicateSqlTranslator::inList(const Value &aggregate, const Single &element, int options)
{
    const bool folded = element.type == Type::String && options != 0;
    QList<Sql> terms;
    Sql list;
    int listed = 0;
    bool hasNil = false;
    for (const Value &item : aggregate.elements) {
        const Single &candidate = item.single;
        if (!candidate.isConstant || element.isConstant || element.type == Type::Nil) {
            terms.append(compareSingles(Operator::Equal, options, element, candidate));
            continue;
        }
        if (candidate.type == Type::Nil) {
            hasNil = true;
            continue;
        }
        // A constant of another kind (or another entity) never equals the element.
        if (candidate.type != element.type || (element.type == Type::Object && !refersToEntity(candidate, element.entity)))
            continue;
        if (doublesAroundInexact(candidate.constant))
            continue; // equals no number SQLite holds
        Sql entry;
        if (folded)
            entry = Sql{QStringLiteral("?"), {TDWPredicateOperators::fold(candidate.constant.toString(), options)}};
        else if (candidate.constant.metaType().id() == QMetaType::LongLong)
            entry = lit(QString::number(candidate.constant.toLongLong()));   // inlined: no limit on their number
        else
            entry = candidate.expr;
        append(&list, cat({lit(listed++ ? QStringLiteral(", ") : QString()), entry}));
    }
    if (listed) {
        const Sql subject = folded ? cat({lit(QStringLiteral("tdw_predicate_fold(")), element.expr,
                                          lit(QStringLiteral(", %1)").arg(options))})
                                   : element.expr;
        terms.prepend(cat({lit(QStringLiteral("(")), subject, lit(QStringLiteral(" IN (")), list,
                           lit(QStringLiteral(") AND ")), element.expr, lit(QStringLiteral(" IS NOT NULL)"))}));
    }
    if (hasNil)
        terms.append(cat({lit(QStringLiteral("(")), element.expr, lit(QStringLiteral(" IS NULL)"))}));
    return join(terms, false);
}

TDWPredicateSqlTranslator::Sql TDWPredicateSqlTranslator::compareSingles(Operator op, int options, const Single &a, const Single &b)
{
    const auto call = [&]() {
        return cat({lit(QStringLiteral("tdw_predicate_test(%1, %2, ").arg(int(op)).arg(options)), a.expr,
                    lit(QStringLiteral(", ")), b.expr, lit(QStringLiteral(")"))});
    };
    const auto isNull = [](const Single &s, bool negate) {
        return cat({lit(QStringLiteral("(")), s.expr, lit(negate ? QStringLiteral(" IS NOT NULL)") : QStringLiteral(" IS NULL)"))});
    };
    if (a.type == Type::Number && b.type == Type::Number) {
        if (const std::optional<Sql> sql = compareWithInexactNumber(op, options, a, b))
            return *sql;
    }
    if (op == Operator::Equal || op == Operator::NotEqual) {
        const bool negate = op == Operator::NotEqual;
        if (a.type == Type::Nil && b.type == Type::Nil)
            return boolean(!negate);
        if (a.type == Type::Nil)
            return isNull(b, negate);
        if (b.type == Type::Nil)
            return isNull(a, negate);
        if (a.type == Type::Object && b.type == Type::Object)
            return equalObjects(negate, a, b);
        if (a.type != b.type) {
            // Values of different kinds are equal only when both are nil.
            if (a.isConstant || b.isConstant)
                return boolean(negate);
            return cat({lit(negate ? QStringLiteral("(NOT (") : QStringLiteral("((")), a.expr,
                        lit(QStringLiteral(" IS NULL AND ")), b.expr, lit(QStringLiteral(" IS NULL))"))});
        }
        if (a.type == Type::String && options != 0)
            return call();
        return cat({lit(QStringLiteral("(")), a.expr, lit(negate ? QStringLiteral(" IS NOT ") : QStringLiteral(" IS ")), b.expr,
                    lit(QStringLiteral(")"))});
    }
    if (isStringOperator(op)) {
        if (a.type != Type::String || b.type != Type::String)
            return boolean(false);
        return call();
    }
    // Ordering: numbers, strings and dates, each only with its own kind.
    if (a.type != b.type || (a.type != Type::Number && a.type != Type::String && a.type != Type::Date))
        return boolean(false);
    if (a.type == Type::String && options != 0)
        return call();
    Sql sql = cat({lit(QStringLiteral("(")), a.expr, lit(QLatin1Char(' ') + sqlOperator(op) + QLatin1Char(' ')), b.expr});
    // NULL AND 0 is 0 in SQL, so these keep the result 0 or 1 when a side is nil.
    if (!a.isConstant)
        sql = cat({sql, lit(QStringLiteral(" AND ")), a.expr, lit(QStringLiteral(" IS NOT NULL"))});
    if (!b.isConstant)
        sql = cat({sql, lit(QStringLiteral(" AND ")), b.expr, lit(QStringLiteral(" IS NOT NULL"))});
    return cat({sql, lit(QStringLiteral(")"))});
}

// A number constant SQLite cannot hold (see doublesAroundInexact) equals no
// stored number, and is ordered as the double just beyond it on the far side of
// the comparison: x < c is x <= the double below c, x > c is x >= the one above.
std::optional<TDWPredicateSqlTranslator::Sql> TDWPredicateSqlTranslator::compareWithInexactNumber(Operator op, int options,
                                                                                                 const Single &a, const Single &b)
{
    const auto aAround = doublesAroundInexact(a.constant);
    const auto bAround = doublesAroundInexact(b.constant);
    if (!aAround && !bAround)
        return std::nullopt;
    if (a.isConstant && b.isConstant)
        return boolean(TDWPredicateOperators::test(op, options, a.constant, b.constant));
    if (!isOrdering(op))
        return boolean(op == Operator::NotEqual);
    const bool aIsGreater = op == Operator::Greater || op == Operator::GreaterOrEqual;
    const Operator nonStrict = aIsGreater ? Operator::GreaterOrEqual : Operator::LessOrEqual;
    if (aAround)
        return compareSingles(nonStrict, options, constantSingle(aIsGreater ? aAround->first : aAround->second), b);
    return compareSingles(nonStrict, options, a, constantSingle(aIsGreater ? bAround->second : bAround->first));
}

TDWPredicateSqlTranslator::Sql TDWPredicateSqlTranslator::equalObjects(bool negate, const Single &a, const Single &b)
{
    const Single &constant = a.isConstant ? a : b;
    const Single &other = a.isConstant ? b : a;
    if (a.isConstant && b.isConstant) {
        return boolean(negate != a.constant.value<TDWPredicateObjectRef>().refersToSameObject(
                                    b.constant.value<TDWPredicateObjectRef>()));
    }
    if (constant.isConstant) {
        if (!refersToEntity(constant, other.entity))
            return boolean(negate);
    } else if (table(a.entity) != table(b.entity)) {
        return cat({lit(negate ? QStringLiteral("(NOT (") : QStringLiteral("((")), a.expr,
                    lit(QStringLiteral(" IS NULL AND ")), b.expr, lit(QStringLiteral(" IS NULL))"))});
    }
    return cat({lit(QStringLiteral("(")), a.expr, lit(negate ? QStringLiteral(" IS NOT ") : QStringLiteral(" IS ")), b.expr,
                lit(QStringLiteral(")"))});
}

// Whether an object constant can name a row of the entity in this store.
bool TDWPredicateSqlTranslator::refersToEntity(const Single &constant, const QString &entity) const
{
    const TDWPredicateObjectRef ref = constant.constant.value<TDWPredicateObjectRef>();
    const QString store = m_schema.storeIdentifier();
    return ref.entity() == entity && (store.isEmpty() || ref.storeIdentifier().isEmpty() || ref.storeIdentifier() == store);
}

TDWPredicateSqlTranslator::Sql TDWPredicateSqlTranslator::anyOf(const Value &value, const Tester &test, bool whenNil)
{
    switch (value.kind) {
    case Value::Kind::Single:
        return test(value.single);
    case Value::Kind::Aggregate: {
        QList<Sql> terms;
        for (const Value &element : value.elements)
            terms.append(anyOf(element, test, whenNil));
        return join(terms, false);
    }
    case Value::Kind::Many:
        break;
    }
    const Source &source = value.many;
    const Sql exists = cat({lit(QStringLiteral("EXISTS (SELECT 1 FROM ")), source.from, lit(QStringLiteral(" WHERE ")),
                            source.where, lit(QStringLiteral(" AND ")), test(source.element), lit(QStringLiteral(")"))});
    if (!whenNil || source.anchorIsNull.text.isEmpty())
        return exists;
    // In memory a key path that meets nil before its collection is nil itself.
    return cat({lit(QStringLiteral("(CASE WHEN ")), source.anchorIsNull, lit(QStringLiteral(" THEN ")), test(nilSingle()),
                lit(QStringLiteral(" ELSE ")), exists, lit(QStringLiteral(" END)"))});
}

TDWPredicateSqlTranslator::Sql TDWPredicateSqlTranslator::allOf(const Value &value, const Tester &test)
{
    switch (value.kind) {
    case Value::Kind::Single:
        return test(value.single);
    case Value::Kind::Aggregate: {
        QList<Sql> terms;
        for (const Value &element : value.elements)
            terms.append(allOf(element, test));
        return join(terms, true);
    }
    case Value::Kind::Many:
        break;
    }
    const Source &source = value.many;
    const Sql none = cat({lit(QStringLiteral("NOT EXISTS (SELECT 1 FROM ")), source.from, lit(QStringLiteral(" WHERE ")),
                          source.where, lit(QStringLiteral(" AND NOT ")), test(source.element), lit(QStringLiteral(")"))});
    if (source.anchorIsNull.text.isEmpty())
        return none;
    return cat({lit(QStringLiteral("(CASE WHEN ")), source.anchorIsNull, lit(QStringLiteral(" THEN ")), test(nilSingle()),
                lit(QStringLiteral(" ELSE ")), none, lit(QStringLiteral(" END)"))});
}

// ---- values -----------------------------------------------------------------

TDWPredicateSqlTranslator::Value TDWPredicateSqlTranslator::value(const Expression &expression, const Scope &scope)
{
    Value result;
    switch (expression.kind) {
    case Expression::Kind::Constant:
        result.single = constantSingle(expression.constant);
        return result;
    case Expression::Kind::Self:
        result.single = m_self;
        return result;
    case Expression::Kind::Variable: {
        const auto it = scope.constFind(expression.variable);
        if (it == scope.constEnd())
            fail(QStringLiteral("the variable $%1 has no value").arg(expression.variable));
        else
            result.single = *it;
        return result;
    }
    case Expression::Kind::KeyPath: {
        Value start;
        if (expression.operand)
            start = value(*expression.operand, scope);
        else
            start.single = m_self;
        return applyKeys(start, expression.keys);
    }
    case Expression::Kind::Aggregate:
        result.kind = Value::Kind::Aggregate;
        result.elements.reserve(expression.elements.size());
        for (const ExpressionPtr &element : expression.elements) {
            result.elements.append(value(*element, scope));
            if (result.elements.back().kind != Value::Kind::Single)
                fail(QStringLiteral("an array element must be a single value, not a collection"));
        }
        return result;
    case Expression::Kind::Subquery:
        break;
    }
    const Value collection = value(*expression.operand, scope);
    if (collection.kind == Value::Kind::Single && collection.single.type == Type::Nil) {
        result.kind = Value::Kind::Aggregate;
        return result;
    }
    if (collection.kind != Value::Kind::Many) {
        fail(QStringLiteral("SUBQUERY needs a key path to a to-many relationship"));
        return result;
    }
    Scope inner = scope;
    inner.insert(expression.variable, collection.many.element);
    result.kind = Value::Kind::Many;
    result.many = collection.many;
    result.many.where = cat({collection.many.where, lit(QStringLiteral(" AND ")), predicate(*expression.predicate, inner)});
    // The elements that pass form a collection even when the key path met nil.
    result.many.anchorIsNull = Sql{};
    return result;
}

TDWPredicateSqlTranslator::Single TDWPredicateSqlTranslator::constantSingle(const QVariant &constant)
{
    Single single;
    single.isConstant = true;
    single.constant = constant;
    single.nullable = false;
    switch (TDWPredicateOperators::category(constant)) {
    case TDWPredicateOperators::Category::Nil:
    case TDWPredicateOperators::Category::Other:
        return nilSingle();
    case TDWPredicateOperators::Category::Number:
        single.type = Type::Number;
        single.expr = Sql{QStringLiteral("?"), {sqlNumber(constant)}};
        break;
    case TDWPredicateOperators::Category::String:
        single.type = Type::String;
        single.expr = Sql{QStringLiteral("?"), {constant.toString()}};
        break;
    case TDWPredicateOperators::Category::Date:
        single.type = Type::Date;
        single.expr = Sql{QStringLiteral("?"), {TDWPredicateSql::secondsSinceReferenceDate(constant.toDateTime())}};
        break;
    case TDWPredicateOperators::Category::Data:
        single.type = Type::Data;
        single.expr = Sql{QStringLiteral("?"), {constant.toByteArray()}};
        break;
    case TDWPredicateOperators::Category::Object: {
        const TDWPredicateObjectRef ref = constant.value<TDWPredicateObjectRef>();
        single.type = Type::Object;
        single.entity = ref.entity();
        // Bound rather than written in, so a hot fetch with an object argument
        // reuses one prepared statement instead of compiling one per object.
        single.expr = Sql{QStringLiteral("?"), {ref.primaryKey()}};
        break;
    }
    }
    return single;
}

TDWPredicateSqlTranslator::Value TDWPredicateSqlTranslator::applyKeys(Value current, const QStringList &keys)
{
    for (const QString &key : keys) {
        if (!m_failure.isEmpty())
            break;
        current = applyKey(current, key);
    }
    return current;
}

TDWPredicateSqlTranslator::Value TDWPredicateSqlTranslator::applyKey(const Value &current, const QString &key)
{
    Value result;
    if (key == QLatin1String("@count")) {
        result.single.type = Type::Number;
        result.single.nullable = false;
        switch (current.kind) {
        case Value::Kind::Many:
            result.single.expr = cat({lit(QStringLiteral("(SELECT COUNT(*) FROM ")), current.many.from,
                                      lit(QStringLiteral(" WHERE ")), current.many.where, lit(QStringLiteral(")"))});
            return result;
        case Value::Kind::Aggregate:
            result.single = constantSingle(qlonglong(current.elements.size()));
            return result;
        case Value::Kind::Single:
            if (current.single.type == Type::Nil) {
                result.single = constantSingle(qlonglong(0));
                return result;
            }
            fail(QStringLiteral("@count needs a to-many relationship"));
            return result;
        }
    }
    switch (current.kind) {
    case Value::Kind::Aggregate:
        result.kind = Value::Kind::Aggregate;
        for (const Value &element : current.elements)
            result.elements.append(applyKey(element, key));
        return result;
    case Value::Kind::Single:
        // Keys of a value that is not a stored object (or of an object constant) are nil, as in memory.
        if (current.single.type != Type::Object || current.single.isConstant) {
            result.single = nilSingle();
            return result;
        }
        if (const auto relationship = m_schema.relationship(current.single.entity, key); relationship && relationship->toMany)
            return firstCollection(current.single, relationship->destinationEntity, relationship->inverseColumn);
        result.single = keyOfObject(current.single, key);
        return result;
    case Value::Kind::Many:
        break;
    }
    result = current;
    const Single &element = current.many.element;
    if (element.type != Type::Object || element.isConstant) {
        result.many.element = nilSingle();
        return result;
    }
    const auto relationship = m_schema.relationship(element.entity, key);
    if (!relationship || !relationship->toMany) {
        result.many.element = keyOfObject(element, key);
        return result;
    }
    // A further to-many step: a nil element stays one nil element, as in memory.
    const QString alias = newAlias();
    const QString destination = table(relationship->destinationEntity);
    const Sql link = cat({lit(QStringLiteral(" ON ") + alias + QLatin1Char('.') + quote(relationship->inverseColumn) + QStringLiteral(" = ")),
                          element.expr});
    const QString pk = alias + QLatin1Char('.') + quote(m_schema.primaryKeyColumn(relationship->destinationEntity));
    if (element.nullable) {
        result.many.from = cat({current.many.from, lit(QStringLiteral(" LEFT JOIN ") + destination + QLatin1Char(' ') + alias), link});
        result.many.where = cat({current.many.where, lit(QStringLiteral(" AND (") + pk + QStringLiteral(" IS NOT NULL OR ")),
                                 element.expr, lit(QStringLiteral(" IS NULL)"))});
    } else {
        result.many.from = cat({current.many.from, lit(QStringLiteral(" JOIN ") + destination + QLatin1Char(' ') + alias), link});
    }
    Single reached;
    reached.expr = lit(pk);
    reached.type = Type::Object;
    reached.entity = relationship->destinationEntity;
    reached.nullable = element.nullable;
    reached.alias = alias;
    result.many.element = reached;
    return result;
}

TDWPredicateSqlTranslator::Value TDWPredicateSqlTranslator::firstCollection(const Single &object, const QString &destination,
                                                                            const QString &inverse)
{
    Value result;
    result.kind = Value::Kind::Many;
    const QString alias = newAlias();
    result.many.from = lit(table(destination) + QLatin1Char(' ') + alias);
    result.many.where = cat({lit(alias + QLatin1Char('.') + quote(inverse) + QStringLiteral(" = ")), object.expr});
    if (object.nullable)
        result.many.anchorIsNull = cat({lit(QStringLiteral("(")), object.expr, lit(QStringLiteral(" IS NULL)"))});
    Single element;
    element.expr = lit(alias + QLatin1Char('.') + quote(m_schema.primaryKeyColumn(destination)));
    element.type = Type::Object;
    element.entity = destination;
    element.nullable = false;
    element.alias = alias;
    result.many.element = element;
    return result;
}

TDWPredicateSqlTranslator::Single TDWPredicateSqlTranslator::keyOfObject(const Single &object, const QString &key)
{
    Single result;
    QString column;
    if (const auto attribute = m_schema.attribute(object.entity, key)) {
        column = attribute->column;
        switch (attribute->type) {
        case QMetaType::QString:
            result.type = Type::String;
            break;
        case QMetaType::QDateTime:
            result.type = Type::Date;
            break;
        case QMetaType::QByteArray:
            result.type = Type::Data;
            break;
        default:
            if (!TDWNumber::kindOf(QMetaType(attribute->type))) {
                fail(QStringLiteral("the attribute %1 of %2 has a type predicates do not compare").arg(key, object.entity));
                return nilSingle();
            }
            result.type = Type::Number;
            break;
        }
    } else if (const auto relationship = m_schema.relationship(object.entity, key)) {
        column = relationship->sourceColumn;
        result.type = Type::Object;
        result.entity = relationship->destinationEntity;
    } else {
        fail(QStringLiteral("the entity %1 has no key %2").arg(object.entity, key));
        return nilSingle();
    }
    if (!object.alias.isEmpty()) {
        result.expr = lit(object.alias + QLatin1Char('.') + quote(column));
        return result;
    }
    const QString alias = newAlias();
    result.expr = cat({lit(QStringLiteral("(SELECT ") + alias + QLatin1Char('.') + quote(column) + QStringLiteral(" FROM ")
                           + table(object.entity) + QLatin1Char(' ') + alias + QStringLiteral(" WHERE ") + alias
                           + QLatin1Char('.') + quote(m_schema.primaryKeyColumn(object.entity)) + QStringLiteral(" = ")),
                       object.expr, lit(QStringLiteral(")"))});
    return result;
}
