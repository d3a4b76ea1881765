#include "mail/TDWImapConnectionMgr.h"

#include "accounts/TDWKeychainMgr.h"
#include "common/TDWServiceTable.h"
#include "common/TDWSettingsKeys.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/imap/TDWImapSession.h"

#include <QHash>

#include <mutex>

using namespace std::chrono_literals;

namespace {

constexpr int ImapsPort = 993;

struct Cache
{
    std::mutex mutex;
    QHash<QString, std::shared_ptr<TDWImapSession>> sessions;
};

Cache &cache()
{
    static Cache instance;
    return instance;
}

// "host", "host:port" or "[v6 address]:port"; a port that does not parse
// leaves the whole value as the host name, which then simply fails to connect.
std::pair<QString, int> serverAddress()
{
    TDWUserDefaults *defaults = TDWUserDefaults::standard();
    // Registered only when nobody has, so the application's own registration stands.
    if (!defaults->objectForKey(TDWSettingsKeys::Hostname).isValid())
        defaults->registerDefaults({{TDWSettingsKeys::Hostname, QStringLiteral("imap.gmail.com")}});
    const QString value = defaults->stringForKey(TDWSettingsKeys::Hostname).trimmed();

    const qsizetype colon = value.lastIndexOf(QLatin1Char(':'));
    const bool bracketed = value.startsWith(QLatin1Char('['));
    if (colon > 0 && (bracketed ? value.at(colon - 1) == QLatin1Char(']') : value.indexOf(QLatin1Char(':')) == colon)) {
        bool ok = false;
        const int port = value.mid(colon + 1).toInt(&ok);
        if (ok && port > 0 && port < 65536) {
            const QString host = value.left(colon);
            return {bracketed ? host.mid(1, host.size() - 2) : host, port};
        }
    }
    return {value, ImapsPort};
}

std::shared_ptr<TDWImapSession> newSession(const QString &username, const QString &accessToken)
{
    const auto [host, port] = serverAddress();
    auto session = TDWImapSession::create();
    // First, so that the TLS context is made once, with them.
    session->setCertificateAuthorityFile(qEnvironmentVariable("TDW_EXTRA_CA"));
    session->setHostname(host);
    session->setPort(port);
    session->setUsername(username);
    session->setConnectionType(TDWImapConnectionTypeTLS);
    session->setAuthType(TDWImapAuthTypeXOAuth2);
    session->setTimeout(double(TDWClock::duration(60s).count()) / 1000.0);
    session->setAllowsFolderConcurrentAccessEnabled(true);
    session->setOAuth2Token(accessToken);
    // A table without the level's value must not leave the session unable to connect at all.
    const int connections = TDWServiceTable::shared().getThrottleLevel().value(QStringLiteral("mailretrievalthreads")).toInt();
    session->setMaximumConnections(std::max(connections, 1));
    return session;
}

} // namespace

std::shared_ptr<TDWImapSession> TDWImapConnectionMgr::imapSessionForUsername(const QString &username, const QString &accessToken)
{
    Cache &c = cache();
    std::lock_guard lock(c.mutex);
    std::shared_ptr<TDWImapSession> &session = c.sessions[username];
    if (!session || session->OAuth2Token() != accessToken)
        session = newSession(username, accessToken);
    return session;
}

std::shared_ptr<TDWImapSession> TDWImapConnectionMgr::imapSessionForUsername(const QString &username)
{
    const std::shared_ptr<TDWCredential> credential = TDWKeychainMgr::keychainMgr()->credentialForUsername(username);
    if (!credential)
        return nullptr;
    return imapSessionForUsername(username, credential->accessToken());
}
