#pragma once

#include "agent/TDWItemDownload.h"
#include "platform/foundation/TDWOperation.h"
#include "platform/http/TDWHttpRequest.h"
#include "platform/store/TDWManagedObjectID.h"

#include <QString>

#include <memory>
#include <mutex>

class TDWDocRev;
class TDWManagedObjectContext;

// The base of the operations that fetch or write the backup file of one item
// revision during a backup run, made by the name the service table gives under
// "exportOperationClass". It does no work of its own; it holds which revision
// and account the work is for, and the bookkeeping that ends every download:
// the file's lock, the export status, attempt date and failure text on the
// revision, the activity monitor's report, and the item folder's name.
//
// Every step takes its own store context, so the steps may run on whichever
// thread finishes a download, and concurrent downloads save independently. A
// failed download is never retried here: the next backup run selects the
// revision again.
class TDWExportOperation : public TDWOperation, public TDWItemDownload
{
    Q_OBJECT

public:
    // Why the monitor hears that a download stopped.
    enum StopReason : qint32 { Succeeded = 0, Failed = 1, Cancelled = 2 };

    TDWExportOperation(const TDWManagedObjectID &docRevObjectID, const QString &accountUsername);

    const TDWManagedObjectID &docRevObjectID() const { return m_docRevObjectID; }
    const QString &accountUsername() const { return m_accountUsername; }

    // After the revision's file was written: locks it as "lockBackupFiles"
    // says, records status 3 and renames the item folder when its title changed.
    void handleSuccessfulRetrieval();
    // After the download or the writing failed: logs, records status 2 (or 5
    // when the do-not-back-up rule matches the revision) with the text. A
    // failure the protocol layer reported gives its error as `cause`.
    void handleUnableToRetrieveDoc(const QString &failure, const TDWError &cause = {});
    TDWError failureCause() const override;
    // Records the status, now as the attempt date and the failure text (null
    // clears it), then tells the monitor. A revision gone from the store, a
    // failed save or a rule that does not parse is logged, and nothing is told.
    void saveRetrievalStatus(qint64 status, const QString &errorString);
    // saveRetrievalStatus() without the monitor's report; true when saved.
    bool storeRetrievalStatus(qint64 status, const QString &errorString);
    void considerDocDirRename();

    // The revision's file: the backed-up items folder of the item's service
    // joined with the revision's filePath.
    static QString fullPathOfDocRev(const TDWDocRev &rev);
    // Makes the folder that the file at `path` goes into, with its missing
    // parents (a revision folder removed by hand, say); false with the reason.
    static bool makeFolderForFile(const QString &path, QString *failure);

protected:
    // A GET of a content URL as Google wants it: "GData-Version" 3, and the
    // account's access token for the https hosts on Google's allowlist only,
    // redirects included, so a content URL from remote data cannot draw the
    // token anywhere else.
    TDWHttpRequest contentRequest(const QString &url) const;
    // The revision in `moc`, or null with the error's description in `*failure`.
    std::shared_ptr<TDWDocRev> fetchDocRev(TDWManagedObjectContext &moc, QString *failure) const;
    static std::unique_ptr<TDWManagedObjectContext> newMoc();

private:
    const TDWManagedObjectID m_docRevObjectID;
    const QString m_accountUsername;
    mutable std::mutex m_failureMutex; // guards m_failureCause, read by whoever waits for the download
    TDWError m_failureCause;
};
