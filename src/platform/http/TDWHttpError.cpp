#include "platform/http/TDWHttpError.h"

#include <QCoreApplication>

namespace {

const char *sentence(TDWHttpError::Code code)
{
    switch (code) {
    case TDWHttpError::Timeout:
        return "The request timed out.";
    case TDWHttpError::Cancelled:
        return "The request was cancelled.";
    case TDWHttpError::Tls:
        return "A secure connection to the server could not be made.";
    case TDWHttpError::Resolve:
        return "The server could not be found.";
    case TDWHttpError::Connect:
        return "Could not connect to the server.";
    case TDWHttpError::TooManyRedirects:
        return "The server redirected the request too many times.";
    case TDWHttpError::BadUrl:
        return "The address of the request is not supported.";
    case TDWHttpError::File:
        return "The downloaded data could not be written to disk.";
    case TDWHttpError::Network:
        return "The network connection was lost.";
    case TDWHttpError::TooLarge:
        return "The server's answer is larger than this request accepts.";
    case TDWHttpError::Mismatch:
        return "The downloaded data is not what the server announced.";
    case TDWHttpError::Status:
        return "The server answered with an unexpected status.";
    }
    return "The network connection was lost.";
}

TDWError::Scope scopeOf(TDWHttpError::Code code)
{
    switch (code) {
    case TDWHttpError::Cancelled:
        return TDWError::Scope::Cancelled;
    case TDWHttpError::TooManyRedirects:
    case TDWHttpError::BadUrl:
    case TDWHttpError::TooLarge:
    case TDWHttpError::Status: // the status decides: see TDWHttpResponse::statusError
        return TDWError::Scope::Request;
    case TDWHttpError::File:
    case TDWHttpError::Mismatch:
        return TDWError::Scope::Item;
    case TDWHttpError::Timeout:
    case TDWHttpError::Tls:
    case TDWHttpError::Resolve:
    case TDWHttpError::Connect:
    case TDWHttpError::Network:
        break;
    }
    return TDWError::Scope::Connection;
}

} // namespace

TDWError TDWHttpError::make(Code code, const QString &detail)
{
    const QString text = QCoreApplication::translate("TDWHttpError", sentence(code));
    QVariantMap info{{TDWError::LocalizedDescriptionKey, detail.isEmpty() ? text : text + QStringLiteral(" (") + detail + QLatin1Char(')')}};
    if (!detail.isEmpty())
        info.insert(DetailKey, detail);
    return TDWError(Domain, code, info).withScope(scopeOf(code));
}
