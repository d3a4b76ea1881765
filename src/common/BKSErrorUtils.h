#pragma once

#include "platform/foundation/TDWError.h"

#include <QString>

// The program's two kinds of error value (domains in BKSSimpleError.h and
// BKSShownError.h). Callers compare no codes: the domains only tell the kinds
// apart. The alerts that show them are BKSErrorAlerts (src/ui).
class BKSErrorUtils
{
public:
    // A null message gives an error without user-info entries; any other
    // message (empty too) becomes the localized description.
    static TDWError simpleError(const QString &message);
    // The error that BKSErrorAlerts::showError presents, for sheets that callers build themselves.
    static TDWError shownError(const QString &message);
};
