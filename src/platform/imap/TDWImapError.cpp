#include "platform/imap/TDWImapError.h"

namespace {

TDWError::Scope scopeOf(TDWImapError::Code code)
{
    switch (code) {
    case TDWImapError::Authentication:
        return TDWError::Scope::SignIn;
    case TDWImapError::Cancelled:
        return TDWError::Scope::Cancelled;
    case TDWImapError::CommandFailed:
        return TDWError::Scope::Request;
    case TDWImapError::NotFound:
    case TDWImapError::File:
    case TDWImapError::TooLarge:
        return TDWError::Scope::Item;
    case TDWImapError::Connection:
    case TDWImapError::TLS:
    case TDWImapError::Certificate:
    case TDWImapError::Parse:
    case TDWImapError::Timeout:
    case TDWImapError::Unsupported:
        break;
    }
    return TDWError::Scope::Connection;
}

} // namespace

TDWError TDWImapError::make(Code code, const QString &description, QVariantMap userInfo)
{
    return TDWError::withDescription(Domain, code, description, std::move(userInfo)).withScope(scopeOf(code));
}
