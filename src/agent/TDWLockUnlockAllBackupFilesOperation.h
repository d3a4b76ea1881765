#pragma once

#include "platform/foundation/TDWOperation.h"

#include <QString>

// Brings every file already in the backup folder in line with the setting
// "lockBackupFiles" after the user changed it. The preferences count the
// changes in "lockBackupFilesLastChanged"; a pass records the count it applied
// in "lockBackupFilesLastPerformed", so a change made while it walks leaves the
// two different and the next backup run walks again.
class TDWLockUnlockAllBackupFilesOperation : public TDWOperation
{
    Q_OBJECT

public:
    // Locks or unlocks every regular file at or below `path`. `path` itself is
    // followed when it is a link (the user may have chosen a linked folder);
    // nothing below it is: links are neither entered nor changed, so the walk
    // never reaches files elsewhere and never loops. Folders keep their own
    // permissions. Answers how many files could not be changed.
    static qint64 lock(bool locked, const QString &path);

protected:
    void main() override;
};
