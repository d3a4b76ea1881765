#include "accounts/TDWLoopbackRedirectListener.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace {

const QByteArray ClosePage = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Tidewell</title></head>"
                             "<body><p>You can close this window and return to Tidewell.</p></body></html>";
const QByteArray RefusedPage = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Tidewell</title></head>"
                               "<body><p>This answer does not belong to the sign-in in progress and was ignored. "
                               "Please finish signing in from the page Tidewell opened.</p></body></html>";
const QByteArray NotFoundPage = "<!DOCTYPE html><html><head><title>Not Found</title></head><body></body></html>";

} // namespace

TDWLoopbackRedirectListener::TDWLoopbackRedirectListener(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &TDWLoopbackRedirectListener::acceptConnections);
}

TDWLoopbackRedirectListener::~TDWLoopbackRedirectListener()
{
    close();
}

bool TDWLoopbackRedirectListener::listen(Acceptor accepts, Handler handler, QString *errorText)
{
    m_accepts = std::move(accepts);
    m_handler = std::move(handler);
    if (m_server.listen(QHostAddress::LocalHost, 0))
        return true;
    if (errorText)
        *errorText = m_server.errorString();
    return false;
}

QString TDWLoopbackRedirectListener::redirectUri() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort());
}

void TDWLoopbackRedirectListener::close()
{
    m_server.close();
    m_accepts = nullptr;
    m_handler = nullptr;
    for (QTcpSocket *socket : m_server.findChildren<QTcpSocket *>()) {
        // An answered socket finishes sending its page on its own.
        if (!socket->property("answered").toBool())
            socket->abort();
    }
}

void TDWLoopbackRedirectListener::acceptConnections()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void TDWLoopbackRedirectListener::readRequest(QTcpSocket *socket)
{
    if (socket->property("answered").toBool())
        return;
    // The whole head is read before answering: closing with unread bytes
    // would reset the connection and the browser would not show the page.
    const QByteArray head = socket->peek(MaxRequestHeadBytes + 1);
    const qsizetype end = head.indexOf("\r\n\r\n");
    if (end < 0) {
        if (head.size() > MaxRequestHeadBytes)
            answer(socket, "431 Request Header Fields Too Large", NotFoundPage);
        return;
    }
    socket->read(end + 4);
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    const QByteArray target = requestLine.value(1);
    const QUrl url(redirectUri() + QString::fromLatin1(target), QUrl::StrictMode);
    const bool isRedirect = requestLine.size() == 3 && requestLine[0] == "GET" && target.startsWith('/') && url.isValid()
        && url.path() == QLatin1String("/") && m_handler;
    if (!isRedirect) {
        answer(socket, "404 Not Found", NotFoundPage);
        return;
    }
    if (!m_accepts(url)) {
        answer(socket, "400 Bad Request", RefusedPage);
        return;
    }
    answer(socket, "200 OK", ClosePage);
    const Handler handler = std::move(m_handler);
    close();
    handler(url);
}

void TDWLoopbackRedirectListener::answer(QTcpSocket *socket, const QByteArray &status, const QByteArray &page)
{
    socket->setProperty("answered", true);
    socket->write("HTTP/1.1 " + status + "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: "
                  + QByteArray::number(page.size()) + "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + page);
    socket->disconnectFromHost();
}
