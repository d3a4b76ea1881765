#include "services/TDWDriveListParser.h"

#include "platform/foundation/TDWLog.h"
#include "services/GDataDateTime.h"
#include "platform/json/TDWJsonReader.h"

namespace {

constexpr std::string_view kKind = "kind";
constexpr std::string_view kDeleted = "deleted";
constexpr std::string_view kFileId = "fileId";
constexpr std::string_view kFile = "file";
constexpr std::string_view kNextLink = "nextLink";
constexpr std::string_view kLargestChangeId = "largestChangeId";
constexpr std::string_view kId = "id";
constexpr std::string_view kEtag = "etag";
constexpr std::string_view kTitle = "title";
constexpr std::string_view kMimeType = "mimeType";
constexpr std::string_view kLabels = "labels";
constexpr std::string_view kTrashed = "trashed";
constexpr std::string_view kStarred = "starred";
constexpr std::string_view kHidden = "hidden";
constexpr std::string_view kLastViewedByMeDate = "lastViewedByMeDate";
constexpr std::string_view kLastModifyingUserName = "lastModifyingUserName";
constexpr std::string_view kModifiedDate = "modifiedDate";
constexpr std::string_view kParents = "parents";
constexpr std::string_view kIsRoot = "isRoot";
constexpr std::string_view kExportLinks = "exportLinks";
constexpr std::string_view kDownloadUrl = "downloadUrl";
const QString kExportLink = QStringLiteral("exportLink");

// An integer, or a decimal string as some pages write it; NoChangeId when absent.
qint64 changeIdValue(const TDWJsonObject &page)
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
    throw TDWJsonObject::TypeError("largestChangeId is not a 64-bit integer");
}

} // namespace

TDWDriveListParser::TDWDriveListParser(std::shared_ptr<const TDWParserConfig> config) : m_config(std::move(config))
{
    if (!m_config)
        m_config = std::make_shared<const TDWParserConfig>();
}

bool TDWDriveListParser::parse(const QByteArray &page)
{
    TDWJsonReader reader;
    const std::optional<TDWJsonReader::ItemsPage> listPage = reader.readItemsPage(page, {"drive#fileList", "drive#changeList"});
    if (!listPage)
        return false;
    try {
        QList<TDWDocEntry> entries;
        entries.reserve(listPage->items.size());
        for (const TDWJsonObject &object : listPage->items) {
            std::optional<TDWDocEntry> entry;
            if (object.optString(kKind) == QLatin1String("drive#change")) {
                if (object.optBool(kDeleted)) {
                    entry.emplace();
                    entry->setDocId(object.requiredString(kFileId));
                    entry->setDeleted(true);
                } else {
                    // A change without its file reads as a file without a media type.
                    entry = docEntryForDict(object.optObject(kFile).value_or(TDWJsonObject()));
                }
            } else {
                entry = docEntryForDict(object);
            }
            if (entry)
                entries.append(std::move(*entry));
        }
        const QString nextUrl = listPage->object.optString(kNextLink);
        const qint64 changeId = changeIdValue(listPage->object);
        m_entries = std::move(entries);
        m_nextUrl = nextUrl;
        m_numEntries = listPage->items.size();
        m_largestChangeId = changeId;
        return true;
    } catch (const TDWJsonObject::TypeError &) {
        return false;
    }
}

std::optional<TDWDocEntry> TDWDriveListParser::docEntryForDict(const TDWJsonObject &file) const
{
    TDWDocEntry entry;
    const TDWJsonObject labels = file.optObject(kLabels).value_or(TDWJsonObject());

    if (labels.optBool(kTrashed)) {
        entry.setDocId(file.requiredString(kId));
        entry.setDeleted(true);
        return entry;
    }

    const QString mimeType = file.optString(kMimeType);
    const QString docType = docTypeByGoogleMimeType(mimeType);
    if (docType.isNull())
        return std::nullopt;
    const std::optional<TDWJsonObject> exportLinks = file.optObject(kExportLinks);
    // A form can only be saved through one of its exports.
    if (docType == QLatin1String("form") && !exportLinks)
        return std::nullopt;

    entry.setDocId(file.requiredString(kId));
    entry.setEtag(file.optString(kEtag));
    entry.setTitle(file.optString(kTitle));
    entry.setMimeType(mimeType);
    entry.setDocType(docType);
    entry.setStarred(labels.optBool(kStarred));
    entry.setHidden(labels.optBool(kHidden));
    entry.setViewedByMe(file.has(kLastViewedByMeDate));
    entry.setLastModifiedName(file.optString(kLastModifyingUserName));
    const QString modified = file.optString(kModifiedDate);
    if (!modified.isNull())
        entry.setLastModifiedDate(GDataDateTime(modified).date());

    QSet<QString> parents;
    for (const TDWJsonObject &reference : file.optObjectArray(kParents).value_or(QList<TDWJsonObject>())) {
        // The root folder is never recorded as a parent.
        if (!reference.optBool(kIsRoot))
            parents.insert(reference.requiredString(kId));
    }
    entry.setParentFolderIds(parents);

    const QString exportLink = m_config->docTypeConfig(docType).value(kExportLink).toString();
    if (!exportLink.isEmpty())
        entry.setContentUrl(exportLinks ? exportLinks->optString(exportLink.toStdString()) : QString());
    else
        entry.setContentUrl(file.optString(kDownloadUrl));

    entry.setJsonText(file.text());
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
