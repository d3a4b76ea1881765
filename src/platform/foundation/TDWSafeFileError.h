#pragma once

#include "platform/foundation/TDWError.h"

#include <cerrno>

// Errors of writing files safely (TDWSafeFile). Codes are errno values.
namespace TDWSafeFileError {

inline const QString Domain = QStringLiteral("TDWSafeFile");

enum Code : qint64 {
    NoSuchFile = ENOENT,
    TooLarge = EFBIG,
};

inline TDWError make(Code code, const QString &description, QVariantMap userInfo = {})
{
    return TDWError::withDescription(Domain, code, description, std::move(userInfo));
}

} // namespace TDWSafeFileError
