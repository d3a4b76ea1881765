#pragma once

#include "platform/foundation/TDWError.h"

// Messages being shown to the user in an alert (BKSErrorUtils::shownError),
// in the domain "deradavadezo".
namespace BKSShownError {

inline const QString Domain = QStringLiteral("deradavadezo");

enum Code : qint64 {
    Shown = 0, // the only code: the message is what the user reads
};

inline TDWError make(Code code, const QString &description, QVariantMap userInfo = {})
{
    return TDWError::withDescription(Domain, code, description, std::move(userInfo));
}

} // namespace BKSShownError
