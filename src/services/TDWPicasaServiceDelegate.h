#pragma once

#include "services/TDWServiceDelegate.h"

#include <QString>

// Picasa Web Albums: after the album list, one listing goes on with the photo
// feed of every album it saw, then the comment feed of every photo it saw.
class TDWPicasaServiceDelegate : public TDWServiceDelegate
{
public:
    // A comment has nothing to download.
    void docRevFound(const TDWDocRev::Ptr &docRev) override;
    // Photo feeds on the first call, comment feeds on the second, none after;
    // std::nullopt when the items seen cannot be fetched (the step is not counted).
    std::optional<QList<TDWServiceConfig::ListUrl>> moreLinksForBackupIteration(const TDWBackupIteration::Ptr &iteration,
                                                                                const TDWPersistentStorePtr &store,
                                                                                TDWManagedObjectContext &moc) override;

    // The host of the service table's Picasa Web Albums list URL.
    static QString picasaHost();

private:
    qint64 m_moreLinksCounter = 0;
};
