#include "services/TDWServiceDelegate.h"

bool TDWServiceDelegate::useEntry(const TDWDocEntry &, const TDWAccount::Ptr &)
{
    return true;
}

std::optional<QList<TDWServiceConfig::ListUrl>> TDWServiceDelegate::moreLinksForBackupIteration(const TDWBackupIteration::Ptr &,
                                                                                                const TDWPersistentStorePtr &,
                                                                                                TDWManagedObjectContext &)
{
    return QList<TDWServiceConfig::ListUrl>{};
}
