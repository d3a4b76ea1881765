#pragma once

#include "platform/foundation/TDWError.h"

#include <cerrno>

// Errors of making folders for backed-up items (TDWFileUtils), in the domain
// "TDWFileUtils". A failed system call gives its errno value as the code.
namespace TDWFileUtilsError {

inline const QString Domain = QStringLiteral("TDWFileUtils");

enum Code : qint64 {
    NoParentFolder = ENOENT, // no folder was given to create the new one in
};

inline TDWError make(Code code, const QString &description, QVariantMap userInfo = {})
{
    return TDWError::withDescription(Domain, code, description, std::move(userInfo));
}

} // namespace TDWFileUtilsError
