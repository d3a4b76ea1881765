#pragma once

#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QUrl>

#include <functional>

class QTcpSocket;

// Waits on 127.0.0.1, on a port the system picks, for the one browser
// request that ends a sign-in: "GET /" with the answer in its query, which
// the sign-in accepts as its own. That request gets a short page saying the
// window can be closed, and the listener stops listening at once, so a second
// redirect finds no one to take it. A redirect the sign-in does not accept
// (another attempt's, or one any local program or web page can send) gets an
// error page and the wait goes on, so it cannot end a sign-in in progress.
// Other requests (a favicon, say) get 404 and change nothing. Request heads
// are bounded in size. Lives and answers on the thread it was made on.
class TDWLoopbackRedirectListener : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<void(const QUrl &redirect)>;
    // Whether a redirect is the answer the sign-in waits for.
    using Acceptor = std::function<bool(const QUrl &redirect)>;

    static constexpr qint64 MaxRequestHeadBytes = 16 * 1024;

    explicit TDWLoopbackRedirectListener(QObject *parent = nullptr);
    ~TDWLoopbackRedirectListener() override;

    // Starts listening; `handler` gets the full URL of the first redirect
    // that `accepts` takes, once, after the browser has been answered. False,
    // with the system's words in `errorText`, when no port could be had.
    bool listen(Acceptor accepts, Handler handler, QString *errorText);
    bool isListening() const { return m_server.isListening(); }
    // "http://127.0.0.1:<port>", the redirect URI to give Google.
    QString redirectUri() const;
    // Stops listening and drops the connections not yet answered.
    void close();

private:
    void acceptConnections();
    void readRequest(QTcpSocket *socket);
    static void answer(QTcpSocket *socket, const QByteArray &status, const QByteArray &page);

    QTcpServer m_server;
    Acceptor m_accepts;
    Handler m_handler;
};
