#pragma once

#include "platform/imap/TDWImapAddress.h"
#include "platform/imap/TDWImapMessageHeader.h"

#include <QList>
#include <QString>

// The texts a message revision shows in lists: its title and sort title, its
// addresses, the other parties of the conversation, and the folder its file
// is kept in.
class TDWMessageText
{
public:
    TDWMessageText() = delete;

    // The display name, else the address, else empty.
    static QString stringFromAddress(const TDWImapAddress &address);
    // The addresses joined with ", "; null for an empty list.
    static QString stringFromAddressArray(const QList<TDWImapAddress> &addresses);
    // Who wrote the message: From, or Sender where the message has no From.
    static TDWImapAddress senderOf(const TDWImapMessageHeader &header);
    // The writer and every recipient other than the account itself (compared
    // without regard to case), joined with ", "; "me" when nobody else remains.
    static QString whoFromMessage(const TDWImapMessageHeader &header, const QString &accountUsername);
    // The subject, or "(no subject)" when the message has no Subject at all.
    static QString titleFor(const TDWImapMessageHeader &header);
    // The title without leading "Re:"/"Fwd:" prefixes and bracketed list tags;
    // null for a null title.
    static QString stringByRemovingSubjectPrefixesFrom(const QString &title);
    // A safe folder name from the subject's part after its last ":".
    static QString dirNameForSubject(const QString &subject);
};
