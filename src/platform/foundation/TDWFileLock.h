#pragma once

#include "platform/foundation/TDWError.h"

#include <QString>

// The "locked" state of a backup file. Setting the immutable attribute needs
// root on Linux, so a locked file is one without any write permission bit;
// unlocking gives the owner the write bit back (group and others stay
// read-only, as they were before the lock or not).
class TDWFileLock
{
public:
    // Locks or unlocks the regular file at `path`. A symbolic link is never
    // followed: the link, and anything else that is not a regular file, is
    // left alone and refused with EOPNOTSUPP. A file already in the wanted
    // state is not touched.
    static bool setLocked(const QString &path, bool locked, TDWError *error = nullptr);
};
