#pragma once

#include "platform/imap/TDWImapFlags.h"
#include "platform/imap/TDWImapFolder.h"
#include "platform/imap/TDWImapFolderInfo.h"
#include "platform/imap/TDWImapIndexSet.h"
#include "platform/imap/TDWImapMessage.h"
#include "platform/imap/TDWImapOperation.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <mutex>

class TDWImapBodySink;
class TDWImapBodyWriter;
class TDWImapCommand;
class TDWImapConnectionPool;
struct ssl_ctx_st;

// The IMAP session of one account: its server, credentials and limits, and the
// operations the mail code asks of it. Each operation goes to one of the
// session's connections (opened on demand, up to maximumConnections, each on a
// thread of its own, with several commands in flight), and reports to the main
// thread or to a waiting worker (TDWImapOperation). Folder arguments are paths
// as the server lists them (modified UTF-7). Everything is read-only on the
// server: folders are opened with EXAMINE and bodies fetched with BODY.PEEK.
//
// Settings apply to connections opened after the change. The session lives as
// long as its last operation; destroying it closes its connections.
class TDWImapSession : public std::enable_shared_from_this<TDWImapSession>
{
public:
    static std::shared_ptr<TDWImapSession> create();
    ~TDWImapSession();
    TDWImapSession(const TDWImapSession &) = delete;
    TDWImapSession &operator=(const TDWImapSession &) = delete;

    void setHostname(const QString &hostname);
    QString hostname() const;
    void setPort(int port);
    int port() const;
    void setUsername(const QString &username);
    QString username() const;
    // TDWImapConnectionType; only TDWImapConnectionTypeTLS (TLS from the first byte) is offered.
    void setConnectionType(int type);
    int connectionType() const;
    // TDWImapAuthType; only TDWImapAuthTypeXOAuth2 is offered.
    void setAuthType(int type);
    int authType() const;
    // Seconds a connection may wait for the server before it gives up (default 60).
    void setTimeout(double seconds);
    double timeout() const;
    // Whether two connections may work in the same folder at once.
    void setAllowsFolderConcurrentAccessEnabled(bool enabled);
    bool allowsFolderConcurrentAccessEnabled() const;
    void setOAuth2Token(const QString &token);
    QString OAuth2Token() const;
    void setMaximumConnections(int maximum);
    int maximumConnections() const;
    // A PEM file of certificate authorities trusted besides the system's (a local test server).
    void setCertificateAuthorityFile(const QString &path);
    QString certificateAuthorityFile() const;
    // Commands one connection keeps in flight (default 16).
    void setPipelineDepth(int depth);
    int pipelineDepth() const;

    // CAPABILITY of the signed-in connection (upper case).
    std::shared_ptr<TDWImapOperation<QStringList>> capabilityOperation();
    // ID: tells the server who we are; returns what it says of itself.
    std::shared_ptr<TDWImapOperation<QVariantMap>> identityOperation(const QVariantMap &clientIdentity);
    // Every folder (LIST "" "*", or XLIST on servers that offer only that).
    std::shared_ptr<TDWImapOperation<QList<TDWImapFolder>>> fetchAllFoldersOperation();
    // EXAMINE: message count, recent count, UIDVALIDITY, UIDNEXT.
    std::shared_ptr<TDWImapOperation<TDWImapFolderInfo>> folderInfoOperation(const QString &folder);
    // STATUS: the same counts without opening the folder, plus the unseen count.
    std::shared_ptr<TDWImapOperation<TDWImapFolderInfo>> folderStatusOperation(const QString &folder);
    // FETCH by sequence numbers; numbers past the folder's end are left out, not an error.
    std::shared_ptr<TDWImapOperation<QList<TDWImapMessage>>> fetchMessagesByNumberOperation(const QString &folder, int requestKind,
                                                                                             const TDWImapIndexSet &numbers);
    // UID FETCH; UIDs no longer in the folder are simply missing from the result.
    std::shared_ptr<TDWImapOperation<QList<TDWImapMessage>>> fetchMessagesByUIDOperation(const QString &folder, int requestKind,
                                                                                          const TDWImapIndexSet &uids);
    // The full text of one message, in memory. An urgent request goes before the queue.
    std::shared_ptr<TDWImapOperation<QByteArray>> fetchMessageByUIDOperation(const QString &folder, quint32 uid, bool urgent = false);
    // The full text of one message, streamed to `path` (created with its folder,
    // flushed to disk, renamed into place when complete); the result is its size.
    std::shared_ptr<TDWImapOperation<qint64>> fetchMessageByUIDToFileOperation(const QString &folder, quint32 uid, const QString &path,
                                                                               bool urgent = false);
    // The full text of one message, streamed into `writer` as it arrives
    // (committed when complete, aborted otherwise); the result is its size.
    std::shared_ptr<TDWImapOperation<qint64>> fetchMessageByUIDToWriterOperation(const QString &folder, quint32 uid,
                                                                                 std::unique_ptr<TDWImapBodyWriter> writer, bool urgent = false);
    std::shared_ptr<TDWImapOperation<bool>> noopOperation();
    // LOGOUT on every open connection once its commands are answered.
    std::shared_ptr<TDWImapOperation<bool>> disconnectOperation();

    // Connections open right now.
    int connectionCount() const;

private:
    TDWImapSession();
    template <class T>
    std::shared_ptr<TDWImapOperation<T>> commandOperation(const std::shared_ptr<TDWImapCommand> &command,
                                                         std::function<T(TDWImapCommand &)> result);
    std::shared_ptr<TDWImapOperation<qint64>> fetchBodyOperation(const QString &folder, quint32 uid, std::unique_ptr<TDWImapBodySink> sink,
                                                                 bool urgent);
    template <class T>
    void set(T &member, const T &value);
    template <class T>
    T get(const T &member) const;
    void applySettings();

    mutable std::mutex m_mutex;
    QString m_hostname;
    int m_port = 993;
    QString m_username;
    int m_connectionType = TDWImapConnectionTypeTLS;
    int m_authType = TDWImapAuthTypeXOAuth2;
    double m_timeout = 60.0;
    bool m_allowsFolderConcurrentAccess = true;
    QString m_token;
    int m_maximumConnections = 1;
    QString m_caFile;
    int m_pipelineDepth = 16;
    // Made again only when the certificate authorities change: loading the
    // system's takes tens of milliseconds, and every setter applies the settings.
    std::shared_ptr<ssl_ctx_st> m_tlsContext;
    QString m_tlsContextCaFile;
    std::shared_ptr<TDWImapConnectionPool> m_pool;
};
