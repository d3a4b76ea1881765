#pragma once

#include "platform/foundation/TDWError.h"

// Errors of reading and writing property lists (TDWPropertyList).
namespace TDWPropertyListError {

inline const QString Domain = QStringLiteral("TDWPropertyList");

enum Code : qint64 {
    Corrupt = 1,     // not a well-formed property list, or a value that does not parse
    Unsupported = 2, // a value that has no property-list form
    FileRead = 3,
    FileWrite = 4,
};

inline TDWError make(Code code, const QString &description, QVariantMap userInfo = {})
{
    return TDWError::withDescription(Domain, code, description, std::move(userInfo));
}

} // namespace TDWPropertyListError
