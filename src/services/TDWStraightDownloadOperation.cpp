#include "services/TDWStraightDownloadOperation.h"

#include "dataobjects/TDWDocRev.h"
#include "platform/foundation/TDWLog.h"
#include "platform/http/TDWHttpClient.h"
#include "platform/store/TDWContextReset.h"
#include "status/TDWActivityMonitor.h"

#include <QRegularExpression>

#include <limits>


QString TDWStraightDownloadOperation::filePath() const
{
    std::lock_guard lock(m_mutex);
    return m_filePath;
}

TDWHttpRequest::DownloadCheck TDWStraightDownloadOperation::downloadCheckFor(const TDWDocRev &rev)
{
    // Drive's file object as the listing gave it; other services list no size.
    const QVariantMap listed = rev.extensiblePropertyForKey(QStringLiteral("jsonDictionary")).toMap();
    TDWHttpRequest::DownloadCheck check;
    bool known = false;
    const qint64 size = listed.value(QStringLiteral("fileSize")).toString().toLongLong(&known);
    if (known && size >= 0 && size <= std::numeric_limits<qint64>::max() - SizeMargin) {
        check.size = size;
        check.limit = size + SizeMargin;
    } else {
        check.limit = UnknownSizeLimit;
    }
    static const QRegularExpression md5Form(QStringLiteral("^[0-9a-fA-F]{32}$"));
    const QString md5 = listed.value(QStringLiteral("md5Checksum")).toString();
    if (md5Form.match(md5).hasMatch())
        check.md5 = md5.toLatin1();
    return check;
}

void TDWStraightDownloadOperation::main()
{
    if (isCancelled())
        return;
    QString contentUrl;
    TDWHttpRequest::DownloadCheck check;
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
        check = downloadCheckFor(*rev);
    }
    if (TDWActivityMonitor *monitor = TDWActivityMonitor::shared())
        monitor->downloadBeganForDocRevObjectId(docRevObjectID());
    download(contentUrl, check);
}

void TDWStraightDownloadOperation::download(const QString &contentUrl, const TDWHttpRequest::DownloadCheck &check)
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
    request.setDownloadCheck(check);
    TDWHttpClient client;
    const TDWHttpResponse response = client.perform(request);
    if (!response.hasResponse())
        handleUnableToRetrieveDoc(response.error().description(), response.error());
    else if (response.statusCode() != 200)
        handleUnableToRetrieveDoc(QStringLiteral("Unexpected status: %1").arg(response.statusCode()), response.statusError());
    else
        handleSuccessfulRetrieval();
}
