#include "services/TDWStraightDownloadOperation.h"

#include "dataobjects/TDWDocRev.h"
#include "platform/foundation/TDWLog.h"
#include "platform/http/TDWHttpClient.h"
#include "platform/store/TDWContextReset.h"
#include "status/TDWActivityMonitor.h"


QString TDWStraightDownloadOperation::filePath() const
{
    std::lock_guard lock(m_mutex);
    return m_filePath;
}

void TDWStraightDownloadOperation::main()
{
    if (isCancelled())
        return;
    QString contentUrl;
    {
        const std::unique_ptr<TDWManagedObjectContext> moc = newMoc();
        TDWContextReset reset(moc.get());
        QString failure = QStringLiteral("no store");
        const std::shared_ptr<TDWDocRev> rev = moc ? fetchDocRev(*moc, &failure) : nullptr;
        if (!rev) {
            tdwLog(QStringLiteral("ERROR: Unable to find docRev in TDWDocExportOperation: %1").arg(failure));
            return;
        }
        {
            std::lock_guard lock(m_mutex);
            m_filePath = fullPathOfDocRev(*rev);
        }
        contentUrl = rev->contentUrl();
        if (contentUrl.isEmpty()) {
            handleUnableToRetrieveDoc(QStringLiteral("No URL specified."));
            return;
        }
        if (rev->exportStatus() == TDWDocRev::ExcludedByRule)
            return;
    }
    if (TDWActivityMonitor *monitor = TDWActivityMonitor::shared())
        monitor->downloadBeganForDocRevObjectId(docRevObjectID());
    download(contentUrl);
}

void TDWStraightDownloadOperation::download(const QString &contentUrl)
{
    const QString path = filePath();
    // The temporary file is made beside the revision's file, so its folder comes first.
    QString failure;
    if (!makeFolderForFile(path, &failure)) {
        handleUnableToRetrieveDoc(failure);
        return;
    }
    TDWHttpRequest request = contentRequest(contentUrl);
    request.setDownloadPath(path);
    TDWHttpClient client;
    const TDWHttpResponse response = client.perform(request);
    if (!response.hasResponse())
        handleUnableToRetrieveDoc(response.error().description());
    else if (response.statusCode() != 200)
        handleUnableToRetrieveDoc(QStringLiteral("Unexpected status: %1").arg(response.statusCode()));
    else
        handleSuccessfulRetrieval();
}
