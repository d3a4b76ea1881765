#include "common/BKSErrorUtils.h"

#include "common/BKSShownError.h"
#include "common/BKSSimpleError.h"

namespace {

TDWError errorWithMessage(const QString &domain, qint64 code, const QString &message)
{
    if (message.isNull())
        return TDWError(domain, code);
    return TDWError::withDescription(domain, code, message);
}

} // namespace

TDWError BKSErrorUtils::simpleError(const QString &message)
{
    return errorWithMessage(BKSSimpleError::Domain, BKSSimpleError::Simple, message);
}

TDWError BKSErrorUtils::shownError(const QString &message)
{
    return errorWithMessage(BKSShownError::Domain, BKSShownError::Shown, message);
}
