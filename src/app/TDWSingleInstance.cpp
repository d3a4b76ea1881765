#include "app/TDWSingleInstance.h"

#include "platform/foundation/TDWLog.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

namespace {
const QByteArray ActivateRequest = QByteArrayLiteral("activate\n");
constexpr int AnswerWaitMs = 5000;
} // namespace

TDWSingleInstance::TDWSingleInstance(QString folder, QObject *parent)
    : QObject(parent)
    , m_folder(std::move(folder))
{
}

TDWSingleInstance::~TDWSingleInstance() = default;

QString TDWSingleInstance::defaultFolder()
{
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        runtime = QDir::tempPath();
    return QDir(runtime).filePath(QStringLiteral("org.tidewell.Tidewell"));
}

QString TDWSingleInstance::socketPath() const
{
    return QDir(m_folder).filePath(QStringLiteral("instance"));
}

bool TDWSingleInstance::askRunningInstance() const
{
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(AnswerWaitMs))
        return false;
    socket.write(ActivateRequest);
    socket.waitForBytesWritten(AnswerWaitMs);
    // The running instance answers once it has taken the request.
    socket.waitForReadyRead(AnswerWaitMs);
    return true;
}

bool TDWSingleInstance::claim()
{
    if (m_server)
        return true;
    if (!QDir().mkpath(m_folder)) {
        tdwLog(QStringLiteral("ERROR: Unable to create the folder %1 for the running instance's socket.").arg(m_folder));
        return true;
    }
    QFile::setPermissions(m_folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // Two starts at the same moment: one claims, the other then finds it.
    QLockFile lock(QDir(m_folder).filePath(QStringLiteral("instance.lock")));
    if (!lock.lock()) {
        tdwLog(QStringLiteral("ERROR: Unable to lock %1: %2").arg(lock.fileName()).arg(lock.error()));
        return true;
    }
    if (askRunningInstance())
        return false;

    // Nothing answers: a socket file left by a killed run is in the way.
    QLocalServer::removeServer(socketPath());
    auto *server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(socketPath())) {
        tdwLog(QStringLiteral("ERROR: Unable to listen at %1: %2").arg(socketPath(), server->errorString()));
        delete server;
        return true;
    }
    m_server = server;
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine())
                    return;
                if (socket->readLine() == ActivateRequest)
                    emit activationRequested();
                socket->write("ok\n");
                socket->disconnectFromServer();
            });
        }
    });
    return true;
}
