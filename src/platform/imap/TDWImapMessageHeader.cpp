#include "platform/imap/TDWImapMessageHeader.h"

#include <QTimeZone>

#include <gmime/gmime.h>

#include <mutex>

namespace {

void ensureGMime()
{
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

QString fromUtf8(const char *text)
{
    return text ? QString::fromUtf8(text) : QString();
}

void appendMailboxes(InternetAddressList *list, QList<TDWImapAddress> *out)
{
    if (!list)
        return;
    const int n = internet_address_list_length(list);
    for (int i = 0; i < n; ++i) {
        InternetAddress *address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_GROUP(address)) {
            appendMailboxes(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)), out);
        } else if (INTERNET_ADDRESS_IS_MAILBOX(address)) {
            out->append({fromUtf8(internet_address_get_name(address)),
                         fromUtf8(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address)))});
        }
    }
}

QList<TDWImapAddress> mailboxes(InternetAddressList *list)
{
    QList<TDWImapAddress> out;
    appendMailboxes(list, &out);
    return out;
}

TDWImapAddress firstMailbox(InternetAddressList *list)
{
    const QList<TDWImapAddress> all = mailboxes(list);
    return all.isEmpty() ? TDWImapAddress() : all.first();
}

QDateTime toQDateTime(GDateTime *date)
{
    if (!date)
        return {};
    const int offset = int(g_date_time_get_utc_offset(date) / G_TIME_SPAN_SECOND);
    return QDateTime::fromSecsSinceEpoch(g_date_time_to_unix(date), QTimeZone(offset));
}

QStringList parseReferences(GMimeMessage *message)
{
    QStringList out;
    const char *raw = g_mime_object_get_header(GMIME_OBJECT(message), "References");
    if (!raw)
        return out;
    GMimeReferences *refs = g_mime_references_parse(nullptr, raw);
    if (!refs)
        return out;
    const int n = g_mime_references_length(refs);
    for (int i = 0; i < n; ++i)
        out.append(fromUtf8(g_mime_references_get_message_id(refs, i)));
    g_mime_references_free(refs);
    return out;
}

} // namespace

TDWImapMessageHeader TDWImapMessageHeader::fromBytes(const QByteArray &headerBytes)
{
    TDWImapMessageHeader header;
    if (headerBytes.trimmed().isEmpty())
        return header;
    ensureGMime();

    // The parser needs the blank line that ends a header block to see no body follows.
    QByteArray bytes = headerBytes;
    if (!bytes.endsWith("\n\n") && !bytes.endsWith("\r\n\r\n"))
        bytes.append(bytes.endsWith('\n') ? "\r\n" : "\r\n\r\n");

    GMimeStream *stream = g_mime_stream_mem_new_with_buffer(bytes.constData(), size_t(bytes.size()));
    GMimeParser *parser = g_mime_parser_new_with_stream(stream);
    g_object_unref(stream);
    GMimeMessage *message = g_mime_parser_construct_message(parser, nullptr);
    g_object_unref(parser);
    if (!message)
        return header;

    header.date = toQDateTime(g_mime_message_get_date(message));
    header.subject = fromUtf8(g_mime_message_get_subject(message));
    header.messageID = fromUtf8(g_mime_message_get_message_id(message));
    header.references = parseReferences(message);
    header.from = firstMailbox(g_mime_message_get_from(message));
    header.sender = firstMailbox(g_mime_message_get_sender(message));
    header.to = mailboxes(g_mime_message_get_to(message));
    header.cc = mailboxes(g_mime_message_get_cc(message));
    header.bcc = mailboxes(g_mime_message_get_bcc(message));
    g_object_unref(message);
    return header;
}
