#pragma once

#include "platform/foundation/TDWError.h"

// Errors of reading a JSON answer, in the domain "TDWJsonErrorDomain".
namespace TDWJsonError {

inline const QString Domain = QStringLiteral("TDWJsonErrorDomain");

enum Code : qint64 {
    Malformed = 1,   // not one JSON value in valid UTF-8 (truncated, bad syntax, a number out of range, ...)
    TooDeep = 2,     // arrays and objects nest deeper than the reader follows
    TooLarge = 3,    // more bytes than the reader takes
    NotAnObject = 4, // the value is valid JSON but not the object the answer must be
    WrongType = 5,   // a member the caller reads has another type than it must have
};

inline TDWError make(Code code, const QString &description, QVariantMap userInfo = {})
{
    return TDWError::withDescription(Domain, code, description, std::move(userInfo));
}

} // namespace TDWJsonError
