#pragma once

#include "platform/foundation/TDWError.h"

// Errors of the keyrings that hold the account secrets.
namespace TDWKeyringError {

inline const QString Domain = QStringLiteral("TDWKeyring");

enum Code : qint64 {
    NotFound = 0,           // no item of that service and account
    ServiceUnavailable = 1, // nothing answers (no session bus, no Secret Service)
    Locked = 2,             // the item or the collection it belongs to is locked
    Unreadable = 3,         // the item or the store could not be read
    WriteFailed = 4,
    ItemExists = 5,         // an add found an item in the way
};

inline TDWError make(Code code, const QString &description, QVariantMap userInfo = {})
{
    return TDWError::withDescription(Domain, code, description, std::move(userInfo));
}

} // namespace TDWKeyringError
