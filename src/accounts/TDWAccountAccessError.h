#pragma once

#include "platform/foundation/TDWError.h"

// Errors of checking what an account's credential gives access to: renewing
// its access token, reading its address and reading each chosen service. The
// description is the message to show the user.
namespace TDWAccountAccessError {

inline const QString Domain = QStringLiteral("TDWAccountAccess");

enum Code : qint64 {
    TokenRefreshFailed = 1, // no new access token (SignIn scope when Google refused the grant)
    AddressFailed = 2,      // the account's e-mail address could not be read
    ServiceFailed = 3,      // a chosen service cannot be read with the token (a preflight)
    NoServiceCheck = 4,     // the service table names no usable check for the service
};

inline TDWError make(Code code, const QString &description, QVariantMap userInfo = {})
{
    return TDWError::withDescription(Domain, code, description, std::move(userInfo));
}

} // namespace TDWAccountAccessError
