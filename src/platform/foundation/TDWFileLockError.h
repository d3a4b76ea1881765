#pragma once

#include "platform/foundation/TDWError.h"

// Errors of locking and unlocking backup files (TDWFileLock). Codes are errno
// values.
namespace TDWFileLockError {

inline const QString Domain = QStringLiteral("TDWFileLock");

enum Code : qint64 {
    NotARegularFile = EOPNOTSUPP, // a link or anything else that is not a regular file
};

inline TDWError make(Code code, const QString &description, QVariantMap userInfo = {})
{
    return TDWError::withDescription(Domain, code, description, std::move(userInfo));
}

} // namespace TDWFileLockError
