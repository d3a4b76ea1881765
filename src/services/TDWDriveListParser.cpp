#include "services/TDWDriveListParser.h"

#include "platform/foundation/TDWLog.h"
#include "services/GDataDateTime.h"
#include "services/TDWJsonReader.h"

namespace {

using R = TDWJsonReader;

// Keys are built once: lookups with them allocate nothing.
const QString kKind = QStringLiteral("kind");
const QString kDeleted = QStringLiteral("deleted");
const QString kFileId = QStringLiteral("fileId");
const QString kFile = QStringLiteral("file");
const QString kNextLink = QStringLiteral("nextLink");
const QString kLargestChangeId = QStringLiteral("largestChangeId");
const QString kId = QStringLiteral("id");
const QString kEtag = QStringLiteral("etag");
const QString kTitle = QStringLiteral("title");
const QString kMimeType = QStringLiteral("mimeType");
const QString kLabels = QStringLiteral("labels");
const QString kTrashed = QStringLiteral("trashed");
const QString kStarred = QStringLiteral("starred");
const QString kHidden = QStringLiteral("hidden");
const QString kLastViewedByMeDate = QStringLiteral("lastViewedByMeDate");
const QString kLastModifyingUserName = QStringLiteral("lastModifyingUserName");
const QString kModifiedDate = QStringLiteral("modifiedDate");
const QString kParents = QStringLiteral("parents");
const QString kIsRoot = QStringLiteral("isRoot");
const QString kExportLinks = QStringLiteral("exportLinks");
const QString kExportLink = QStringLiteral("exportLink");
const QString kDownloadUrl = QStringLiteral("downloadUrl");

// An integer, or a decimal string as some pages write it; NoChangeId when absent.
qint64 changeIdValue(const QVariantMap &page)
{
    const QVariant value = page.value(kLargestChangeId);
    if (value.isNull())
        return TDWParser::NoChangeId;
    if (value.typeId() == QMetaType::LongLong)
        return value.toLongLong();
    if (value.typeId() == QMetaType::QString) {
        bool ok = false;
        const qint64 number = value.toString().toLongLong(&ok);
        if (ok)
            return number;
    }
    throw R::TypeError("largestChangeId is not a 64-bit integer");
}

} // namespace

TDWDriveListParser::TDWDriveListParser(std::shared_ptr<const TDWParserConfig> config) : m_config(std::move(config))
{
    if (!m_config)
        m_config = std::make_shared<const TDWParserConfig>();
}

bool TDWDriveListParser::parse(const QByteArray &page)
{
    const std::optional<R::ItemsPage> listPage = R::parseItemsPage(page);
    if (!listPage)
        return false;
    const QVariantMap &pageObject = listPage->object;
    try {
        QList<TDWDocEntry> entries;
        entries.reserve(listPage->items.size());
        for (const QVariantMap &object : listPage->items) {
            std::optional<TDWDocEntry> entry;
            if (R::optString(object, kKind) == QLatin1String("drive#change")) {
                if (R::optBool(object, kDeleted)) {
                    entry.emplace();
                    entry->setDocId(R::requiredString(object, kFileId));
                    entry->setDeleted(true);
                } else {
                    // A change without its file reads as a file without a media type.
                    entry = docEntryForDict(R::optObject(object, kFile).value_or(QVariantMap()));
                }
            } else {
                entry = docEntryForDict(object);
            }
            if (entry)
                entries.append(std::move(*entry));
        }
        const QString nextUrl = R::optString(pageObject, kNextLink);
        const qint64 changeId = changeIdValue(pageObject);
        m_entries = std::move(entries);
        m_nextUrl = nextUrl;
        m_numEntries = listPage->items.size();
        m_largestChangeId = changeId;
        return true;
    } catch (const R::TypeError &) {
        return false;
    }
}

std::optional<TDWDocEntry> TDWDriveListParser::docEntryForDict(const QVariantMap &file) const
{
    TDWDocEntry entry;
    const QVariantMap labels = R::optObject(file, kLabels).value_or(QVariantMap());

    if (R::optBool(labels, kTrashed)) {
        entry.setDocId(R::requiredString(file, kId));
        entry.setDeleted(true);
        return entry;
    }

    const QString mimeType = R::optString(file, kMimeType);
    const QString docType = docTypeByGoogleMimeType(mimeType);
    if (docType.isNull())
        return std::nullopt;
    const std::optional<QVariantMap> exportLinks = R::optObject(file, kExportLinks);
    // A form can only be saved through one of its exports.
    if (docType == QLatin1String("form") && !exportLinks)
        return std::nullopt;

    entry.setDocId(R::requiredString(file, kId));
    entry.setEtag(R::optString(file, kEtag));
    entry.setTitle(R::optString(file, kTitle));
    entry.setMimeType(mimeType);
    entry.setDocType(docType);
    entry.setStarred(R::optBool(labels, kStarred));
    entry.setHidden(R::optBool(labels, kHidden));
    entry.setViewedByMe(R::has(file, kLastViewedByMeDate));
    entry.setLastModifiedName(R::optString(file, kLastModifyingUserName));
    const QString modified = R::optString(file, kModifiedDate);
    if (!modified.isNull())
        entry.setLastModifiedDate(GDataDateTime(modified).date());

    QSet<QString> parents;
    for (const QVariant &parent : R::optArray(file, kParents).value_or(QVariantList())) {
        if (!R::isObject(parent))
            throw R::TypeError("a parent is not an object");
        const QVariantMap reference = parent.toMap();
        // The root folder is never recorded as a parent.
        if (!R::optBool(reference, kIsRoot))
            parents.insert(R::requiredString(reference, kId));
    }
    entry.setParentFolderIds(parents);

    const QString exportLink = m_config->docTypeConfig(docType).value(kExportLink).toString();
    if (!exportLink.isEmpty())
        entry.setContentUrl(exportLinks ? R::optString(*exportLinks, exportLink) : QString());
    else
        entry.setContentUrl(R::optString(file, kDownloadUrl));

    entry.setJsonDictionary(file);
    return entry;
}

QString TDWDriveListParser::docTypeByGoogleMimeType(const QString &mimeType) const
{
    if (mimeType.isNull()) {
        tdwLog(QStringLiteral("ERROR: No mime type specified."));
        return {};
    }
    const QString docType = m_config->docTypeForGoogleMimeType(mimeType);
    if (!docType.isNull())
        return docType;
    if (mimeType.startsWith(QLatin1String("application/vnd.google-apps."))) {
        tdwLog(QStringLiteral("Unsupported Google Apps MIME type: %1. Ignoring item.").arg(mimeType));
        return {};
    }
    return QStringLiteral("file");
}
