#pragma once

#include "platform/foundation/TDWError.h"

// Errors of loading the service table, in the domain "TDWServiceTable". A
// file that cannot be read as a property list keeps the property list's error.
namespace TDWServiceTableError {

inline const QString Domain = QStringLiteral("TDWServiceTable");

enum Code : qint64 {
    NotADictionary = 1, // the file's root is not a dictionary
};

inline TDWError make(Code code, const QString &description, QVariantMap userInfo = {})
{
    return TDWError::withDescription(Domain, code, description, std::move(userInfo));
}

} // namespace TDWServiceTableError
