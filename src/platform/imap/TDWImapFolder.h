#pragma once

#include "platform/imap/TDWImapFlags.h"

#include <QChar>
#include <QString>

// One folder of a LIST/XLIST reply. The path is kept as the server wrote it
// (modified UTF-7, e.g. "Entw&APw-rfe"); it is what later commands must name.
struct TDWImapFolder
{
    QString path;
    QChar delimiter;   // null when the server has no hierarchy ("NIL")
    int flags = TDWImapFolderFlagNone;   // TDWImapFolderFlag bits

    bool operator==(const TDWImapFolder &) const = default;
};
