#pragma once

#include "platform/foundation/TDWError.h"

// Errors of a browser sign-in. The description is the message to show the
// user; only PreflightFailed comes after the credential was saved (the account
// is then signed in).
namespace TDWSignInError {

inline const QString Domain = QStringLiteral("TDWSignIn");

enum Code : qint64 {
    PageFailed = 1,      // no listener, or the browser could not be opened
    Refused = 2,         // Google's redirect carried an error or no code
    TimedOut = 4,        // no redirect came in time
    TokenFailed = 5,     // the code exchange failed or its answer was unusable
    AccountFailed = 6,   // the e-mail check failed or named another account
    KeychainFailed = 7,  // the credential could not be saved
    PreflightFailed = 8, // saved, but a chosen service cannot be read
};

inline TDWError make(Code code, const QString &description, QVariantMap userInfo = {})
{
    return TDWError::withDescription(Domain, code, description, std::move(userInfo));
}

} // namespace TDWSignInError
