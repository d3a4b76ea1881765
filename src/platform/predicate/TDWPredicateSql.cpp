#include "platform/predicate/TDWPredicateSql.h"

#include "platform/foundation/TDWNumber.h"
#include "platform/predicate/TDWPredicateOperators.h"

#include <sqlite3.h>

#include <cmath>

namespace {

constexpr qint64 ReferenceDateMSecs = qint64(978307200) * 1000;

QVariant toVariant(sqlite3_value *value)
{
    switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
        return QVariant(qlonglong(sqlite3_value_int64(value)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_value_double(value));
    case SQLITE_TEXT:
        return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_value_text(value)), sqlite3_value_bytes(value));
    case SQLITE_BLOB:
        return QByteArray(static_cast<const char *>(sqlite3_value_blob(value)), sqlite3_value_bytes(value));
    default:
        return {};
    }
}

// tdw_predicate_test(operator, options, lhs, rhs): one comparison operator, 0 or 1.
void predicateTest(sqlite3_context *context, int, sqlite3_value **arguments)
{
    const int op = sqlite3_value_int(arguments[0]);
    if (op < int(TDWPredicateTree::Operator::Equal) || op > int(TDWPredicateTree::Operator::Contains)) {
        sqlite3_result_error(context, "tdw_predicate_test: unknown operator", -1);
        return;
    }
    const bool result = TDWPredicateOperators::test(TDWPredicateTree::Operator(op), sqlite3_value_int(arguments[1]),
                                                    toVariant(arguments[2]), toVariant(arguments[3]));
    sqlite3_result_int(context, result ? 1 : 0);
}

// tdw_predicate_fold(text, options): text folded as [c]/[d] fold it; other values unchanged.
void predicateFold(sqlite3_context *context, int, sqlite3_value **arguments)
{
    if (sqlite3_value_type(arguments[0]) != SQLITE_TEXT) {
        sqlite3_result_value(context, arguments[0]);
        return;
    }
    const QByteArray folded = TDWPredicateOperators::fold(toVariant(arguments[0]).toString(), sqlite3_value_int(arguments[1])).toUtf8();
    sqlite3_result_text(context, folded.constData(), int(folded.size()), SQLITE_TRANSIENT);
}

} // namespace

namespace TDWPredicateSql {

bool registerFunctions(sqlite3 *db)
{
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    return sqlite3_create_function_v2(db, "tdw_predicate_test", 4, flags, nullptr, predicateTest, nullptr, nullptr, nullptr) == SQLITE_OK
        && sqlite3_create_function_v2(db, "tdw_predicate_fold", 2, flags, nullptr, predicateFold, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool bindValues(sqlite3_stmt *statement, int firstIndex, const QVariantList &bindings)
{
    int index = firstIndex;
    for (const QVariant &value : bindings) {
        int rc = SQLITE_OK;
        if (const std::optional<TDWNumber> number = TDWNumber::of(value)) {
            // SQLite holds no integer beyond the signed 64-bit range; binding one as
            // anything else would change its value.
            const std::optional<qint64> integer = number->toSigned();
            if (number->isInteger() && !integer)
                return false;
            rc = integer ? sqlite3_bind_int64(statement, index, *integer) : sqlite3_bind_double(statement, index, number->toDouble());
        } else {
            switch (value.metaType().id()) {
            case QMetaType::QString: {
                const QByteArray text = value.toString().toUtf8();
                rc = sqlite3_bind_text(statement, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
                break;
            }
            case QMetaType::QByteArray: {
                const QByteArray data = value.toByteArray();
                rc = sqlite3_bind_blob(statement, index, data.constData(), int(data.size()), SQLITE_TRANSIENT);
                break;
            }
            default:
                rc = sqlite3_bind_null(statement, index);
                break;
            }
        }
        if (rc != SQLITE_OK)
            return false;
        ++index;
    }
    return true;
}

double secondsSinceReferenceDate(const QDateTime &date)
{
    return double(date.toMSecsSinceEpoch() - ReferenceDateMSecs) / 1000.0;
}

QDateTime dateFromSecondsSinceReferenceDate(double seconds)
{
    return QDateTime::fromMSecsSinceEpoch(std::llround(seconds * 1000.0) + ReferenceDateMSecs, Qt::UTC);
}

} // namespace TDWPredicateSql
