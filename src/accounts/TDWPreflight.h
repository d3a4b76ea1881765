#pragma once

#include "platform/foundation/TDWClassRegistry.h"
#include "platform/foundation/TDWError.h"

#include <QString>

// One service's access check, run before an account's settings are saved.
// The preflight manager creates a check by the class name that the service
// table gives under "preflightClass", runs it on a worker thread and reads
// its result once run() has returned.
class TDWPreflight
{
public:
    virtual ~TDWPreflight() = default;

    // Performs the whole check, blocking the calling worker thread; it must
    // end (on success, on failure and on its own time-out), and soon after
    // cancel().
    virtual void run() = 0;
    // May be called from any thread.
    virtual void cancel() = 0;

    // Null when the service can be read; otherwise why not, its description
    // ready for the user (TDWAccountAccessError). Read once run() has returned.
    virtual TDWError error() const = 0;
    virtual QString username() const = 0;
    virtual QString service() const = 0;
};

// The check classes by the names the service table gives: made from the
// account's username, the access token and the service id.
using TDWPreflightClasses = TDWClassRegistry<TDWPreflight, const QString &, const QString &, const QString &>;
