#include "mail/TDWProcessMessageResultOperation.h"

#include "common/TDWFileMgr.h"
#include "common/TDWServiceIds.h"
#include "common/TDWSettingsKeys.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWMasterStore.h"
#include "mail/TDWMessageFile.h"
#include "mail/TDWMessageFileWriter.h"
#include "platform/foundation/TDWFileLock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWPrivateFiles.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/imap/TDWImapError.h"
#include "platform/store/TDWContextReset.h"
#include "status/TDWActivityMonitor.h"

#include <QDir>
#include <QFileInfo>

#include <exception>

namespace {

// reason 1: the download is over, whatever came of it; it is not retried in this pass.
void tellMonitorDownloadStopped(const TDWManagedObjectID &docRevId)
{
    if (TDWActivityMonitor *monitor = TDWActivityMonitor::shared())
        monitor->downloadStoppedForDocRevObjectId(docRevId, 1, false);
}

void save(TDWManagedObjectContext &moc, const QString &failure)
{
    TDWError error;
    if (!moc.save(&error))
        tdwLog(failure.arg(error.localizedDescription()));
}

// The revision by its identifier, in `moc`.
std::shared_ptr<TDWDocRev> revisionIn(TDWManagedObjectContext *moc, const TDWManagedObjectID &docRevId)
{
    return moc ? std::dynamic_pointer_cast<TDWDocRev>(moc->existingObjectWithID(docRevId, nullptr)) : nullptr;
}

} // namespace

TDWProcessMessageResultOperation::TDWProcessMessageResultOperation(const TDWManagedObjectID &docRevId)
    : m_docRevId(docRevId)
{
}

std::unique_ptr<TDWMessageFileWriter> TDWProcessMessageResultOperation::prepareFile()
{
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    const TDWContextReset resetOnExit{moc.get()};
    const auto revision = revisionIn(moc.get(), m_docRevId);
    const QString itemsPath = TDWFileMgr::backedUpItemsPathForService(TDWServiceIds::Mail);
    // Revision paths are relative to the backup folder; without either there is nowhere to write.
    if (!revision || itemsPath.isEmpty() || revision->filePath().isEmpty()) {
        tdwLog(QStringLiteral("ERROR: Unable to find where to save message for %1").arg(m_docRevId.uriRepresentation().toString()));
        tellMonitorDownloadStopped(m_docRevId);
        return nullptr;
    }
    m_path = QDir(itemsPath).filePath(revision->filePath());
    const QString folder = QFileInfo(m_path).path();
    if (!TDWPrivateFiles::makeFolder(folder)) {
        tdwLog(QStringLiteral("ERROR: Unable to create directory at %1: %2").arg(folder, QStringLiteral("the folder could not be created")));
        tellMonitorDownloadStopped(m_docRevId);
        return nullptr;
    }
    return std::make_unique<TDWMessageFileWriter>(m_path, TDWMessageFile::flagWordFor(*revision));
}

void TDWProcessMessageResultOperation::main()
{
    try {
        if (!m_inputError.isNull())
            recordFailedDownload();
        else
            recordBackedUp();
    } catch (const std::exception &e) {
        tdwLog(QStringLiteral("ERROR: Unable to save message: %1").arg(QString::fromLocal8Bit(e.what())));
    }
}

void TDWProcessMessageResultOperation::recordFailedDownload()
{
    if (m_inputError.domain() == TDWImapError::Domain && m_inputError.code() == TDWImapError::File)
        tdwLog(QStringLiteral("ERROR: Failed to write message to “%1”").arg(m_path));
    else
        tdwLog(QStringLiteral("ERROR: Unable to retrieve message: %1").arg(m_inputError.localizedDescription()));
    if (const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc()) {
        const TDWContextReset resetOnExit{moc.get()};
        if (const auto revision = revisionIn(moc.get(), m_docRevId)) {
            revision->setExportStatus(TDWDocRev::DownloadFailed);
            save(*moc, QStringLiteral("ERROR: Unable to save failed download status: %1"));
        }
    }
    tellMonitorDownloadStopped(m_docRevId);
}

void TDWProcessMessageResultOperation::recordBackedUp()
{
    TDWFileLock::setLocked(m_path, TDWUserDefaults::standard()->boolForKey(TDWSettingsKeys::LockBackupFiles));
    if (const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc()) {
        const TDWContextReset resetOnExit{moc.get()};
        if (const auto revision = revisionIn(moc.get(), m_docRevId)) {
            revision->setExportStatus(TDWDocRev::BackedUp);
            save(*moc, QStringLiteral("ERROR: Unable to save message status: %1"));
        }
    }
    tellMonitorDownloadStopped(m_docRevId);
}
