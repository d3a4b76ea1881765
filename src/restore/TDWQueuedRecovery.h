#pragma once

#include "platform/store/TDWManagedObjectID.h"

#include <QString>

// One item of a restore request, as the backup browser picks it.
struct TDWQueuedRecovery
{
    // The folder inside the destination under which the item goes, "/"
    // between components; empty for a top-level item. For a message restored
    // as a mailbox: the mailbox folder that holds it, ".mbox" included.
    QString prefix;
    // The revision to restore; one not backed up stands for the best backed-up
    // revision of its item.
    TDWManagedObjectID docRevObjectId;
    // A fixed name for the item itself (folders); empty: made from the title.
    QString predeterminedName;
};
