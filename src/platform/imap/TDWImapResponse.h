#pragma once

#include <QByteArray>
#include <QChar>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>
#include <QVariantMap>

#include <optional>

// One server response as the parser reads it. Only the fields of its kind are set.
struct TDWImapResponse
{
    enum class Kind {
        Continuation,   // "+ text"
        Tagged,         // "tag OK|NO|BAD [code] text"
        State,          // "* OK|NO|BAD|PREAUTH|BYE [code] text"
        Capability,     // "* CAPABILITY ..."
        List,           // "* LIST|XLIST|LSUB (attributes) delimiter mailbox"
        Status,         // "* STATUS mailbox (MESSAGES n ...)"
        Exists,         // "* n EXISTS"
        Recent,         // "* n RECENT"
        Expunge,        // "* n EXPUNGE"
        Flags,          // "* FLAGS (...)"
        Fetch,          // "* n FETCH (...)"
        Id,             // "* ID (...)" or "* ID NIL"
        Other,          // any other untagged response: read no further, ignored by the client
    };
    enum class State { None, Ok, No, Bad, PreAuth, Bye };

    // The items of one FETCH response that this client reads; the others are skipped.
    struct Fetch
    {
        std::optional<quint32> uid;
        std::optional<QList<QByteArray>> flags;
        std::optional<QDateTime> internalDate;
        std::optional<qint64> size;
        std::optional<quint64> gmailMessageID;
        std::optional<quint64> gmailThreadID;
        std::optional<QList<QByteArray>> gmailLabels;   // as written: "\Inbox", "[Gmail]/Starred", "Entw&APw-rfe"
        std::optional<QByteArray> headerFields;          // BODY[HEADER...] / RFC822.HEADER
        bool hasBody = false;                            // BODY[] / RFC822 / BINARY[] came
        QByteArray body;                                  // its bytes when they came inline

        bool operator==(const Fetch &) const = default;
    };

    Kind kind = Kind::Other;
    QByteArray tag;                  // Tagged
    State state = State::None;       // Tagged, State
    QByteArray code;                 // response code name in upper case ("UIDVALIDITY"), Tagged and State
    QByteArray codeData;             // the code's arguments as written, up to "]"
    QList<QByteArray> codeList;      // atoms of a list-valued code (PERMANENTFLAGS, CAPABILITY)
    std::optional<quint64> codeNumber;   // number-valued codes (UIDVALIDITY, UIDNEXT, UNSEEN)
    QString text;                    // human-readable text (Tagged, State, Continuation)
    quint32 number = 0;              // Exists, Recent, Expunge, Fetch
    QList<QByteArray> atoms;         // Capability (upper case), Flags, List attributes
    QByteArray command;              // List: "LIST", "XLIST" or "LSUB"; Other: the response's first word
    QChar delimiter;                 // List: null for NIL
    QString mailbox;                 // List, Status: as written
    QMap<QByteArray, quint64> statusItems;   // Status, item names in upper case
    QVariantMap id;                  // Id: field -> value (a null QVariant for NIL)
    Fetch fetch;                     // Fetch

    bool operator==(const TDWImapResponse &) const = default;
};
