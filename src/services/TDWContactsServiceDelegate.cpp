#include "services/TDWContactsServiceDelegate.h"

#include "agent/TDWLockUnlockAllBackupFilesOperation.h"
#include "common/TDWFileMgr.h"
#include "common/TDWSettingsKeys.h"
#include "dataobjects/TDWDoc.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "services/TDWCardWriter.h"

void TDWContactsServiceDelegate::docRevFound(const TDWDocRev::Ptr &docRev)
{
    if (!docRev->photoEtag().isEmpty())
        return;
    if (TDWCardWriter(docRev).writeContactFile())
        docRev->setExportStatus(TDWDocRev::BackedUp);
    // Locking is best effort: a file that cannot be changed stays as it is.
    TDWLockUnlockAllBackupFilesOperation::lock(TDWUserDefaults::standard()->boolForKey(TDWSettingsKeys::LockBackupFiles),
                                               TDWFileMgr::backedUpItemsPathForService(docRev->doc()->service()) + QLatin1Char('/')
                                                   + docRev->filePath());
}
