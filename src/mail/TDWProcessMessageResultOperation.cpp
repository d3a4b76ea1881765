#include "mail/TDWProcessMessageResultOperation.h"

#include "common/TDWFileMgr.h"
#include "common/TDWServiceIds.h"
#include "common/TDWSettingsKeys.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWMasterStore.h"
#include "mail/TDWMessageFile.h"
#include "platform/foundation/TDWFileLock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWPrivateFiles.h"
#include "platform/foundation/TDWUserDefaults.h"
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

} // namespace

TDWProcessMessageResultOperation::TDWProcessMessageResultOperation(const TDWManagedObjectID &docRevId, const QByteArray &data,
                                                                   const TDWError &inputError)
    : m_docRevId(docRevId)
    , m_data(data)
    , m_inputError(inputError)
{
}

void TDWProcessMessageResultOperation::main()
{
    try {
        if (!m_inputError.isNull())
            recordFailedDownload();
        else
            storeMessage();
    } catch (const std::exception &e) {
        tdwLog(QStringLiteral("ERROR: Unable to save message: %1").arg(QString::fromLocal8Bit(e.what())));
    }
}

void TDWProcessMessageResultOperation::recordFailedDownload()
{
    tdwLog(QStringLiteral("ERROR: Unable to retrieve message: %1").arg(m_inputError.localizedDescription()));
    if (const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc()) {
        const TDWContextReset resetOnExit{moc.get()};
        if (const auto revision = std::dynamic_pointer_cast<TDWDocRev>(moc->existingObjectWithID(m_docRevId, nullptr))) {
            revision->setExportStatus(TDWDocRev::DownloadFailed);
            save(*moc, QStringLiteral("ERROR: Unable to save failed download status: %1"));
        }
    }
    tellMonitorDownloadStopped(m_docRevId);
}

void TDWProcessMessageResultOperation::storeMessage()
{
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    const auto revision = moc ? std::dynamic_pointer_cast<TDWDocRev>(moc->existingObjectWithID(m_docRevId, nullptr)) : nullptr;
    const TDWContextReset resetOnExit{moc.get()};
    const QString itemsPath = TDWFileMgr::backedUpItemsPathForService(TDWServiceIds::Mail);
    // Revision paths are relative to the backup folder; without either there is nowhere to write.
    if (!revision || itemsPath.isEmpty() || revision->filePath().isEmpty()) {
        tdwLog(QStringLiteral("ERROR: Unable to find where to save message for %1").arg(m_docRevId.uriRepresentation().toString()));
        tellMonitorDownloadStopped(m_docRevId);
        return;
    }
    const QString path = QDir(itemsPath).filePath(revision->filePath());
    const QString folder = QFileInfo(path).path();
    // A folder that cannot be made leaves the stored status alone: a later pass asks again.
    if (!TDWPrivateFiles::makeFolder(folder)) {
        tdwLog(QStringLiteral("ERROR: Unable to create directory at %1: %2").arg(folder, QStringLiteral("the folder could not be created")));
        tellMonitorDownloadStopped(m_docRevId);
        return;
    }

    if (m_data.isEmpty()) {
        tdwLog(QStringLiteral("Unable to back up email with subject \"%1\" with date %2 to/from %3")
                   .arg(revision->title(), revision->lastModifiedDate().toString(Qt::ISODate), revision->who()));
        revision->setExportStatus(TDWDocRev::DownloadFailed);
    } else {
        TDWError error;
        if (TDWMessageFile::write(path, m_data, TDWMessageFile::flagWordFor(*revision), &error)) {
            revision->setExportStatus(TDWDocRev::BackedUp);
            TDWFileLock::setLocked(path, TDWUserDefaults::standard()->boolForKey(TDWSettingsKeys::LockBackupFiles));
        } else {
            tdwLog(QStringLiteral("ERROR: Failed to write message to “%1”").arg(path));
            revision->setExportStatus(TDWDocRev::DownloadFailed);
        }
        m_data.clear();
    }
    save(*moc, QStringLiteral("ERROR: Unable to save message status: %1"));
    tellMonitorDownloadStopped(m_docRevId);
}
