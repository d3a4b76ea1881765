#include "services/TDWPicasaServiceDelegate.h"

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
    for (const QVariant &service : TDWServiceTable::shared().getConfig().value(QStringLiteral("services")).toList()) {
        const QVariantMap config = service.toMap();
        if (config.value(QStringLiteral("id")).toString() != QLatin1String("picasaweb"))
            continue;
        const QVariantMap first = config.value(QStringLiteral("listurls")).toList().value(0).toMap();
        return QUrl(first.value(QStringLiteral("url")).toString()).host();
    }
    return {};
}

std::optional<QList<QVariantMap>> TDWPicasaServiceDelegate::moreLinksForBackupIteration(const TDWBackupIteration::Ptr &iteration,
                                                                                        const TDWPersistentStorePtr &store,
                                                                                        TDWManagedObjectContext &moc)
{
    if (m_moreLinksCounter >= 2)
        return QList<QVariantMap>{};
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
    QList<QVariantMap> links;
    for (const TDWDocRev::Ptr &revision : *seen)
        links.append({{QStringLiteral("url"),
                       format.arg(host, encodedPath(revision->doc()->docId()), albums ? QStringLiteral("photo") : QStringLiteral("comment"))}});
    ++m_moreLinksCounter;
    return links;
}
