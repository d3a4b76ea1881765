#include "platform/http/TDWHttpEnvironment.h"

#include "platform/foundation/TDWLog.h"
#include "platform/http/TDWHttpHostAllowlist.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>

namespace {

bool isPort(const QString &text)
{
    bool ok = false;
    const int port = text.toInt(&ok);
    return ok && port > 0 && port < 65536;
}

bool isHostName(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9.-]+$"));
    return pattern.match(text).hasMatch();
}

// "host" or "[v6]" followed by ":port"; answers false when the shape is wrong.
bool splitHostPort(const QString &text, QString *host, QString *port)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    *host = text.left(colon);
    *port = text.mid(colon + 1);
    if (host->startsWith(QLatin1Char('[')))
        return host->endsWith(QLatin1Char(']')) && host->size() > 2 && isPort(*port);
    return isHostName(*host) && isPort(*port);
}

} // namespace

TDWHttpEnvironment TDWHttpEnvironment::fromProcessEnvironment()
{
    return fromStrings(qEnvironmentVariable("TDW_HOST_MAP"), qEnvironmentVariable("TDW_EXTRA_CA"));
}

TDWHttpEnvironment TDWHttpEnvironment::fromStrings(const QString &hostMap, const QString &extraCaFile)
{
    TDWHttpEnvironment env;
    for (const QString &entry : hostMap.split(QLatin1Char(','), Qt::SkipEmptyParts))
        env.addMapEntry(entry.trimmed());
    // libcurl takes the first entry that matches, so an entry for one port
    // must come before a host's catch-all entry.
    std::stable_partition(env.m_connectTo.begin(), env.m_connectTo.end(),
                          [](const QString &line) { return !line.section(QLatin1Char(':'), 1, 1).isEmpty(); });
    for (const QString &rejected : env.m_rejected)
        tdwLog(QStringLiteral("ERROR: Ignoring malformed host map entry \"%1\"").arg(rejected));

    env.m_extraCaFile = extraCaFile;
    if (!extraCaFile.isEmpty()) {
        QFile file(extraCaFile);
        if (file.open(QIODevice::ReadOnly))
            env.m_extraCaPem = file.readAll();
        else
            tdwLog(QStringLiteral("ERROR: Unable to read the extra CA file %1: %2").arg(extraCaFile, file.errorString()));
    }
    return env;
}

QString TDWHttpEnvironment::targetHost(const QString &host) const
{
    const QString name = TDWHttpHostAllowlist::normalizedHost(host);
    for (const QString &line : m_connectTo) {
        // "HOST:PORT:TARGET:TARGETPORT"; a bracketed IPv6 target holds colons of its own.
        if (line.section(QLatin1Char(':'), 0, 0) != name)
            continue;
        const QString target = line.section(QLatin1Char(':'), 2, -2);
        return target.startsWith(QLatin1Char('[')) ? target.mid(1, target.size() - 2) : target;
    }
    return host;
}

void TDWHttpEnvironment::addMapEntry(const QString &entry)
{
    const int equals = entry.indexOf(QLatin1Char('='));
    if (equals <= 0) {
        m_rejected.append(entry);
        return;
    }
    const QString source = entry.left(equals).trimmed();
    const QString target = entry.mid(equals + 1).trimmed();

    QString sourceHost = source;
    QString sourcePort;
    if (source.contains(QLatin1Char(':')) && !splitHostPort(source, &sourceHost, &sourcePort)) {
        m_rejected.append(entry);
        return;
    }
    QString targetHost;
    QString targetPort;
    if (!isHostName(sourceHost) || !splitHostPort(target, &targetHost, &targetPort)) {
        m_rejected.append(entry);
        return;
    }
    sourceHost = TDWHttpHostAllowlist::normalizedHost(sourceHost);
    m_connectTo.append(QStringLiteral("%1:%2:%3:%4").arg(sourceHost, sourcePort, targetHost, targetPort));
    if (!m_mappedHosts.contains(sourceHost))
        m_mappedHosts.append(sourceHost);
}
