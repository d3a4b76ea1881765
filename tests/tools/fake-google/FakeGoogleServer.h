#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>

namespace tdwtest {

// The fake Google server (tools/fake-google) as a child process of a test.
// start() also points the HTTP layer at it: TDW_HOST_MAP sends the Google
// host names (https, and http on port 80) to its ports on 127.0.0.1 and
// TDW_EXTRA_CA trusts the test CA, so tests keep the production URLs.
// Control calls go over a plain socket, not through the client under test.
class FakeGoogleServer
{
public:
    FakeGoogleServer() = default;
    ~FakeGoogleServer();

    // False (with a test failure added) when the server did not come up.
    bool start(const QJsonObject &scenario = {});
    void stop();

    int httpPort() const { return m_httpPort; }
    int httpsPort() const { return m_httpsPort; }

    // POST /_control/<name> with `body` (GET when body is null); the answer's JSON.
    QJsonDocument control(const QString &name, const QJsonDocument &body = {});
    void addFault(const QJsonObject &fault);
    void addAccount(const QJsonObject &account);
    void advanceClock(double seconds);
    // Applies the scenario's next run of list changes; the number of runs applied so far.
    int nextRun();
    QJsonArray requests();
    // The logged requests for that path (any host), in arrival order.
    QJsonArray requestsTo(const QString &path);
    void clearRequests();

    // The Google host names the host map covers.
    static QStringList mappedHosts();

private:
    QProcess m_process;
    int m_httpPort = 0;
    int m_httpsPort = 0;
};

} // namespace tdwtest
