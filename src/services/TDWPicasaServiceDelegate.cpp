#include "services/TDWPicasaServiceDelegate.h"

#include "common/TDWServiceIds.h"
#include "common/TDWServiceTable.h"
#include "dataobjects/TDWDoc.h"
#include "platform/foundation/TDWLog.h"

#include <QUrl>

namespace {

// Item ids come from remote data; only the "/" between an album's and a
// photo's part is structure.
QString encodedPath(const QString &docId)
{
    QStringList segments = docId.split(QLatin1Char('/'));
    for (QString &segment : segments)
        segment = QString::fromLatin1(QUrl::toPercentEncoding(segment));
    return segments.join(QLatin1Char('/'));
}

} // namespace

void TDWPicasaServiceDelegate::docRevFound(const TDWDocRev::Ptr &docRev)
{
    if (docRev->doc()->docType() == QLatin1String("comment"))
        docRev->setExportStatus(TDWDocRev::NothingToDownload);
}

QString TDWPicasaServiceDelegate::picasaHost()
{
    return QUrl(TDWServiceTable::shared().serviceConfig(TDWServiceIds::PicasaWeb).listUrls.value(0).url).host();
}

std::optional<QList<TDWServiceConfig::ListUrl>> TDWPicasaServiceDelegate::moreLinksForBackupIteration(const TDWBackupIteration::Ptr &iteration,
                                                                                                      const TDWPersistentStorePtr &store,
                                                                                                      TDWManagedObjectContext &moc)
{
    if (m_moreLinksCounter >= 2)
        return QList<TDWServiceConfig::ListUrl>{};
    const bool albums = m_moreLinksCounter == 0;
    TDWError error;
    const std::optional<QList<TDWDocRev::Ptr>> seen = TDWDocRev::withPredicate(
        TDWPredicate::parse(QStringLiteral("doc.docType = %@ and lastSeenDate = %@"),
                            {albums ? QStringLiteral("album") : QStringLiteral("photo"), iteration->iterationStartTime()}),
        {store}, moc, &error);
    if (!seen) {
        tdwLog(QStringLiteral("ERROR: Unable to find current photos: %1").arg(error.localizedDescription()));
        return std::nullopt;
    }
    const QString format = QStringLiteral("https://%1/data/feed/api/user/default/albumid/%2?kind=%3");
    const QString host = picasaHost();
    QList<TDWServiceConfig::ListUrl> links;
    for (const TDWDocRev::Ptr &revision : *seen)
        links.append({format.arg(host, encodedPath(revision->doc()->docId()), albums ? QStringLiteral("photo") : QStringLiteral("comment")), {}});
    ++m_moreLinksCounter;
    return links;
}
