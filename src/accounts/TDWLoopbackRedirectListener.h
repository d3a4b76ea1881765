#pragma once

#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QUrl>

#include <functional>

class QTcpSocket;

// Waits on 127.0.0.1, on a port the system picks, for the one browser
// request that ends a sign-in: "GET /" with the answer in its query. That
// request gets a short page saying the window can be closed, and the listener
// stops listening at once, so a second redirect finds no one to take it.
// Other requests (a favicon, say) get 404 and change nothing. Request heads
// are bounded in size. Lives and answers on the thread it was made on.
class TDWLoopbackRedirectListener : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<void(const QUrl &redirect)>;

    static constexpr qint64 MaxRequestHeadBytes = 16 * 1024;

    explicit TDWLoopbackRedirectListener(QObject *parent = nullptr);
    ~TDWLoopbackRedirectListener() override;

    // Starts listening; `handler` gets the redirect's full URL once, after
    // the browser has been answered. False, with the system's words in
    // `errorText`, when no port could be had.
    bool listen(Handler handler, QString *errorText);
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
    Handler m_handler;
};
