#pragma once

#include "platform/foundation/TDWAsyncOperation.h"
#include "platform/imap/TDWImapError.h"

// One request to an IMAP session: the program's asynchronous form, with the
// work on the session's connection threads and TDWImapError::Cancelled for a
// cancelled run(). Cancelling also removes a message file being written.
template <class T>
using TDWImapOperation = TDWAsyncOperation<T>;
