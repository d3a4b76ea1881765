#pragma once

#include <QString>

// One mailbox of an address header: the display name (RFC 2047 decoded, may
// be empty) and the address proper ("anna@example.org").
struct TDWImapAddress
{
    QString displayName;
    QString mailbox;

    bool operator==(const TDWImapAddress &) const = default;
};
