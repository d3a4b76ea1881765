#pragma once

#include "platform/foundation/TDWError.h"

#include <QString>

// Turns titles from remote data into names that are safe in the file system,
// and small directory helpers built on that rule.
class TDWFileUtils
{
public:
    // A file name made from `title`: only letters, marks, digits and ". -_"
    // are kept, the name is cut to 32 UTF-16 units on a character boundary,
    // trimmed, runs of spaces shortened, "blank" when nothing is left, and a
    // leading "." gets "_" in front (so never "." or ".."). `extension` passes
    // through the same filter and bound and is appended unless the name
    // already ends in it. The result has no "/" and no control characters.
    static QString generateFilenameFromString(const QString &title, const QString &extension = {});

    // Creates a new directory in `parent` named after `title`, numbering the
    // name ("Notes", "Notes-1", "Notes-2", ...) past anything already there.
    // Answers its full path, or an empty string with `error` set when it could
    // not be created.
    static QString createDirectoryIn(const QString &parent, const QString &title, TDWError *error = nullptr);

    // The same for a folder whose name carries an extension (a mailbox): the
    // number goes before it, "Inbox.mbox", "Inbox-1.mbox", "Inbox-2.mbox", ...
    static QString createDirectoryWithExtensionIn(const QString &parent, const QString &title, const QString &extension,
                                                  TDWError *error = nullptr);

    // Moves the directory `from` into `parent` under a name based on `title`,
    // numbered as createDirectoryIn() does. Nothing already there is ever
    // replaced, not even an empty folder made a moment ago: a taken name is
    // passed over for the next. Answers the new full path, or an empty string
    // with `error` set when the move failed (nothing moved).
    static QString moveDirectoryIn(const QString &from, const QString &parent, const QString &title, TDWError *error = nullptr);

    // Whether the directory name `name` is based on `title`: the safe name of
    // the title itself, or it followed by "-" and a number that is not zero.
    static bool dirName(const QString &name, const QString &title);

    // A new, uniquely named directory in `parent` from a template ending in
    // X characters (e.g. "tidewell.XXXXXX"); an empty string on failure.
    static QString createTempDir(const QString &parent, const QString &mask);

    // True when the directory can be listed and holds nothing but entries
    // whose names begin with "."; false when it holds anything else or cannot
    // be listed. Deletes nothing.
    static bool emptyDir(const QString &path);
};
