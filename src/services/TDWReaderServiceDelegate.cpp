#include "services/TDWReaderServiceDelegate.h"

#include "common/TDWFileMgr.h"
#include "common/TDWServiceIds.h"
#include "dataobjects/TDWDoc.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWPrivateFiles.h"
#include "platform/foundation/TDWPropertyList.h"
#include "platform/foundation/TDWSafeFile.h"
#include "platform/xattr/NDResourceFork.h"

namespace {

constexpr qint16 BookmarkResourceId = 256;

} // namespace

TDWReaderServiceDelegate::TDWReaderServiceDelegate()
    : m_serviceBackupsDir(TDWFileMgr::backedUpItemsPathForService(TDWServiceIds::Reader))
{
}

QString TDWReaderServiceDelegate::bookmarkUrl(const TDWDocRev::Ptr &docRev)
{
    const TDWDoc::Ptr doc = docRev->doc();
    if (doc->docType() == QLatin1String("subscription") && !doc->docId().startsWith(QLatin1String("webfeed/")))
        return QStringLiteral("feed:") + doc->docId().mid(5);
    return docRev->contentUrl();
}

void TDWReaderServiceDelegate::docRevFound(const TDWDocRev::Ptr &docRev)
{
    const QString url = bookmarkUrl(docRev);
    const QString path = m_serviceBackupsDir + QLatin1Char('/') + docRev->filePath();
    // An item without URL has no bookmark to write; it stays pending like any failed write.
    const QByteArray plist = url.isEmpty() ? QByteArray() : TDWPropertyList::write(QVariantMap{{QStringLiteral("URL"), url}}, nullptr);
    if (plist.isEmpty() || !TDWSafeFile::write(path, plist, nullptr, TDWPrivateFiles::FileMode)) {
        tdwLog(QStringLiteral("ERROR: Unable to write bookmark file to %1").arg(path));
        return;
    }
    // The file holds the bookmark; its resources repeat it for finders that
    // read them, and a file system without extended attributes (the close
    // logs why) must not keep the item pending for ever.
    if (std::unique_ptr<NDResourceFork> fork = NDResourceFork::resourceForkForWritingAtPath(path)) {
        fork->addData(url.toUtf8(), NDResourceFork::fourCharCode("TEXT"), BookmarkResourceId, QString());
        fork->addData(url.toUtf8(), NDResourceFork::fourCharCode("url "), BookmarkResourceId, QString());
        fork->addData(docRev->title().toUtf8(), NDResourceFork::fourCharCode("urln"), BookmarkResourceId, QString());
        fork->closeFile();
    }
    docRev->setExportStatus(TDWDocRev::BackedUp);
}
