#pragma once

#include "platform/foundation/TDWError.h"

// Errors of deleting an account (TDWAccountDeleter).
namespace TDWAccountDeleterError {

inline const QString Domain = QStringLiteral("TDWAccountDeleter");

enum Code : qint64 {
    NoStore = 1,
    Cancelled = 2,
};

inline TDWError make(Code code, const QString &description, QVariantMap userInfo = {})
{
    return TDWError::withDescription(Domain, code, description, std::move(userInfo));
}

} // namespace TDWAccountDeleterError
