#pragma once

#include <QString>

// The backup holds the user's mail, contacts and documents, and the stores and
// settings say whose they are: none of it is for other local users. The
// program gives every folder it makes there FolderMode and every file FileMode
// (a locked file, its write bit taken, is then 0400) at creation, never
// leaving it to the umask; makePrivate() brings what an earlier version made
// in line.
class TDWPrivateFiles
{
public:
    static constexpr int FolderMode = 0700;
    static constexpr int FileMode = 0600;

    // Creates the folder `path` and whatever folders are missing on the way to
    // it, each with FolderMode; folders already there keep their own mode.
    // True when `path` is a folder (or a link to one) afterwards.
    static bool makeFolder(const QString &path);

    // Takes every group and other permission bit from `root` and from every
    // file and folder below it, and nothing else (a locked file stays locked).
    // `root` is followed when it is a link (the user may have chosen a linked
    // folder); nothing below it is: links are neither entered nor changed, so
    // the walk never reaches files elsewhere and never loops. Answers how many
    // entries could not be changed; a missing `root` has none.
    static qint64 makePrivate(const QString &root);
};
