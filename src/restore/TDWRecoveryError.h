#pragma once

#include "platform/foundation/TDWError.h"

#include <cerrno>

// Errors of a restore step, in the domain "TDWRecovery". A failed system call
// gives its errno value as the code.
namespace TDWRecoveryError {

inline const QString Domain = QStringLiteral("TDWRecovery");

enum Code : qint64 {
    SourceNotInBackup = EINVAL,    // the backed-up file is not a regular file inside the items folder
    OutsideDestination = EXDEV,    // the target would leave the chosen folder
    MailboxNotCreated = EIO,       // the mailbox folder or its information could not be written
};

inline TDWError make(Code code, const QString &description, QVariantMap userInfo = {})
{
    return TDWError::withDescription(Domain, code, description, std::move(userInfo));
}

} // namespace TDWRecoveryError
