#pragma once

#include "platform/foundation/TDWError.h"

// Errors of parsing, evaluating and translating predicates (TDWPredicate).
namespace TDWPredicateError {

inline const QString Domain = QStringLiteral("TDWPredicateErrorDomain");

enum Code : qint64 {
    Parse = 1,          // a malformed format or an unusable argument
    Evaluation = 2,     // a predicate that cannot be evaluated on the subject
    SqlTranslation = 3, // a predicate that has no SQL form for the schema
};

inline TDWError make(Code code, const QString &description, QVariantMap userInfo = {})
{
    return TDWError::withDescription(Domain, code, description, std::move(userInfo));
}

} // namespace TDWPredicateError
