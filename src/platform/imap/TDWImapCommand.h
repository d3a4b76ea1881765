#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/imap/TDWImapFolder.h"
#include "platform/imap/TDWImapFolderInfo.h"
#include "platform/imap/TDWImapIndexSet.h"
#include "platform/imap/TDWImapMessage.h"
#include "platform/imap/TDWImapResponse.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class TDWImapBodySink;

// One IMAP command with its wire form and the results its responses carry.
// A connection thread sends it, routes its untagged responses to it and
// completes it once; `completion` then runs on that thread. Until then only
// the connection thread touches it, except for cancel(), which any thread may call.
class TDWImapCommand
{
public:
    enum class Kind { Capability, Id, List, Status, Examine, Fetch, FetchBody, Noop, Logout, Authenticate };
    using Completion = std::function<void(TDWImapCommand &)>;

    // What the connection knows when it writes the command.
    struct WireContext
    {
        QSet<QByteArray> capabilities;   // upper case
        qint64 messageCount = -1;        // EXISTS of the selected folder
    };

    static std::shared_ptr<TDWImapCommand> capability();
    static std::shared_ptr<TDWImapCommand> id(const QVariantMap &clientIdentity);
    static std::shared_ptr<TDWImapCommand> list();
    static std::shared_ptr<TDWImapCommand> status(const QString &folder);
    static std::shared_ptr<TDWImapCommand> examine(const QString &folder);
    static std::shared_ptr<TDWImapCommand> fetch(const QString &folder, bool byUid, const TDWImapIndexSet &numbers, int requestKind);
    // UID FETCH of one message's full text into `sink`.
    static std::shared_ptr<TDWImapCommand> fetchBody(const QString &folder, quint32 uid, std::unique_ptr<TDWImapBodySink> sink);
    static std::shared_ptr<TDWImapCommand> noop();
    static std::shared_ptr<TDWImapCommand> logout();
    static std::shared_ptr<TDWImapCommand> authenticateXOAuth2(const QString &username, const QString &accessToken);

    ~TDWImapCommand();

    Kind kind() const { return m_kind; }
    // The folder the command works in (it must be selected first) or names.
    const QString &folder() const { return m_folder; }
    bool needsSelection() const { return m_kind == Kind::Fetch || m_kind == Kind::FetchBody; }
    // Sequence-number fetches are clamped to the folder's message count before they are written.
    bool dependsOnMessageCount() const { return m_kind == Kind::Fetch && !m_byUid; }
    const TDWImapIndexSet &numbers() const { return m_numbers; }

    bool isUrgent() const { return m_urgent; }
    void setUrgent(bool urgent) { m_urgent = urgent; }

    void setCompletion(Completion completion);
    void setProgressHandler(std::function<void(qint64, qint64)> handler);

    // Any thread: no completion runs after this returns, and the connection
    // drops whatever still arrives for the command.
    void cancel();
    bool isCancelled() const { return m_cancelled; }
    // On the connection thread, once a cancelled command is dropped: removes a partial message file.
    void discard();

    // A command whose connection closed under it may be sent once more elsewhere.
    int attempts() const { return m_attempts; }
    // Forgets what the lost connection delivered and counts the new attempt.
    void prepareRetry();

    // The wire form after the tag, in parts: every part after the first is sent
    // once the server asked for it with a continuation. Empty when a clamped
    // sequence set left nothing to ask: the command is then done at once.
    QList<QByteArray> wireParts(const QByteArray &tag, const WireContext &context);
    // What to send for a continuation request once the parts are out (the
    // answer to an XOAUTH2 failure challenge is an empty line).
    QByteArray continuationReply();
    bool hasPendingParts() const { return !m_pendingParts.isEmpty(); }

    // Untagged responses the connection routes here.
    bool acceptsFetch(const TDWImapResponse &response) const;
    void handleResponse(const TDWImapResponse &response, const QList<TDWImapBodySink *> &sinks);
    // The sink for a body literal of a FETCH response (whose UID came before it, if any), or nullptr.
    TDWImapBodySink *bodySinkFor(std::optional<quint32> uid);
    // A response that another command took carried a body into this command's sink: drop it.
    void dropMisroutedBody(const QList<TDWImapBodySink *> &sinks);
    // This command's body went into another command's sink (a server that names the UID
    // only after the body, answering out of order): it has to be asked again.
    bool lostBody() const { return m_bodyLost; }
    // The body was refused or could not be written: asking again would end the same way.
    bool hasFailedBody() const;

    // The tagged result; `selectError` replaces a NO/BAD when the folder could not be selected.
    void completeTagged(const TDWImapResponse &tagged, const TDWError &selectError = {});
    // Ends the command without a tagged result (connection lost, time-out, nothing to ask).
    void complete(const TDWError &error);
    bool isComplete() const { return m_complete; }

    // Results, valid after completion.
    const TDWError &error() const { return m_error; }
    const QStringList &capabilities() const { return m_capabilities; }
    const QVariantMap &serverIdentity() const { return m_serverIdentity; }
    const QList<TDWImapFolder> &folders() const { return m_folders; }
    const TDWImapFolderInfo &folderInfo() const { return m_folderInfo; }
    void setFolderInfo(const TDWImapFolderInfo &info) { m_folderInfo = info; }
    QList<TDWImapMessage> messages() const;
    TDWImapBodySink *bodySink() const { return m_sink.get(); }

private:
    explicit TDWImapCommand(Kind kind);
    QByteArray name() const;

    Kind m_kind;
    QString m_folder;
    bool m_byUid = false;
    TDWImapIndexSet m_numbers;
    TDWImapIndexSet m_sent;   // what was actually asked for, after clamping
    int m_requestKind = 0;
    quint32 m_uid = 0;
    QVariantMap m_clientIdentity;
    QByteArray m_initialResponse;
    bool m_urgent = false;
    std::atomic<bool> m_cancelled = false;
    int m_attempts = 0;
    QList<QByteArray> m_pendingParts;
    std::mutex m_completionMutex;
    Completion m_completion;
    bool m_complete = false;

    TDWError m_error;
    QStringList m_capabilities;
    QVariantMap m_serverIdentity;
    QList<TDWImapFolder> m_folders;
    TDWImapFolderInfo m_folderInfo;
    QMap<quint32, TDWImapResponse::Fetch> m_fetched;   // by sequence number
    std::unique_ptr<TDWImapBodySink> m_sink;
    bool m_bodyMatched = false;
    bool m_bodyLost = false;
};
