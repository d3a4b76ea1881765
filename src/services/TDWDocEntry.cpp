#include "services/TDWDocEntry.h"

#include "platform/json/TDWJsonReader.h"

namespace {

QString orNull(const QString &value)
{
    return value.isNull() ? QStringLiteral("(null)") : value;
}

} // namespace

QString TDWDocEntry::description() const
{
    return QStringLiteral("DocEntry:  docId: %1, etag: %2, title: %3, docType: %4")
        .arg(orNull(m_docId), orNull(m_etag), orNull(m_title), orNull(m_docType));
}

QVariantMap TDWDocEntry::jsonDictionary() const
{
    if (m_jsonText.isEmpty())
        return {};
    return TDWJsonReader::parse(m_jsonText).value_or(QVariant()).toMap();
}

bool TDWDocEntry::jsonDictionaryMatches(const QVariant &value) const
{
    if (value.metaType().id() != QMetaType::QVariantMap || static_cast<const QVariantMap *>(value.constData())->isEmpty())
        return false;
    return TDWJsonReader::matches(m_jsonText, value);
}
