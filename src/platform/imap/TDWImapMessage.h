#pragma once

#include "platform/imap/TDWImapFlags.h"
#include "platform/imap/TDWImapMessageHeader.h"

#include <QDateTime>
#include <QStringList>

// One message of a FETCH reply, with what the request kind asked for.
// Gmail labels are kept as the server wrote them: system labels with their
// backslash ("\Inbox"), user labels in modified UTF-7.
struct TDWImapMessage
{
    quint32 sequenceNumber = 0;
    quint32 uid = 0;
    int flags = TDWImapMessageFlagNone;   // TDWImapMessageFlag bits
    QDateTime internalDate;
    qint64 size = -1;                      // RFC822.SIZE
    quint64 gmailMessageID = 0;
    quint64 gmailThreadID = 0;
    QStringList gmailLabels;
    // The header fields as the server sent them; parsed on demand, since
    // most listings read the headers of few of the messages they fetch.
    QByteArray headerBytes;

    TDWImapMessageHeader header() const { return TDWImapMessageHeader::fromBytes(headerBytes); }

    bool operator==(const TDWImapMessage &) const = default;
};
