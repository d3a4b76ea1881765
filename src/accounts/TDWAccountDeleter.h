#pragma once

#include "platform/foundation/TDWAsyncOperation.h"
#include "platform/foundation/TDWError.h"

#include <QString>

#include <memory>

// Deletes an account with everything the program keeps for it: its record
// (first, so that a failed save leaves the account whole), then its
// per-service stores, its folder under each service's backed-up-items and
// item-list folders, its calendar event stores and its keychain credential.
//
// A folder is removed only when it is the account's own: its name is one
// non-empty path component that no remaining account shares. An account that
// is already gone counts as deleted.
class TDWAccountDeleter
{
public:
    // Runs on the calling (worker) thread. False, with the error, when the
    // account's deletion could not be saved: nothing has been touched then.
    // Files that cannot be removed are logged and do not fail the deletion.
    static bool deleteAccount(const QString &username, TDWError *error);

    // deleteAccount on a thread of the global pool, its result delivered on
    // the main thread; run() waits for it on a worker thread instead.
    static std::shared_ptr<TDWAsyncOperation<bool>> operationForUsername(const QString &username);
};
