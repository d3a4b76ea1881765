#include "services/TDWCalendarServiceDelegate.h"

#include "common/TDWSettingsKeys.h"
#include "platform/foundation/TDWUserDefaults.h"

void TDWCalendarServiceDelegate::docRevFound(const TDWDocRev::Ptr &)
{
}

bool TDWCalendarServiceDelegate::useEntry(const TDWDocEntry &entry, const TDWAccount::Ptr &)
{
    const QString &role = entry.accessRole();
    switch (TDWUserDefaults::standard()->integerForKey(TDWSettingsKeys::CalendarAccessLevel)) {
    case 2:
        return role != QLatin1String("freeBusyReader");
    case 1:
        return role == QLatin1String("owner") || role == QLatin1String("root");
    default:
        return true;
    }
}
