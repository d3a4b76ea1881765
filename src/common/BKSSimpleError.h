#pragma once

#include "platform/foundation/TDWError.h"

// Errors handed back to a caller whose message is their whole content
// (BKSErrorUtils::simpleError), in the domain "Brackenmoor Software".
namespace BKSSimpleError {

inline const QString Domain = QStringLiteral("Brackenmoor Software");

enum Code : qint64 {
    Simple = 1000, // the only code: callers tell these errors apart by their message
};

inline TDWError make(Code code, const QString &description, QVariantMap userInfo = {})
{
    return TDWError::withDescription(Domain, code, description, std::move(userInfo));
}

} // namespace BKSSimpleError
