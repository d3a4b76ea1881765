#include "accounts/TDWLoopbackRedirectListener.h"

#include "FakeGoogleServer.h"
#include "TestSupport.h"

#include <QTcpSocket>

#include <gtest/gtest.h>

namespace {

// Sends `parts` one after another on one connection; the whole answer, once the listener closed it.
QByteArray exchange(const TDWLoopbackRedirectListener &listener, const QList<QByteArray> &parts)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, QUrl(listener.redirectUri()).port());
    EXPECT_TRUE(tdwtest::waitUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; }));
    for (const QByteArray &part : parts) {
        socket.write(part);
        socket.flush();
        tdwtest::waitUntil([&] { return socket.bytesToWrite() == 0; });
    }
    QByteArray answer;
    EXPECT_TRUE(tdwtest::waitUntil([&] {
        answer += socket.readAll();
        return socket.state() == QAbstractSocket::UnconnectedState;
    }));
    return answer + socket.readAll();
}

TEST(TDWLoopbackRedirectListener, OnlyAWholeGetOfTheRootEndsTheWait)
{
    TDWLoopbackRedirectListener listener;
    QList<QUrl> redirects;
    QString errorText;
    const auto hasStateS = [](const QUrl &url) { return url.query().contains(QLatin1String("state=s")); };
    ASSERT_TRUE(listener.listen(hasStateS, [&](const QUrl &url) { redirects << url; }, &errorText)) << errorText.toStdString();
    EXPECT_TRUE(listener.redirectUri().startsWith(QStringLiteral("http://127.0.0.1:")));

    const struct {
        const char *what;
        QList<QByteArray> parts;
        const char *status;
    } refused[] = {
        {"another method", {"POST /?code=a HTTP/1.1\r\nHost: x\r\n\r\n"}, "HTTP/1.1 404 "},
        {"another path", {"GET /favicon.ico HTTP/1.1\r\nHost: x\r\n\r\n"}, "HTTP/1.1 404 "},
        {"no request line", {"\r\n\r\n"}, "HTTP/1.1 404 "},
        {"a redirect not accepted", {"GET /?code=a&state=t HTTP/1.1\r\nHost: x\r\n\r\n"}, "HTTP/1.1 400 "},
        {"a head without end", {QByteArray("GET /?code=a HTTP/1.1\r\nX: ") + QByteArray(TDWLoopbackRedirectListener::MaxRequestHeadBytes, 'a')},
         "HTTP/1.1 431 "},
    };
    for (const auto &c : refused) {
        EXPECT_TRUE(exchange(listener, c.parts).startsWith(c.status)) << c.what;
        EXPECT_TRUE(listener.isListening()) << c.what;
    }
    EXPECT_TRUE(redirects.isEmpty());

    // A head that arrives in pieces is read whole before the answer.
    const QByteArray page = exchange(listener, {"GET /?code=4%2Fa&state=s HTTP/1.1\r\n", "Host: 127.0.0.1\r\n", "\r\n"});
    EXPECT_TRUE(page.startsWith("HTTP/1.1 200 ")) << page.constData();
    EXPECT_TRUE(page.contains("You can close this window"));
    ASSERT_EQ(redirects.size(), 1);
    EXPECT_EQ(redirects[0].query(QUrl::FullyDecoded), QStringLiteral("code=4/a&state=s"));
    EXPECT_FALSE(listener.isListening());
}

} // namespace
