#include "services/TDWExportOperation.h"

#include "accounts/TDWCredential.h"
#include "accounts/TDWGoogleEndpoints.h"
#include "accounts/TDWKeychainMgr.h"
#include "agent/TDWDocDirRenameHandler.h"
#include "common/TDWFileMgr.h"
#include "common/TDWSettingsKeys.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWFileLock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWPrivateFiles.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/predicate/TDWPredicate.h"
#include "platform/store/TDWContextReset.h"
#include "status/TDWActivityMonitor.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace {


// The status to store for `given`: a failure of a revision that the user's
// do-not-back-up rule matches becomes "excluded"; a success stays a success.
// Nullopt (with the reason) when the rule cannot be read.
std::optional<qint64> statusToStore(qint64 given, const TDWDocRev &rev, QString *reason)
{
    const QString rule = TDWUserDefaults::standard()->stringForKey(TDWSettingsKeys::DontBackupPredicate);
    if (given == TDWDocRev::BackedUp || rule.trimmed().isEmpty())
        return given;
    TDWError error;
    const TDWPredicate predicate = TDWPredicate::parse(rule, {}, &error);
    if (!error.isNull()) {
        *reason = error.description();
        return std::nullopt;
    }
    const bool excluded = predicate.evaluate(rev, &error);
    if (!error.isNull()) {
        *reason = error.description();
        return std::nullopt;
    }
    return excluded ? qint64(TDWDocRev::ExcludedByRule) : given;
}

} // namespace

TDWExportOperation::TDWExportOperation(const TDWManagedObjectID &docRevObjectID, const QString &accountUsername)
    : m_docRevObjectID(docRevObjectID)
    , m_accountUsername(accountUsername)
{
}

std::unique_ptr<TDWManagedObjectContext> TDWExportOperation::newMoc()
{
    return TDWMasterStore::shared().newMoc();
}

TDWHttpRequest TDWExportOperation::contentRequest(const QString &url) const
{
    TDWHttpRequest request{QUrl(url)};
    request.setHeader("GData-Version", "3");
    if (const std::shared_ptr<TDWCredential> credential = TDWKeychainMgr::keychainMgr()->credentialForUsername(m_accountUsername))
        request.setBearerToken(credential->accessToken().toUtf8(), TDWGoogleEndpoints::bearerHosts());
    return request;
}

std::shared_ptr<TDWDocRev> TDWExportOperation::fetchDocRev(TDWManagedObjectContext &moc, QString *failure) const
{
    TDWError error;
    auto rev = std::dynamic_pointer_cast<TDWDocRev>(moc.existingObjectWithID(m_docRevObjectID, &error));
    if (!rev)
        *failure = error.isNull() ? QStringLiteral("not a document revision") : error.description();
    return rev;
}

QString TDWExportOperation::fullPathOfDocRev(const TDWDocRev &rev)
{
    const std::shared_ptr<TDWDoc> doc = rev.doc();
    const QString items = TDWFileMgr::backedUpItemsPathForService(doc ? doc->service() : QString());
    return QDir(items).filePath(rev.filePath());
}

bool TDWExportOperation::makeFolderForFile(const QString &path, QString *failure)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (TDWPrivateFiles::makeFolder(folder))
        return true;
    *failure = QStringLiteral("Unable to create the folder “%1”").arg(folder);
    return false;
}

void TDWExportOperation::handleSuccessfulRetrieval()
{
    {
        const std::unique_ptr<TDWManagedObjectContext> moc = newMoc();
        TDWContextReset reset(moc.get());
        QString failure;
        const std::shared_ptr<TDWDocRev> rev = moc ? fetchDocRev(*moc, &failure) : nullptr;
        // A lock that cannot be set does not make the download a failure.
        if (rev)
            TDWFileLock::setLocked(fullPathOfDocRev(*rev), TDWUserDefaults::standard()->boolForKey(TDWSettingsKeys::LockBackupFiles));
    }
    saveRetrievalStatus(TDWDocRev::BackedUp, QString());
    considerDocDirRename();
}

void TDWExportOperation::handleUnableToRetrieveDoc(const QString &failure, const TDWError &cause)
{
    {
        std::lock_guard lock(m_failureMutex);
        m_failureCause = cause;
    }
    {
        const std::unique_ptr<TDWManagedObjectContext> moc = newMoc();
        TDWContextReset reset(moc.get());
        QString missing;
        const std::shared_ptr<TDWDocRev> rev = moc ? fetchDocRev(*moc, &missing) : nullptr;
        tdwLog(QStringLiteral("ERROR: Unable to download “%1” to “%2”: %3")
                   .arg(rev ? rev->contentUrl() : QString(), rev ? fullPathOfDocRev(*rev) : QString(), failure));
    }
    saveRetrievalStatus(TDWDocRev::DownloadFailed, failure);
}

TDWError TDWExportOperation::failureCause() const
{
    std::lock_guard lock(m_failureMutex);
    return m_failureCause;
}

void TDWExportOperation::saveRetrievalStatus(qint64 status, const QString &errorString)
{
    if (!storeRetrievalStatus(status, errorString))
        return;
    // The reason follows the outcome asked for, not the status stored.
    const StopReason why = status == TDWDocRev::BackedUp ? Succeeded : (isCancelled() ? Cancelled : Failed);
    if (TDWActivityMonitor *monitor = TDWActivityMonitor::shared())
        monitor->downloadStoppedForDocRevObjectId(m_docRevObjectID, why, false);
}

bool TDWExportOperation::storeRetrievalStatus(qint64 status, const QString &errorString)
{
    const std::unique_ptr<TDWManagedObjectContext> moc = newMoc();
    TDWContextReset reset(moc.get());
    QString failure = QStringLiteral("no store");
    const std::shared_ptr<TDWDocRev> rev = moc ? fetchDocRev(*moc, &failure) : nullptr;
    if (!rev) {
        tdwLog(QStringLiteral("ERROR: Unable to find docRev in TDWExportOperation: %1").arg(failure));
        return false;
    }
    QString reason;
    const std::optional<qint64> stored = statusToStore(status, *rev, &reason);
    if (!stored) {
        tdwLog(QStringLiteral("ERROR: Error in ExportOperation main: %1").arg(reason));
        return false;
    }
    rev->setExportStatus(*stored);
    rev->setLastExportAttemptDate(TDWClock::now());
    rev->setLastExportFailureError(errorString);
    TDWError error;
    if (!moc->save(&error)) {
        moc->rollback();
        tdwLog(QStringLiteral("ERROR: Error saving handleUnableToRetrieveDoc: %1").arg(error.description()));
        return false;
    }
    return true;
}

void TDWExportOperation::considerDocDirRename()
{
    TDWDocDirRenameHandler::considerDocDirRenameForDocRevId(m_docRevObjectID);
}
