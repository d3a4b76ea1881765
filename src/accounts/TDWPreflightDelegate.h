#pragma once

#include <QString>

// Receives the one outcome of a preflight run, on the main thread.
class TDWPreflightDelegate
{
public:
    virtual ~TDWPreflightDelegate() = default;
    virtual void handlePreflightFailureWithMessage(const QString &message) = 0;
    virtual void handlePreflightSuccess() = 0;
};
