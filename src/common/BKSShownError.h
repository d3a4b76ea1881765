#pragma once

#include "platform/foundation/TDWError.h"

// Messages being shown to the user in an alert (BKSErrorUtils::shownError),
// in the domain "deradavadezo".
namespace BKSShownError {

inline const QString Domain = QStringLiteral("deradavadezo");

enum Code : qint64 {
    Shown = 0, // the only code: the message is what the user reads
};

} // namespace BKSShownError
