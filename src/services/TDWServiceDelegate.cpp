#include "services/TDWServiceDelegate.h"

bool TDWServiceDelegate::useEntry(const TDWDocEntry &, const TDWAccount::Ptr &)
{
    return true;
}

std::optional<QList<QVariantMap>> TDWServiceDelegate::moreLinksForBackupIteration(const TDWBackupIteration::Ptr &,
                                                                                  const TDWPersistentStorePtr &,
                                                                                  TDWManagedObjectContext &)
{
    return QList<QVariantMap>{};
}
