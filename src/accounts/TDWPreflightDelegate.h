#pragma once

#include "platform/foundation/TDWError.h"

// Receives the one outcome of a preflight run, on the main thread.
class TDWPreflightDelegate
{
public:
    virtual ~TDWPreflightDelegate() = default;
    // The first failing check's error; its description is ready for the user.
    virtual void handlePreflightFailure(const TDWError &error) = 0;
    virtual void handlePreflightSuccess() = 0;
};
