#include "common/BKSErrorUtils.h"

#include "common/BKSShownError.h"
#include "common/BKSSimpleError.h"

TDWError BKSErrorUtils::simpleError(const QString &message)
{
    return message.isNull() ? TDWError(BKSSimpleError::Domain, BKSSimpleError::Simple) : BKSSimpleError::make(BKSSimpleError::Simple, message);
}

TDWError BKSErrorUtils::shownError(const QString &message)
{
    return message.isNull() ? TDWError(BKSShownError::Domain, BKSShownError::Shown) : BKSShownError::make(BKSShownError::Shown, message);
}
