#pragma once

#include "platform/imap/TDWImapAddress.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QStringList>

// The header fields a backup reads of a message, parsed with GMime: RFC 2047
// words decoded, address lists split into mailboxes (group members included).
// A header that is absent leaves its field null (a null subject differs from an empty one).
struct TDWImapMessageHeader
{
    QDateTime date;
    QString subject;
    QString messageID;        // without angle brackets
    QStringList references;   // message ids, without angle brackets
    TDWImapAddress from;      // the first From mailbox; empty when there is none
    TDWImapAddress sender;    // the Sender mailbox; empty when there is none
    QList<TDWImapAddress> to;
    QList<TDWImapAddress> cc;
    QList<TDWImapAddress> bcc;

    // Parses a block of header lines (as BODY[HEADER.FIELDS (...)] returns it).
    static TDWImapMessageHeader fromBytes(const QByteArray &headerBytes);

    bool operator==(const TDWImapMessageHeader &) const = default;
};
