#pragma once

#include <QtGlobal>

// What EXAMINE or STATUS tells about a folder. A value the server did not
// send stays at -1 (counts) or 0 (UIDVALIDITY, UIDNEXT).
struct TDWImapFolderInfo
{
    qint64 messageCount = -1;
    qint64 recentCount = -1;
    qint64 unseenCount = -1;   // STATUS only
    quint32 uidValidity = 0;
    quint32 uidNext = 0;

    bool operator==(const TDWImapFolderInfo &) const = default;
};
