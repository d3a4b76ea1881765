#pragma once

#include "platform/foundation/TDWError.h"

#include <QtGlobal>

// Where a body sink puts a message body while it arrives: opened when the body
// begins (again for a body that replaces it), given its bytes chunk by chunk,
// committed once it is whole, or aborted, after which nothing of it remains.
// Runs on the connection thread, so it must not wait on other threads.
class TDWImapBodyWriter
{
public:
    virtual ~TDWImapBodyWriter() = default;

    virtual bool open(TDWError *error) = 0;
    virtual bool append(const char *data, qint64 size, TDWError *error) = 0;
    virtual bool commit(TDWError *error) = 0;
    virtual void abort() = 0;
};
