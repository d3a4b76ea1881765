#pragma once

#include <QString>
#include <QVariantMap>

// One of Gmail's special folders as the service table lists it, read once
// when the table loads.
class TDWSpecialMailLabel
{
public:
    TDWSpecialMailLabel() = default;
    explicit TDWSpecialMailLabel(const QVariantMap &entry);

    // The folder's special-use attribute without its backslash ("AllMail").
    QString flag;
    // The name users know the folder by ("All Mail").
    QString label;
    // The TDWMailFolder folder type of a folder carrying the flag.
    qint64 folderType = 0;
    // Always backed up, whatever the user chose.
    bool forced = false;
    // Must exist over IMAP for a backup to work.
    bool required = false;

    bool operator==(const TDWSpecialMailLabel &other) const = default;
};
