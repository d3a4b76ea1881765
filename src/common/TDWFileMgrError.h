#pragma once

#include "platform/foundation/TDWError.h"

#include <cerrno>

// Errors of setting up the program's data folders (TDWFileMgr), in the domain
// "TDWFileMgr". A failed system call gives its errno value as the code.
namespace TDWFileMgrError {

inline const QString Domain = QStringLiteral("TDWFileMgr");

enum Code : qint64 {
    FileInTheWay = ENOTDIR, // a file stands where a folder belongs
};

inline TDWError make(Code code, const QString &description, QVariantMap userInfo = {})
{
    return TDWError::withDescription(Domain, code, description, std::move(userInfo));
}

} // namespace TDWFileMgrError
