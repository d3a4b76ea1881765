#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

// The hosts that may receive an account's bearer token: https on the default
// port of one of these exact host names. Anything else (plain http, another
// port, a look-alike or sub-domain) is refused, so a token cannot leak to a
// host it was never meant for. An empty list allows nothing.
class TDWHttpHostAllowlist
{
public:
    TDWHttpHostAllowlist() = default;
    explicit TDWHttpHostAllowlist(const QStringList &hosts);

    bool allows(const QUrl &url) const;
    bool isEmpty() const { return m_hosts.isEmpty(); }
    QStringList hosts() const;

    // Host names compared as DNS does: case-insensitive, a trailing dot ignored.
    static QString normalizedHost(const QString &host);

private:
    QSet<QString> m_hosts;
};
