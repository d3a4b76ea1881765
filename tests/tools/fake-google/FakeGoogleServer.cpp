#include "FakeGoogleServer.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QTemporaryFile>

#include <gtest/gtest.h>

namespace tdwtest {

namespace {

QString caDir()
{
    const QString base = qEnvironmentVariable("TDW_BINARY_ROOT", QDir::tempPath());
    return QDir(base).filePath(QStringLiteral("testca"));
}

bool makeTestCa(const QString &dir)
{
    QProcess process;
    process.start(sourcePath(QStringLiteral("tools/testca/make-testca.sh")), {dir});
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        ADD_FAILURE() << "make-testca.sh failed: " << process.readAllStandardError().toStdString();
        return false;
    }
    return true;
}

} // namespace

FakeGoogleServer::~FakeGoogleServer()
{
    stop();
}

QStringList FakeGoogleServer::mappedHosts()
{
    return {QStringLiteral("accounts.google.com"), QStringLiteral("www.googleapis.com"), QStringLiteral("oauth2.googleapis.com"),
            QStringLiteral("www.google.com"),      QStringLiteral("mail.google.com"),    QStringLiteral("docs.google.com"),
            QStringLiteral("picasaweb.google.com"), QStringLiteral("lh3.googleusercontent.com")};
}

bool FakeGoogleServer::start(const QJsonObject &scenario)
{
    const QString ca = caDir();
    if (!makeTestCa(ca))
        return false;
    QStringList args{sourcePath(QStringLiteral("tools/fake-google/fake_google.py")), QStringLiteral("--tls-dir"), ca,
                     QStringLiteral("--watch-stdin")};
    QTemporaryFile scenarioFile(QDir(freshDir(QStringLiteral("scenario"))).filePath(QStringLiteral("XXXXXX.json")));
    scenarioFile.setAutoRemove(false);
    if (!scenario.isEmpty()) {
        if (!scenarioFile.open()) {
            ADD_FAILURE() << "cannot write the scenario file";
            return false;
        }
        scenarioFile.write(QJsonDocument(scenario).toJson());
        scenarioFile.close();
        args << QStringLiteral("--scenario") << scenarioFile.fileName();
    }
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // The system interpreter starts in a fraction of the time a version
    // manager's shim takes; the fake needs nothing beyond the standard library.
    const QString python = QFile::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3") : QStringLiteral("python3");
    m_process.start(python, args);
    if (!m_process.waitForStarted(10000) || !m_process.waitForReadyRead(20000)) {
        ADD_FAILURE() << "the fake Google server did not start";
        return false;
    }
    const QJsonObject ports = QJsonDocument::fromJson(m_process.readLine()).object();
    m_httpPort = ports.value(QStringLiteral("http_port")).toInt();
    m_httpsPort = ports.value(QStringLiteral("https_port")).toInt();
    if (m_httpPort <= 0 || m_httpsPort <= 0) {
        ADD_FAILURE() << "the fake Google server did not report its ports";
        return false;
    }

    QStringList map;
    for (const QString &host : mappedHosts()) {
        map << QStringLiteral("%1:80=127.0.0.1:%2").arg(host).arg(m_httpPort);
        map << QStringLiteral("%1=127.0.0.1:%2").arg(host).arg(m_httpsPort);
    }
    qputenv("TDW_HOST_MAP", map.join(QLatin1Char(',')).toUtf8());
    qputenv("TDW_EXTRA_CA", QDir(ca).filePath(QStringLiteral("ca.pem")).toUtf8());
    return true;
}

void FakeGoogleServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QJsonDocument FakeGoogleServer::control(const QString &name, const QJsonDocument &body)
{
    const QByteArray payload = body.isNull() ? QByteArray() : body.toJson(QJsonDocument::Compact);
    QByteArray request = (body.isNull() ? "GET" : "POST") + QByteArray(" /_control/") + name.toUtf8() + " HTTP/1.1\r\n";
    request += "Host: 127.0.0.1\r\nConnection: close\r\nContent-Type: application/json\r\n";
    request += "Content-Length: " + QByteArray::number(payload.size()) + "\r\n\r\n" + payload;

    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(m_httpPort));
    if (!socket.waitForConnected(5000)) {
        ADD_FAILURE() << "cannot reach the fake's control port";
        return {};
    }
    socket.write(request);
    QByteArray answer;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(10000))
        answer += socket.readAll();
    answer += socket.readAll();
    const int split = answer.indexOf("\r\n\r\n");
    if (!answer.startsWith("HTTP/1.1 200") || split < 0) {
        ADD_FAILURE() << "control call " << name.toStdString() << " failed: " << answer.toStdString();
        return {};
    }
    return QJsonDocument::fromJson(answer.mid(split + 4));
}

void FakeGoogleServer::addFault(const QJsonObject &fault)
{
    control(QStringLiteral("fault"), QJsonDocument(fault));
}

void FakeGoogleServer::addAccount(const QJsonObject &account)
{
    control(QStringLiteral("account"), QJsonDocument(account));
}

void FakeGoogleServer::advanceClock(double seconds)
{
    control(QStringLiteral("clock"), QJsonDocument(QJsonObject{{QStringLiteral("advance"), seconds}}));
}

int FakeGoogleServer::nextRun()
{
    return control(QStringLiteral("run"), QJsonDocument(QJsonObject{})).object().value(QStringLiteral("run")).toInt();
}

QJsonArray FakeGoogleServer::requests()
{
    return control(QStringLiteral("requests")).array();
}

QJsonArray FakeGoogleServer::requestsTo(const QString &path)
{
    QJsonArray matching;
    for (const QJsonValue &entry : requests()) {
        if (entry.toObject().value(QStringLiteral("path")).toString() == path)
            matching.append(entry);
    }
    return matching;
}

void FakeGoogleServer::clearRequests()
{
    control(QStringLiteral("requests/clear"), QJsonDocument(QJsonObject{}));
}

} // namespace tdwtest
