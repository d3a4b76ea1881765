#include "platform/imap/TDWImapCommand.h"

#include "platform/imap/TDWImapBodySink.h"
#include "platform/imap/TDWImapError.h"
#include "platform/imap/TDWImapFlags.h"
#include "platform/imap/TDWImapParser.h"

namespace {

// The header fields a backup keeps of a message.
const QByteArray HeaderFields = "DATE SUBJECT FROM SENDER TO CC BCC MESSAGE-ID REFERENCES";

// Appends an astring argument: quoted when it is plain printable ASCII, else a
// literal (non-synchronising when the server allows it).
void appendAString(QList<QByteArray> &parts, const QString &value, bool literalPlus)
{
    const QByteArray bytes = value.toUtf8();
    const bool printable = std::all_of(bytes.begin(), bytes.end(), [](char c) { return c >= 0x20 && c <= 0x7e; });
    if (printable) {
        QByteArray quoted = bytes;
        quoted.replace('\\', "\\\\").replace('"', "\\\"");
        parts.last() += '"' + quoted + '"';
    } else if (literalPlus) {
        parts.last() += '{' + QByteArray::number(bytes.size()) + "+}\r\n" + bytes;
    } else {
        parts.last() += '{' + QByteArray::number(bytes.size()) + "}\r\n";
        parts.append(bytes);
    }
}

QByteArray quotedString(const QString &value)
{
    QByteArray bytes = value.toUtf8();
    bytes.replace('\\', "\\\\").replace('"', "\\\"").replace('\r', ' ').replace('\n', ' ');
    return '"' + bytes + '"';
}

TDWImapMessage messageFromFetch(quint32 sequence, const TDWImapResponse::Fetch &f)
{
    TDWImapMessage m;
    m.sequenceNumber = sequence;
    m.uid = f.uid.value_or(0);
    if (f.flags)
        m.flags = TDWImapParser::messageFlagsFromList(*f.flags);
    if (f.internalDate)
        m.internalDate = *f.internalDate;
    m.size = f.size.value_or(-1);
    m.gmailMessageID = f.gmailMessageID.value_or(0);
    m.gmailThreadID = f.gmailThreadID.value_or(0);
    if (f.gmailLabels)
        for (const QByteArray &label : *f.gmailLabels)
            m.gmailLabels.append(QString::fromUtf8(label));
    if (f.headerFields)
        m.headerBytes = *f.headerFields;
    return m;
}

// Later items of the same message add to (or replace) the earlier ones.
void merge(TDWImapResponse::Fetch &into, const TDWImapResponse::Fetch &from)
{
    if (from.uid) into.uid = from.uid;
    if (from.flags) into.flags = from.flags;
    if (from.internalDate) into.internalDate = from.internalDate;
    if (from.size) into.size = from.size;
    if (from.gmailMessageID) into.gmailMessageID = from.gmailMessageID;
    if (from.gmailThreadID) into.gmailThreadID = from.gmailThreadID;
    if (from.gmailLabels) into.gmailLabels = from.gmailLabels;
    if (from.headerFields) into.headerFields = from.headerFields;
}

} // namespace

TDWImapCommand::TDWImapCommand(Kind kind)
    : m_kind(kind)
{
}

TDWImapCommand::~TDWImapCommand() = default;

std::shared_ptr<TDWImapCommand> TDWImapCommand::capability()
{
    return std::shared_ptr<TDWImapCommand>(new TDWImapCommand(Kind::Capability));
}

std::shared_ptr<TDWImapCommand> TDWImapCommand::id(const QVariantMap &clientIdentity)
{
    std::shared_ptr<TDWImapCommand> c(new TDWImapCommand(Kind::Id));
    c->m_clientIdentity = clientIdentity;
    return c;
}

std::shared_ptr<TDWImapCommand> TDWImapCommand::list()
{
    return std::shared_ptr<TDWImapCommand>(new TDWImapCommand(Kind::List));
}

std::shared_ptr<TDWImapCommand> TDWImapCommand::status(const QString &folder)
{
    std::shared_ptr<TDWImapCommand> c(new TDWImapCommand(Kind::Status));
    c->m_folder = folder;
    return c;
}

std::shared_ptr<TDWImapCommand> TDWImapCommand::examine(const QString &folder)
{
    std::shared_ptr<TDWImapCommand> c(new TDWImapCommand(Kind::Examine));
    c->m_folder = folder;
    return c;
}

std::shared_ptr<TDWImapCommand> TDWImapCommand::fetch(const QString &folder, bool byUid, const TDWImapIndexSet &numbers, int requestKind)
{
    std::shared_ptr<TDWImapCommand> c(new TDWImapCommand(Kind::Fetch));
    c->m_folder = folder;
    c->m_byUid = byUid;
    c->m_numbers = numbers;
    c->m_requestKind = requestKind;
    return c;
}

std::shared_ptr<TDWImapCommand> TDWImapCommand::fetchBody(const QString &folder, quint32 uid, std::unique_ptr<TDWImapBodySink> sink)
{
    std::shared_ptr<TDWImapCommand> c(new TDWImapCommand(Kind::FetchBody));
    c->m_folder = folder;
    c->m_byUid = true;
    c->m_uid = uid;
    c->m_numbers.addIndex(uid);
    c->m_sink = std::move(sink);
    return c;
}

std::shared_ptr<TDWImapCommand> TDWImapCommand::noop()
{
    return std::shared_ptr<TDWImapCommand>(new TDWImapCommand(Kind::Noop));
}

std::shared_ptr<TDWImapCommand> TDWImapCommand::logout()
{
    return std::shared_ptr<TDWImapCommand>(new TDWImapCommand(Kind::Logout));
}

std::shared_ptr<TDWImapCommand> TDWImapCommand::authenticateXOAuth2(const QString &username, const QString &accessToken)
{
    std::shared_ptr<TDWImapCommand> c(new TDWImapCommand(Kind::Authenticate));
    c->m_initialResponse = ("user=" + username.toUtf8() + "\x01" + "auth=Bearer " + accessToken.toUtf8() + "\x01\x01").toBase64();
    return c;
}

void TDWImapCommand::setCompletion(Completion completion)
{
    std::lock_guard lock(m_completionMutex);
    m_completion = std::move(completion);
}

void TDWImapCommand::cancel()
{
    m_cancelled = true;
    // Dropping the completion also lets go of whatever it holds (the operation waiting for it).
    std::lock_guard lock(m_completionMutex);
    m_completion = nullptr;
}

void TDWImapCommand::discard()
{
    if (m_sink)
        m_sink->abort();
}

void TDWImapCommand::prepareRetry()
{
    ++m_attempts;
    m_pendingParts.clear();
    m_capabilities.clear();
    m_serverIdentity.clear();
    m_folders.clear();
    m_folderInfo = {};
    m_fetched.clear();
    m_bodyMatched = false;
    m_bodyLost = false;
    if (m_sink)
        m_sink->abort();
}

void TDWImapCommand::setProgressHandler(std::function<void(qint64, qint64)> handler)
{
    if (m_sink)
        m_sink->setProgressHandler(std::move(handler));
}

QByteArray TDWImapCommand::name() const
{
    switch (m_kind) {
    case Kind::Capability: return "CAPABILITY";
    case Kind::Id: return "ID";
    case Kind::List: return "LIST";
    case Kind::Status: return "STATUS";
    case Kind::Examine: return "EXAMINE";
    case Kind::Fetch: return m_byUid ? "UID FETCH" : "FETCH";
    case Kind::FetchBody: return "UID FETCH";
    case Kind::Noop: return "NOOP";
    case Kind::Logout: return "LOGOUT";
    case Kind::Authenticate: return "AUTHENTICATE";
    }
    return {};
}

QList<QByteArray> TDWImapCommand::wireParts(const QByteArray &tag, const WireContext &context)
{
    const bool literalPlus = context.capabilities.contains("LITERAL+");
    QList<QByteArray> parts{tag + ' '};
    switch (m_kind) {
    case Kind::Capability:
    case Kind::Noop:
    case Kind::Logout:
        parts.last() += name();
        break;
    case Kind::Id:
        if (m_clientIdentity.isEmpty()) {
            parts.last() += "ID NIL";
        } else {
            parts.last() += "ID (";
            bool first = true;
            for (auto it = m_clientIdentity.constBegin(); it != m_clientIdentity.constEnd(); ++it) {
                parts.last() += (first ? "" : " ") + quotedString(it.key()) + ' ' + quotedString(it.value().toString());
                first = false;
            }
            parts.last() += ')';
        }
        break;
    case Kind::List:
        // XLIST names Gmail's system folders on servers that know no special-use LIST.
        parts.last() += context.capabilities.contains("XLIST") && !context.capabilities.contains("SPECIAL-USE")
            ? "XLIST \"\" \"*\"" : "LIST \"\" \"*\"";
        break;
    case Kind::Status:
        parts.last() += "STATUS ";
        appendAString(parts, m_folder, literalPlus);
        parts.last() += " (MESSAGES RECENT UIDNEXT UIDVALIDITY UNSEEN)";
        break;
    case Kind::Examine:
        parts.last() += "EXAMINE ";
        appendAString(parts, m_folder, literalPlus);
        break;
    case Kind::Fetch: {
        m_sent = m_byUid ? m_numbers : m_numbers.clampedTo(quint32(std::clamp<qint64>(context.messageCount, 0, UINT32_MAX)));
        if (m_sent.isEmpty())
            return {};
        const bool gmail = context.capabilities.contains("X-GM-EXT-1");
        QByteArray items = "UID";
        if (m_requestKind & TDWImapMessagesRequestKindFlags)
            items += " FLAGS";
        if (m_requestKind & TDWImapMessagesRequestKindInternalDate)
            items += " INTERNALDATE";
        if (m_requestKind & TDWImapMessagesRequestKindSize)
            items += " RFC822.SIZE";
        if (gmail && (m_requestKind & TDWImapMessagesRequestKindGmailMessageID))
            items += " X-GM-MSGID";
        if (gmail && (m_requestKind & TDWImapMessagesRequestKindGmailThreadID))
            items += " X-GM-THRID";
        if (gmail && (m_requestKind & TDWImapMessagesRequestKindGmailLabels))
            items += " X-GM-LABELS";
        if (m_requestKind & TDWImapMessagesRequestKindHeaders)
            items += " BODY.PEEK[HEADER.FIELDS (" + HeaderFields + ")]";
        else if (m_requestKind & TDWImapMessagesRequestKindHeaderSubject)
            items += " BODY.PEEK[HEADER.FIELDS (SUBJECT)]";
        parts.last() += name() + ' ' + m_sent.toImapSet() + " (" + items + ')';
        break;
    }
    case Kind::FetchBody:
        m_sent = m_numbers;
        // The size first, so that a body far larger than it is refused as it is announced.
        parts.last() += "UID FETCH " + QByteArray::number(m_uid) + " (UID RFC822.SIZE BODY.PEEK[])";
        break;
    case Kind::Authenticate:
        if (context.capabilities.contains("SASL-IR")) {
            parts.last() += "AUTHENTICATE XOAUTH2 " + m_initialResponse;
        } else {
            parts.last() += "AUTHENTICATE XOAUTH2";
            parts.append(m_initialResponse);
        }
        break;
    }
    // Every part ends a line; a part that ends in a literal's size has its line end already.
    for (qsizetype i = 0; i < parts.size(); ++i)
        if (i == parts.size() - 1 || !parts[i].endsWith("}\r\n"))
            parts[i] += "\r\n";
    // The parts after the first wait for the server's go-ahead.
    m_pendingParts = parts.mid(1);
    return parts;
}

QByteArray TDWImapCommand::continuationReply()
{
    if (!m_pendingParts.isEmpty())
        return m_pendingParts.takeFirst();
    return "\r\n";
}

bool TDWImapCommand::acceptsFetch(const TDWImapResponse &response) const
{
    if (m_kind != Kind::Fetch && m_kind != Kind::FetchBody)
        return false;
    if (m_byUid)
        return response.fetch.uid && m_sent.contains(*response.fetch.uid);
    return m_sent.contains(response.number);
}

void TDWImapCommand::handleResponse(const TDWImapResponse &response, const QList<TDWImapBodySink *> &sinks)
{
    switch (response.kind) {
    case TDWImapResponse::Kind::Capability:
        if (m_kind == Kind::Capability)
            for (const QByteArray &word : response.atoms)
                m_capabilities.append(QString::fromLatin1(word));
        break;
    case TDWImapResponse::Kind::Id:
        m_serverIdentity = response.id;
        break;
    case TDWImapResponse::Kind::List:
        m_folders.append({response.mailbox, response.delimiter, TDWImapParser::folderFlagsFromAttributes(response.atoms)});
        break;
    case TDWImapResponse::Kind::Status: {
        const auto &items = response.statusItems;
        auto value = [&](const char *key, qint64 fallback) { return items.contains(key) ? qint64(items.value(key)) : fallback; };
        m_folderInfo.messageCount = value("MESSAGES", -1);
        m_folderInfo.recentCount = value("RECENT", -1);
        m_folderInfo.unseenCount = value("UNSEEN", -1);
        m_folderInfo.uidNext = quint32(value("UIDNEXT", 0));
        m_folderInfo.uidValidity = quint32(value("UIDVALIDITY", 0));
        break;
    }
    case TDWImapResponse::Kind::Fetch:
        if (m_kind == Kind::FetchBody) {
            // Only responses naming this command's UID come here (acceptsFetch).
            if (m_sink && response.fetch.size)
                m_sink->setListedSize(*response.fetch.size);
            if (m_sink && sinks.contains(m_sink.get())) {
                m_bodyMatched = true;
            } else if (response.fetch.hasBody && !sinks.isEmpty()) {
                m_bodyLost = true;
            } else if (response.fetch.hasBody && m_sink) {
                // A body that came inline: a quoted string, or nobody could take it when it began.
                m_sink->begin(response.fetch.body.size());
                m_sink->write(response.fetch.body.constData(), response.fetch.body.size());
                m_bodyMatched = true;
            }
        } else {
            merge(m_fetched[response.number], response.fetch);
        }
        break;
    default:
        break;
    }
}

TDWImapBodySink *TDWImapCommand::bodySinkFor(std::optional<quint32> uid)
{
    if (m_kind != Kind::FetchBody || m_cancelled || m_bodyMatched || !m_sink)
        return nullptr;
    if (uid && *uid != m_uid)
        return nullptr;
    return m_sink.get();
}

bool TDWImapCommand::hasFailedBody() const
{
    return m_kind == Kind::FetchBody && m_sink && m_sink->failed();
}

void TDWImapCommand::dropMisroutedBody(const QList<TDWImapBodySink *> &sinks)
{
    if (m_sink && !m_bodyMatched && sinks.contains(m_sink.get()))
        m_sink->abort();
}

void TDWImapCommand::completeTagged(const TDWImapResponse &tagged, const TDWError &selectError)
{
    if (tagged.state == TDWImapResponse::State::Ok) {
        complete({});
        return;
    }
    if (!selectError.isNull()) {
        complete(selectError);
        return;
    }
    QVariantMap info{{TDWImapError::ServerTextKey, tagged.text}};
    if (!tagged.code.isEmpty())
        info.insert(TDWImapError::ResponseCodeKey, QString::fromLatin1(tagged.code));
    const bool refused = m_kind == Kind::Authenticate;
    const QString description = refused
        ? QStringLiteral("The server did not accept the sign-in: %1").arg(tagged.text)
        : QStringLiteral("The server refused %1: %2").arg(QString::fromLatin1(name()), tagged.text);
    TDWError error = TDWImapError::make(refused ? TDWImapError::Authentication : TDWImapError::CommandFailed, description, info);
    // A message the server will not give reaches no further than that message.
    if (m_kind == Kind::FetchBody && !refused)
        error = error.withScope(TDWError::Scope::Item);
    complete(error);
}

void TDWImapCommand::complete(const TDWError &error)
{
    if (m_complete)
        return;
    m_complete = true;
    m_error = error;
    // A body refused or left unwritten says more than how the connection ended after it.
    if (hasFailedBody())
        m_error = m_sink->error();
    if (m_kind == Kind::FetchBody && m_error.isNull()) {
        if (m_bodyLost)
            m_error = TDWImapError::make(TDWImapError::Parse, QStringLiteral("The server's answer for the message with UID %1 in “%2” could not be told apart from another one.").arg(m_uid).arg(m_folder))
                          .withScope(TDWError::Scope::Item);
        else if (!m_bodyMatched)
            m_error = TDWImapError::make(TDWImapError::NotFound, QStringLiteral("The message with UID %1 is not in “%2”.").arg(m_uid).arg(m_folder));
        else
            m_sink->commit(&m_error);
    }
    if (m_kind == Kind::FetchBody && !m_error.isNull() && m_sink)
        m_sink->abort();
    Completion completion;
    {
        std::lock_guard lock(m_completionMutex);
        completion = std::move(m_completion);
        m_completion = nullptr;
    }
    if (completion)
        completion(*this);
}

QList<TDWImapMessage> TDWImapCommand::messages() const
{
    QList<TDWImapMessage> out;
    out.reserve(m_fetched.size());
    for (auto it = m_fetched.constBegin(); it != m_fetched.constEnd(); ++it) {
        // Data without a UID was never an answer to this command (an unsolicited flag update).
        if (it->uid)
            out.append(messageFromFetch(it.key(), *it));
    }
    if (m_byUid)
        std::sort(out.begin(), out.end(), [](const TDWImapMessage &a, const TDWImapMessage &b) { return a.uid < b.uid; });
    return out;
}
