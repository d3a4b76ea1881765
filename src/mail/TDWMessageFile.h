#pragma once

#include "platform/foundation/TDWError.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

class TDWDocRev;

// A backed-up message file (".emlx"), read by mail programs, in this order
// with nothing between the parts:
//   1. the length in bytes of part 2 as "%-10d\n" (at least ten characters);
//   2. the message as the server sent it, with every CR LF turned into LF
//      and nothing else changed (8-bit bytes stay as they are);
//   3. an XML property list: "date-sent" (real, seconds since 1970 of the
//      Date header, 0 without one), "flags" (the mail flag word below) and
//      "subject" (absent when the message has no Subject header).
// TDWMessageFileWriter writes one while the message arrives.
class TDWMessageFile
{
public:
    // Bits of the flag word.
    enum Flag : qint64 {
        Read = 1,
        Answered = 4,
        Flagged = 16,
        Forwarded = 256,
    };

    TDWMessageFile() = delete;

    // From the IMAP flags the listing stored (TDWImapMessageFlag values).
    static qint64 flagWordFromImapFlags(qint64 imapFlags);
    // The revision's stored IMAP flags; without them, read and flagged from
    // its unread and starred marks.
    static qint64 flagWordFor(const TDWDocRev &revision);

    // Turns every CR LF of `message` into LF, in place.
    static void convertLineEnds(QByteArray &message);
    static QByteArray countLine(qint64 length);
    // Part 3 for a message whose line ends are already converted (its header
    // block is enough).
    static QByteArray propertyList(const QByteArray &message, qint64 flagWord, TDWError *error);
};
