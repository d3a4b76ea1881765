#include "platform/http/TDWHttpHostAllowlist.h"

#include <algorithm>

TDWHttpHostAllowlist::TDWHttpHostAllowlist(const QStringList &hosts)
{
    for (const QString &host : hosts) {
        const QString normalized = normalizedHost(host);
        if (!normalized.isEmpty())
            m_hosts.insert(normalized);
    }
}

bool TDWHttpHostAllowlist::allows(const QUrl &url) const
{
    if (!url.isValid() || url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0)
        return false;
    if (url.port(443) != 443)
        return false;
    return m_hosts.contains(normalizedHost(url.host()));
}

QStringList TDWHttpHostAllowlist::hosts() const
{
    QStringList list(m_hosts.begin(), m_hosts.end());
    std::sort(list.begin(), list.end());
    return list;
}

QString TDWHttpHostAllowlist::normalizedHost(const QString &host)
{
    QString normalized = host.trimmed().toLower();
    if (normalized.endsWith(QLatin1Char('.')))
        normalized.chop(1);
    return normalized;
}
