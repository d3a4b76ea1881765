#include "services/TDWContactExportOperation.h"

#include "common/BKSExpBackoffConnectionDelegateWrapper.h"
#include "dataobjects/TDWDocRev.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/store/TDWContextReset.h"
#include "services/TDWCardWriter.h"
#include "status/TDWActivityMonitor.h"

void TDWContactExportOperation::cancel()
{
    TDWExportOperation::cancel();
    std::lock_guard lock(m_mutex);
    m_cancelled.notify_all();
}

void TDWContactExportOperation::main()
{
    if (isCancelled())
        return;
    QString photoUrl;
    {
        const std::unique_ptr<TDWManagedObjectContext> moc = newMoc();
        TDWContextReset reset(moc.get());
        QString failure = QStringLiteral("no store");
        const std::shared_ptr<TDWDocRev> rev = moc ? fetchDocRev(*moc, &failure) : nullptr;
        if (!rev) {
            tdwLog(QStringLiteral("ERROR: Unable to find docRev in TDWContactExportOperation: %1").arg(failure));
            return;
        }
        if (rev->exportStatus() == TDWDocRev::ExcludedByRule)
            return;
        if (TDWActivityMonitor *monitor = TDWActivityMonitor::shared())
            monitor->downloadBeganForDocRevObjectId(docRevObjectID());
        if (rev->photoEtag().isEmpty()) {
            writeCard(std::nullopt, QString());
            return;
        }
        photoUrl = rev->contentUrl();
    }
    fetchPhotoAndWriteCard(photoUrl);
}

void TDWContactExportOperation::fetchPhotoAndWriteCard(const QString &contentUrl)
{
    TDWHttpRequest request = contentRequest(contentUrl);
    request.setTotalTimeout(PhotoTimeout);
    const auto photo = std::make_shared<BKSExpBackoffConnectionDelegateWrapper>(request);
    const TDWHttpResponse response = photo->run();
    if (!response.hasResponse()) {
        // A cancelled operation whose photo could not be had records nothing.
        if (!isCancelled())
            handleUnableToRetrieveDoc(response.error().description(), response.error());
        return;
    }
    const int status = response.statusCode();
    if (status != 200 && status != 404) {
        handleUnableToRetrieveDoc(tr("ERROR: Unexpected status code (%1) when retrieving contact image.").arg(status), response.statusError());
        return;
    }
    // A photo that is gone (404) leaves a card without one.
    if (status == 200)
        writeCard(response.body(), QString::fromUtf8(response.header("Content-Type")));
    else
        writeCard(std::nullopt, QString());
    pauseAfterPhoto();
}

void TDWContactExportOperation::writeCard(const std::optional<QByteArray> &imageData, const QString &contentType)
{
    bool written = false;
    {
        const std::unique_ptr<TDWManagedObjectContext> moc = newMoc();
        TDWContextReset reset(moc.get());
        QString failure;
        const std::shared_ptr<TDWDocRev> rev = moc ? fetchDocRev(*moc, &failure) : nullptr;
        if (rev && makeFolderForFile(fullPathOfDocRev(*rev), &failure)) {
            TDWCardWriter writer(rev);
            if (imageData)
                writer.setImageData(*imageData, contentType);
            written = writer.writeContactFile();
        }
    }
    if (written)
        handleSuccessfulRetrieval();
    else
        handleUnableToRetrieveDoc(tr("Error writing VCard file"));
}

void TDWContactExportOperation::pauseAfterPhoto()
{
    std::unique_lock lock(m_mutex);
    m_cancelled.wait_for(lock, TDWClock::duration(PhotoPause), [this] { return isCancelled(); });
}
