#pragma once

#include <QMap>
#include <QSet>
#include <QString>

// An account's IMAP folders as the server names them (modified UTF-7) to the
// names of the special-folder flags each carries ("Inbox", "Sent", "Drafts",
// "AllMail", "Spam", "Starred", "Trash"; the "flag" values of the service
// table's special mail labels). An ordinary label maps to an empty set.
// Sorted by path so that every walk over it goes in the same order.
using TDWFoldersWithFlags = QMap<QString, QSet<QString>>;
