#include "services/TDWDocEntry.h"

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
