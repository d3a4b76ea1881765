#include "FakeGmailImap.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTcpSocket>

#include <gtest/gtest.h>

FakeGmailImap::~FakeGmailImap()
{
    stop();
}

bool FakeGmailImap::start(const QJsonObject &scenario)
{
    const QString scenarioPath = QDir(tdwtest::freshDir(QStringLiteral("fake-imap"))).filePath(QStringLiteral("scenario.json"));
    QFile file(scenarioPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(scenario).toJson()) < 0) {
        ADD_FAILURE() << "cannot write the scenario file";
        return false;
    }
    file.close();

    // One certificate authority for every fake of the build; the script reuses a valid one.
    const QString tlsDir = QDir(qEnvironmentVariable("TDW_BINARY_ROOT", QDir::tempPath())).filePath(QStringLiteral("testca"));
    // The system interpreter starts faster than a version manager's shim; the fake needs only the standard library.
    const QString python = QFile::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3") : QStringLiteral("python3");
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(python, {tdwtest::sourcePath(QStringLiteral("tools/fake-imap/fake_gmail_imap.py")), QStringLiteral("--scenario"),
                             scenarioPath, QStringLiteral("--tls-dir"), tlsDir, QStringLiteral("--exit-on-stdin-eof")});
    if (!m_process.waitForStarted(10000)) {
        ADD_FAILURE() << "cannot start the fake IMAP server";
        return false;
    }
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(60000)) {
            ADD_FAILURE() << "the fake IMAP server did not come up";
            return false;
        }
    }
    // "port=P control_port=Q ca_cert=PATH"
    for (const QString &pair : QString::fromUtf8(m_process.readLine()).trimmed().split(QLatin1Char(' '))) {
        const QString key = pair.section(QLatin1Char('='), 0, 0);
        const QString value = pair.section(QLatin1Char('='), 1);
        if (key == QLatin1String("port"))
            m_port = value.toInt();
        else if (key == QLatin1String("control_port"))
            m_controlPort = value.toInt();
        else if (key == QLatin1String("ca_cert"))
            m_caFile = value;
    }
    if (m_port <= 0 || m_caFile.isEmpty()) {
        ADD_FAILURE() << "the fake IMAP server did not say where it listens";
        return false;
    }
    return true;
}

void FakeGmailImap::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QJsonValue FakeGmailImap::control(const QJsonObject &request)
{
    const QByteArray body = QJsonDocument(request).toJson(QJsonDocument::Compact);
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(m_controlPort));
    if (!socket.waitForConnected(10000)) {
        ADD_FAILURE() << "cannot reach the fake IMAP server's control port";
        return {};
    }
    socket.write("POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: "
                 + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    QByteArray reply;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(30000))
        reply += socket.readAll();
    reply += socket.readAll();
    const QJsonObject answer = QJsonDocument::fromJson(reply.mid(reply.indexOf("\r\n\r\n") + 4)).object();
    if (!answer.value(QStringLiteral("ok")).toBool()) {
        ADD_FAILURE() << "the fake IMAP server refused " << body.toStdString() << ": " << reply.toStdString();
        return {};
    }
    return answer.value(QStringLiteral("result"));
}
