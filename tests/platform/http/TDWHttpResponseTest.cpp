// What an unwanted status means to the work around it: the one mapping from
// an answer's status to the scope of the failure.
#include "platform/http/TDWHttpError.h"
#include "platform/http/TDWHttpResponse.h"

#include <gtest/gtest.h>

namespace {

using Scope = TDWError::Scope;

QByteArray googleError(const char *reason)
{
    return QByteArray(R"({"error": {"errors": [{"domain": "usageLimits", "reason": ")") + reason
         + R"(", "message": "m"}], "code": 403, "message": "m"}})";
}

TEST(TDWHttpResponse, EveryStatusMapsToTheScopeOfItsFailure)
{
    const struct {
        int status;
        QByteArray body;
        Scope scope;
    } cases[] = {
        {401, {}, Scope::SignIn},
        {404, {}, Scope::Item},
        {410, {}, Scope::Item},
        {403, googleError("insufficientPermissions"), Scope::Request},
        {403, "Only files with binary content can be downloaded", Scope::Request},
        {403, R"({"error": "access_denied"})", Scope::Request},
        {403, googleError("rateLimitExceeded"), Scope::Connection},
        {403, googleError("userRateLimitExceeded"), Scope::Connection},
        {429, {}, Scope::Connection},
        {400, {}, Scope::Request},
        {405, {}, Scope::Request},
        {499, {}, Scope::Request},
        {500, {}, Scope::Connection},
        {503, {}, Scope::Connection},
        {599, {}, Scope::Connection},
        // Answers that are no failure in themselves, where another was wanted.
        {204, {}, Scope::Request},
        {206, {}, Scope::Request},
        {304, {}, Scope::Request},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.status);
        TDWHttpResponse response;
        response.setStatusCode(c.status);
        response.setBody(c.body);
        EXPECT_EQ(response.statusScope(), c.scope) << c.body.constData();
        const TDWError error = response.statusError();
        EXPECT_EQ(error.domain(), TDWHttpError::Domain);
        EXPECT_EQ(error.code(), TDWHttpError::Status);
        EXPECT_EQ(error.scope(), c.scope);
        EXPECT_TRUE(error.localizedDescription().contains(QString::number(c.status))) << error.localizedDescription().toStdString();
        EXPECT_EQ(error.endsRun(), c.scope == Scope::SignIn || c.scope == Scope::Connection);
    }
}

} // namespace
