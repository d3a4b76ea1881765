#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QProcess>
#include <QString>

// The fake Gmail IMAP server (tools/fake-imap) as a child process of a test,
// on free ports of 127.0.0.1, with the test certificate authority. It exits
// with the test program even when the program dies (its stdin closes).
class FakeGmailImap
{
public:
    FakeGmailImap() = default;
    ~FakeGmailImap();
    FakeGmailImap(const FakeGmailImap &) = delete;
    FakeGmailImap &operator=(const FakeGmailImap &) = delete;

    // False (with a test failure added) when the server did not come up.
    bool start(const QJsonObject &scenario);
    void stop();

    int port() const { return m_port; }
    // Sends one request of the control interface (tools/fake-imap/README.md)
    // and answers its "result"; a refused request adds a test failure.
    QJsonValue control(const QJsonObject &request);
    // The certificate authority a client must trust to reach it.
    QString caFile() const { return m_caFile; }

private:
    QProcess m_process;
    int m_port = 0;
    int m_controlPort = 0;
    QString m_caFile;
};
