#pragma once

#include "platform/store/TDWManagedObjectID.h"

// Keeps an item's folder in the backup named after its title: when the title
// changes at Google, the folder moves to a free name based on the new title and
// the stored paths of the item and of all its revisions follow, all or nothing.
class TDWDocDirRenameHandler
{
public:
    // Renames the folder of the revision's item when its name is no longer
    // based on the revision's title. Callable from any thread; renames run one
    // at a time. Failures are logged, and leave the folder and the stored paths
    // as they were: the folder moves to a name nothing else holds, and moves
    // back when the new paths cannot be saved.
    static void considerDocDirRenameForDocRevId(const TDWManagedObjectID &docRevId);

    TDWDocDirRenameHandler() = delete;
};
