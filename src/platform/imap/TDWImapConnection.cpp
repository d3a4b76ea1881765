#include "platform/imap/TDWImapConnection.h"

#include "platform/foundation/TDWWireTrace.h"
#include "platform/imap/TDWImapBodySink.h"
#include "platform/imap/TDWImapCommand.h"
#include "platform/imap/TDWImapConnectionPool.h"
#include "platform/imap/TDWImapError.h"
#include "platform/imap/TDWImapParser.h"
#include "platform/imap/TDWImapTlsSocket.h"

#include <csignal>
#include <limits>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

constexpr qsizetype ReadChunk = 64 * 1024;
// After this much, look at the pipeline again before reading on.
constexpr qsizetype MaxReadPerTurn = 1 << 20;
// A message count older than this is asked for again before a sequence set is cut to it.
constexpr std::chrono::milliseconds CountFreshFor(1000);

bool isBodyItem(QByteArray item)
{
    item = item.toUpper();
    if (item == "BODY[]" || item == "RFC822" || item == "BINARY[]")
        return true;
    return (item.startsWith("BODY[]<") || item.startsWith("BINARY[]<")) && item.endsWith('>');
}

// The number after the first `name` item ("UID ", "RFC822.SIZE ") in `text`, if any.
std::optional<qint64> findNumberItem(const QByteArray &text, const QByteArray &name, qint64 maximum)
{
    qsizetype from = 0;
    while (true) {
        const qsizetype at = text.indexOf(name, from);
        if (at < 0)
            return std::nullopt;
        from = at + name.size();
        if (at > 0 && text.at(at - 1) != ' ' && text.at(at - 1) != '(')
            continue;
        qsizetype pos = from;
        try {
            return qint64(TDWImapParser::readNumber(text, pos, maximum));
        } catch (const TDWImapParseError &) {
            continue;
        }
    }
}

} // namespace

TDWImapConnection::TDWImapConnection(const Settings &settings, std::shared_ptr<TDWImapConnectionPool> pool)
    : m_settings(settings), m_pool(std::move(pool))
{
    static std::atomic<int> connections = 0;
    m_tracePeer = QStringLiteral("imap %1 #%2").arg(settings.hostname).arg(++connections);
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_reader.setResponseHandler([this](const QByteArray &text, const QList<TDWImapBodySink *> &sinks) { handleResponse(text, sinks); });
    m_reader.setLiteralRouter([this](const QByteArray &earlier, const QByteArray &line, qint64 size) { return routeLiteral(earlier, line, size); });
}

TDWImapConnection::~TDWImapConnection()
{
    if (m_thread.joinable())
        m_thread.detach();
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void TDWImapConnection::start()
{
    m_thread = std::thread([self = shared_from_this()] { self->run(); });
}

void TDWImapConnection::wake()
{
    const quint64 one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
}

void TDWImapConnection::stop()
{
    m_stop = true;
    wake();
}

void TDWImapConnection::requestLogout()
{
    m_logoutRequested = true;
    wake();
}

void TDWImapConnection::joinOrDetach()
{
    if (!m_thread.joinable())
        return;
    if (m_thread.get_id() == std::this_thread::get_id())
        m_thread.detach();
    else
        m_thread.join();
}

void TDWImapConnection::detach()
{
    if (m_thread.joinable())
        m_thread.detach();
}

void TDWImapConnection::run()
{
    // A write to a connection the server has closed must fail with EPIPE on this
    // thread, not raise SIGPIPE and end the process.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

    m_socket = std::make_unique<TDWImapTlsSocket>(m_settings.tls, m_wakeFd, &m_stop);
    const bool established = establish();
    if (established) {
        m_ready = true;
        serve();
    }
    m_ready = false;
    finishCommands();
    m_socket->close();
    const TDWError error = m_closedByLogout || m_stop ? TDWError() : m_fatal;
    std::shared_ptr<TDWImapConnectionPool> pool = std::move(m_pool);
    pool->connectionEnded(this, error, established);
}

bool TDWImapConnection::establish()
{
    const int timeout = m_settings.timeoutMs;
    if (!m_socket->connectToHost(m_settings.hostname, m_settings.port, timeout, &m_fatal))
        return false;
    while (!m_greeted)
        if (!readOnce(timeout))
            return false;
    if (m_capabilities.isEmpty() && (!runInternal(TDWImapCommand::capability()) || !m_fatal.isNull()))
        return false;
    if (m_preauthenticated)
        return true;
    const int before = m_capabilityUpdates;
    const std::shared_ptr<TDWImapCommand> auth = TDWImapCommand::authenticateXOAuth2(m_settings.username, m_settings.accessToken);
    if (!runInternal(auth))
        return false;
    if (!auth->error().isNull()) {
        // The refusal says more than the connection the server closed right after it.
        m_fatal = auth->error();
        return false;
    }
    // Capabilities change with the sign-in; servers that do not say so are asked.
    if (m_capabilityUpdates == before && !runInternal(TDWImapCommand::capability()))
        return false;
    return m_fatal.isNull();
}

// Sends a command of the connection's own and waits for its result; false when
// the connection failed before the result came.
bool TDWImapConnection::runInternal(const std::shared_ptr<TDWImapCommand> &command)
{
    send(command, false);
    flush();
    while (!command->isComplete() && m_fatal.isNull() && !m_stop)
        readOnce(m_settings.timeoutMs);
    return command->isComplete();
}

void TDWImapConnection::serve()
{
    while (!m_stop) {
        pump();
        if (!m_fatal.isNull() || m_closedByLogout)
            return;
        const bool waiting = !m_inFlight.empty() || m_held;
        if (!readOnce(waiting ? m_settings.timeoutMs : -1) || m_closedByLogout)
            return;
    }
}

bool TDWImapConnection::readOnce(int timeoutMs)
{
    switch (m_socket->waitForReadable(timeoutMs)) {
    case TDWImapTlsSocket::Wait::TimedOut:
        fail(TDWImapError::make(TDWImapError::Timeout,
                                QStringLiteral("The server %1 did not answer within %2 seconds.").arg(m_settings.hostname).arg(timeoutMs / 1000.0)));
        return false;
    case TDWImapTlsSocket::Wait::Woken:
        return !m_stop;
    case TDWImapTlsSocket::Wait::Readable:
        break;
    }
    char buffer[ReadChunk];
    qsizetype total = 0;
    while (total < MaxReadPerTurn) {
        TDWError error;
        const qsizetype n = m_socket->readAvailable(buffer, ReadChunk, &error);
        if (n < 0) {
            if (m_logoutSent) {
                m_closedByLogout = true;
            } else if (!m_byeText.isEmpty()) {
                fail(TDWImapError::make(TDWImapError::Connection, QStringLiteral("The server closed the connection: %1").arg(m_byeText)));
            } else {
                fail(error);
            }
            return false;
        }
        if (n == 0)
            break;
        total += n;
        if (!m_reader.feed(buffer, n)) {
            fail(TDWImapError::make(TDWImapError::Parse, m_reader.errorString()));
            return false;
        }
        if (!m_fatal.isNull())
            return false;
    }
    return m_fatal.isNull() && !m_stop;
}

void TDWImapConnection::pump()
{
    while (m_fatal.isNull() && !m_stop) {
        if (m_continuationTarget && m_continuationTarget->hasPendingParts())
            break;
        if (m_held) {
            if (!trySend(m_held))
                break;
            m_held.reset();
            continue;
        }
        if (m_logoutRequested) {
            if (!m_logoutSent && m_inFlight.empty()) {
                m_logoutSent = true;
                send(TDWImapCommand::logout(), false);
            }
            break;
        }
        if (m_poolCommandsInFlight >= m_settings.pipelineDepth)
            break;
        std::shared_ptr<TDWImapCommand> command = m_pool->take(this, m_selected);
        if (!command)
            break;
        ++m_load;
        if (!trySend(command)) {
            m_held = std::move(command);
            break;
        }
    }
    flush();
}

bool TDWImapConnection::trySend(const std::shared_ptr<TDWImapCommand> &command)
{
    if (command->isCancelled()) {
        command->discard();
        commandDone(true);
        return true;
    }
    if (command->kind() == TDWImapCommand::Kind::Examine) {
        sendSelection(command, true);
        return true;
    }
    if (command->needsSelection() && m_selected != command->folder())
        sendSelection(TDWImapCommand::examine(command->folder()), false);
    if (command->dependsOnMessageCount()) {
        if (m_selectionsInFlight > 0 || m_refreshInFlight)
            return false;
        if (qint64(command->numbers().lastIndex()) > m_messageCount && std::chrono::steady_clock::now() - m_countConfirmed > CountFreshFor) {
            // The folder may have grown since the server last said how big it is:
            // ask before cutting the set to its size.
            m_refreshInFlight = true;
            const std::shared_ptr<TDWImapCommand> noop = TDWImapCommand::noop();
            noop->setCompletion([this](TDWImapCommand &) {
                m_refreshInFlight = false;
                m_countConfirmed = std::chrono::steady_clock::now();
            });
            send(noop, false);
            return false;
        }
    }
    send(command, true);
    return true;
}

void TDWImapConnection::sendSelection(const std::shared_ptr<TDWImapCommand> &examine, bool fromPool)
{
    m_selected = examine->folder();
    ++m_selectionsInFlight;
    m_selectionInfo = {};
    m_messageCount = -1;
    m_failedSelection.clear();
    m_selectionError = {};
    send(examine, fromPool);
}

void TDWImapConnection::send(const std::shared_ptr<TDWImapCommand> &command, bool fromPool)
{
    const QByteArray tag = 'T' + QByteArray::number(m_nextTag++);
    TDWImapCommand::WireContext context{m_capabilities, m_messageCount};
    const QList<QByteArray> parts = command->wireParts(tag, context);
    if (parts.isEmpty()) {
        // A sequence set past the end of the folder: nothing to ask, nothing missing.
        command->complete({});
        commandDone(fromPool);
        return;
    }
    m_out += parts.first();
    if (TDWWireTrace::isEnabled())
        TDWWireTrace::record(m_tracePeer, true, parts.first());
    m_inFlight.push_back({tag, command, fromPool});
    if (fromPool)
        ++m_poolCommandsInFlight;
    if (command->hasPendingParts() || command->kind() == TDWImapCommand::Kind::Authenticate) {
        m_continuationTarget = command;
        flush();
    }
}

bool TDWImapConnection::flush()
{
    if (m_out.isEmpty() || !m_fatal.isNull())
        return m_fatal.isNull();
    TDWError error;
    const bool written = m_socket->writeAll(m_out, m_settings.timeoutMs, &error);
    m_out.clear();
    if (!written)
        fail(error);
    return written;
}

void TDWImapConnection::fail(const TDWError &error)
{
    if (m_fatal.isNull())
        m_fatal = error;
}

void TDWImapConnection::commandDone(bool fromPool)
{
    if (fromPool)
        --m_load;
}

void TDWImapConnection::finishCommands()
{
    const TDWError error = !m_fatal.isNull()
        ? m_fatal
        : TDWImapError::make(TDWImapError::Connection, QStringLiteral("The connection to %1 was closed.").arg(m_settings.hostname));
    std::vector<std::shared_ptr<TDWImapCommand>> sent;
    for (const InFlight &f : m_inFlight)
        if (f.fromPool)
            sent.push_back(f.command);
    m_inFlight.clear();
    m_poolCommandsInFlight = 0;
    m_continuationTarget.reset();
    std::shared_ptr<TDWImapCommand> held = std::move(m_held);

    const bool drop = m_stop || m_closedByLogout;
    // A connection that closes under a command (an idle connection the server
    // dropped) gets the command sent once more on another one; a time-out does not.
    const bool retry = error.code() == TDWImapError::Connection;
    for (const std::shared_ptr<TDWImapCommand> &command : sent) {
        if (drop || command->isCancelled()) {
            command->discard();
        } else {
            if (retry && command->attempts() == 0 && !command->hasFailedBody()) {
                command->prepareRetry();
                m_pool->requeue(command);
            } else {
                command->complete(error);
            }
        }
        --m_load;
    }
    if (held) {
        if (!m_stop && !held->isCancelled())
            m_pool->requeue(held);
        else
            held->discard();
        --m_load;
    }
}

void TDWImapConnection::handleResponse(const QByteArray &text, const QList<TDWImapBodySink *> &sinks)
{
    if (TDWWireTrace::isEnabled())
        TDWWireTrace::record(m_tracePeer, false, text);
    if (!m_fatal.isNull())
        return;
    TDWImapResponse r;
    try {
        r = TDWImapParser::parseResponse(text);
    } catch (const TDWImapParseError &e) {
        fail(TDWImapError::make(TDWImapError::Parse, QStringLiteral("The server %1 sent a response this client cannot read (%2, at byte %3).")
                                                         .arg(m_settings.hostname, QString::fromLatin1(e.what()))
                                                         .arg(e.offset())));
        return;
    }
    if (!m_greeted) {
        handleGreeting(r);
        return;
    }
    using Kind = TDWImapResponse::Kind;
    switch (r.kind) {
    case Kind::Continuation: {
        if (!m_continuationTarget) {
            fail(TDWImapError::make(TDWImapError::Parse, QStringLiteral("The server %1 asked for data that no command has to give.").arg(m_settings.hostname)));
            return;
        }
        const QByteArray reply = m_continuationTarget->continuationReply();
        m_out += reply;
        if (TDWWireTrace::isEnabled()) {
            // A sign-in's reply to a challenge may be the credential itself.
            const bool secret = m_continuationTarget->kind() == TDWImapCommand::Kind::Authenticate;
            TDWWireTrace::record(m_tracePeer, true, secret ? QByteArray("***") : reply);
        }
        flush();
        break;
    }
    case Kind::Tagged:
        handleTagged(r);
        break;
    case Kind::State:
        handleState(r);
        break;
    case Kind::Capability:
        updateCapabilities(r.atoms);
        if (TDWImapCommand *c = firstInFlight(int(TDWImapCommand::Kind::Capability)))
            c->handleResponse(r, sinks);
        break;
    case Kind::List:
        if (TDWImapCommand *c = firstInFlight(int(TDWImapCommand::Kind::List)))
            c->handleResponse(r, sinks);
        break;
    case Kind::Status: {
        TDWImapCommand *target = nullptr;
        for (const InFlight &f : m_inFlight) {
            if (f.command->kind() == TDWImapCommand::Kind::Status && (!target || f.command->folder() == r.mailbox)) {
                target = f.command.get();
                if (f.command->folder() == r.mailbox)
                    break;
            }
        }
        if (target)
            target->handleResponse(r, sinks);
        break;
    }
    case Kind::Id:
        if (TDWImapCommand *c = firstInFlight(int(TDWImapCommand::Kind::Id)))
            c->handleResponse(r, sinks);
        break;
    case Kind::Exists:
        m_messageCount = r.number;
        m_countConfirmed = std::chrono::steady_clock::now();
        m_selectionInfo.messageCount = r.number;
        break;
    case Kind::Recent:
        m_selectionInfo.recentCount = r.number;
        break;
    case Kind::Expunge:
        if (m_messageCount > 0)
            --m_messageCount;
        break;
    case Kind::Fetch: {
        TDWImapCommand *taker = nullptr;
        for (const InFlight &f : m_inFlight) {
            if (f.command->acceptsFetch(r)) {
                taker = f.command.get();
                if (!taker->isCancelled())
                    taker->handleResponse(r, sinks);
                break;
            }
        }
        if (!sinks.isEmpty())
            for (const InFlight &f : m_inFlight)
                if (f.command.get() != taker)
                    f.command->dropMisroutedBody(sinks);
        break;
    }
    case Kind::Flags:
    case Kind::Other:
        break;
    }
}

void TDWImapConnection::handleGreeting(const TDWImapResponse &r)
{
    if (r.kind != TDWImapResponse::Kind::State || r.state == TDWImapResponse::State::No || r.state == TDWImapResponse::State::Bad) {
        fail(TDWImapError::make(TDWImapError::Parse, QStringLiteral("The server %1 did not greet as an IMAP server.").arg(m_settings.hostname)));
        return;
    }
    if (r.state == TDWImapResponse::State::Bye) {
        fail(TDWImapError::make(TDWImapError::Connection, QStringLiteral("The server %1 refused the connection: %2").arg(m_settings.hostname, r.text)));
        return;
    }
    m_greeted = true;
    m_preauthenticated = r.state == TDWImapResponse::State::PreAuth;
    if (r.code == "CAPABILITY")
        updateCapabilities(r.codeList);
}

void TDWImapConnection::updateCapabilities(const QList<QByteArray> &words)
{
    m_capabilities.clear();
    for (const QByteArray &word : words)
        m_capabilities.insert(word.toUpper());
    ++m_capabilityUpdates;
}

void TDWImapConnection::handleTagged(const TDWImapResponse &r)
{
    auto it = std::find_if(m_inFlight.begin(), m_inFlight.end(), [&](const InFlight &f) { return f.tag == r.tag; });
    if (it == m_inFlight.end())
        return;   // a tag this connection never sent: nothing waits for it
    const InFlight entry = *it;
    m_inFlight.erase(it);
    const std::shared_ptr<TDWImapCommand> &command = entry.command;
    if (entry.fromPool)
        --m_poolCommandsInFlight;
    if (command == m_continuationTarget)
        m_continuationTarget.reset();
    if (r.code == "CAPABILITY" && !r.codeList.isEmpty())
        updateCapabilities(r.codeList);

    const bool ok = r.state == TDWImapResponse::State::Ok;
    switch (command->kind()) {
    case TDWImapCommand::Kind::Examine:
        --m_selectionsInFlight;
        if (ok) {
            TDWImapFolderInfo info = m_selectionInfo;
            info.messageCount = m_messageCount;
            command->setFolderInfo(info);
            m_countConfirmed = std::chrono::steady_clock::now();
        } else {
            if (m_selected == command->folder())
                m_selected.clear();
            m_failedSelection = command->folder();
            m_selectionError = TDWImapError::make(TDWImapError::CommandFailed,
                                                  QStringLiteral("Unable to open the folder “%1”: %2").arg(command->folder(), r.text),
                                                  {{TDWImapError::ServerTextKey, r.text}});
        }
        break;
    case TDWImapCommand::Kind::Logout:
        m_closedByLogout = true;
        break;
    default:
        break;
    }
    if (ok && command->lostBody() && command->attempts() == 0 && entry.fromPool && !command->isCancelled()) {
        command->prepareRetry();
        m_pool->requeue(command);
        commandDone(entry.fromPool);
        return;
    }
    const TDWError selectError = command->needsSelection() && command->folder() == m_failedSelection ? m_selectionError : TDWError();
    if (command->isCancelled())
        command->discard();
    else
        command->completeTagged(r, selectError);
    commandDone(entry.fromPool);
}

void TDWImapConnection::handleState(const TDWImapResponse &r)
{
    if (r.code == "UIDVALIDITY" && r.codeNumber)
        m_selectionInfo.uidValidity = quint32(*r.codeNumber);
    else if (r.code == "UIDNEXT" && r.codeNumber)
        m_selectionInfo.uidNext = quint32(*r.codeNumber);
    else if (r.code == "CAPABILITY" && !r.codeList.isEmpty())
        updateCapabilities(r.codeList);
    if (r.state == TDWImapResponse::State::Bye)
        m_byeText = r.text.isEmpty() ? QStringLiteral("BYE") : r.text;
}

TDWImapCommand *TDWImapConnection::firstInFlight(int kind) const
{
    for (const InFlight &f : m_inFlight)
        if (int(f.command->kind()) == kind)
            return f.command.get();
    return nullptr;
}

TDWImapBodySink *TDWImapConnection::routeLiteral(const QByteArray &earlier, const QByteArray &line, qint64 size)
{
    const QByteArray &head = earlier.isEmpty() ? line : earlier;
    if (!head.startsWith("* "))
        return nullptr;
    qsizetype pos = 2;
    try {
        TDWImapParser::readNumber(head, pos, UINT32_MAX);
    } catch (const TDWImapParseError &) {
        return nullptr;
    }
    if (head.mid(pos, 7).toUpper() != " FETCH ")
        return nullptr;
    const QByteArray before = line.trimmed();
    const qsizetype start = std::max(before.lastIndexOf(' '), before.lastIndexOf('('));
    if (!isBodyItem(before.mid(start + 1)))
        return nullptr;
    const QByteArray response = earlier + line;
    const std::optional<qint64> uid = findNumberItem(response, "UID ", UINT32_MAX);
    TDWImapBodySink *sink = nullptr;
    for (const InFlight &f : m_inFlight)
        if ((sink = f.command->bodySinkFor(uid ? std::optional<quint32>(quint32(*uid)) : std::nullopt)))
            break;
    if (!sink)
        return nullptr;
    if (const std::optional<qint64> listed = findNumberItem(response, "RFC822.SIZE ", std::numeric_limits<qint64>::max()))
        sink->setListedSize(*listed);
    if (!sink->accepts(size)) {
        // The sink refuses the body as it begins. Reading a literal far beyond
        // what the server listed would only waste the line (a hostile server
        // need never end it): the connection goes, and the commands in flight
        // with it are sent again on another one, all but this one.
        fail(TDWImapError::make(TDWImapError::Connection,
                                QStringLiteral("The connection to %1 was closed: it announced a message larger than it listed.").arg(m_settings.hostname)));
    }
    return sink;
}
