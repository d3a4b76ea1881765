#pragma once

#include "platform/foundation/TDWError.h"

// What a download of one item revision tells the backup run once it has
// ended: the protocol layer's error when the download failed because of it,
// whose scope says whether the other downloads may still succeed (an item's
// failure) or must not be tried now (the connection, the sign-in).
class TDWItemDownload
{
public:
    virtual ~TDWItemDownload() = default;

    // Null when the download succeeded or failed for a reason of its own.
    virtual TDWError failureCause() const = 0;
};
