#include "services/TDWDriveListParser.h"

#include "platform/foundation/TDWLog.h"
#include "services/GDataDateTime.h"
#include "services/TDWJsonReader.h"

namespace {

using Json = nlohmann::json;
using R = TDWJsonReader;

// An integer, or a decimal string as some pages write it; NoChangeId when absent.
qint64 changeIdValue(const Json &page)
{
    const auto it = page.find("largestChangeId");
    if (it == page.end() || it->is_null())
        return TDWParser::NoChangeId;
    if (it->is_number_integer() && !it->is_number_unsigned())
        return it->get<std::int64_t>();
    if (it->is_number_unsigned() && it->get<std::uint64_t>() <= std::uint64_t(TDWParser::NoChangeId))
        return qint64(it->get<std::uint64_t>());
    if (it->is_string()) {
        bool ok = false;
        const qint64 value = QByteArray::fromStdString(it->get<std::string>()).toLongLong(&ok);
        if (ok)
            return value;
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
    const Json json = R::parse(page);
    if (!json.is_object())
        return false;
    try {
        const Json *items = R::optArray(json, "items");
        if (!items)
            return false;
        QList<TDWDocEntry> entries;
        for (const Json &item : *items) {
            if (!item.is_object())
                return false;
            std::optional<TDWDocEntry> entry;
            if (R::optString(item, "kind") == QLatin1String("drive#change")) {
                if (R::optBool(item, "deleted")) {
                    entry.emplace();
                    entry->setDocId(R::requiredString(item, "fileId"));
                    entry->setDeleted(true);
                } else {
                    // A change without its file reads as a file without a media type.
                    const Json *file = R::optObject(item, "file");
                    entry = docEntryForDict(file ? *file : Json::object());
                }
            } else {
                entry = docEntryForDict(item);
            }
            if (entry)
                entries.append(std::move(*entry));
        }
        const QString nextUrl = R::optString(json, "nextLink");
        const qint64 changeId = changeIdValue(json);
        m_entries = std::move(entries);
        m_nextUrl = nextUrl;
        m_numEntries = qint64(items->size());
        m_largestChangeId = changeId;
        return true;
    } catch (const R::TypeError &) {
        return false;
    }
}

std::optional<TDWDocEntry> TDWDriveListParser::docEntryForDict(const Json &file) const
{
    TDWDocEntry entry;
    const Json *labels = R::optObject(file, "labels");
    const Json noLabels = Json::object();
    const Json &labelSet = labels ? *labels : noLabels;

    if (R::optBool(labelSet, "trashed")) {
        entry.setDocId(R::requiredString(file, "id"));
        entry.setDeleted(true);
        return entry;
    }

    const QString mimeType = R::optString(file, "mimeType");
    const QString docType = docTypeByGoogleMimeType(mimeType);
    if (docType.isNull())
        return std::nullopt;
    const Json *exportLinks = R::optObject(file, "exportLinks");
    // A form can only be saved through one of its exports.
    if (docType == QLatin1String("form") && !exportLinks)
        return std::nullopt;

    entry.setDocId(R::requiredString(file, "id"));
    entry.setEtag(R::optString(file, "etag"));
    entry.setTitle(R::optString(file, "title"));
    entry.setMimeType(mimeType);
    entry.setDocType(docType);
    entry.setStarred(R::optBool(labelSet, "starred"));
    entry.setHidden(R::optBool(labelSet, "hidden"));
    entry.setViewedByMe(R::has(file, "lastViewedByMeDate"));
    entry.setLastModifiedName(R::optString(file, "lastModifyingUserName"));
    const QString modified = R::optString(file, "modifiedDate");
    if (!modified.isNull())
        entry.setLastModifiedDate(GDataDateTime(modified).date());

    QSet<QString> parents;
    if (const Json *parentList = R::optArray(file, "parents")) {
        for (const Json &parent : *parentList) {
            if (!parent.is_object())
                throw R::TypeError("a parent is not an object");
            // The root folder is never recorded as a parent.
            if (!R::optBool(parent, "isRoot"))
                parents.insert(R::requiredString(parent, "id"));
        }
    }
    entry.setParentFolderIds(parents);

    const QString exportLink = m_config->docTypeConfig(docType).value(QStringLiteral("exportLink")).toString();
    if (!exportLink.isEmpty())
        entry.setContentUrl(exportLinks ? R::optString(*exportLinks, exportLink.toUtf8().constData()) : QString());
    else
        entry.setContentUrl(R::optString(file, "downloadUrl"));

    entry.setJsonDictionary(R::toVariantMap(file));
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
