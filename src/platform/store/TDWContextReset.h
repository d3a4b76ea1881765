#pragma once

#include "platform/store/TDWManagedObjectContext.h"

// Resets a context on every way out of a scope, exceptions included, so that a
// step's objects never outlive the step. A null context is left alone.
class TDWContextReset
{
public:
    explicit TDWContextReset(TDWManagedObjectContext *moc)
        : moc(moc)
    {
    }
    TDWContextReset(const TDWContextReset &) = delete;
    TDWContextReset &operator=(const TDWContextReset &) = delete;
    ~TDWContextReset()
    {
        if (moc)
            moc->reset();
    }

private:
    TDWManagedObjectContext *moc;
};
