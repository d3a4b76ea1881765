#include "TestBrowser.h"

#include "FakeGoogleServer.h"
#include "TestSupport.h"

#include "platform/http/TDWHttpOperation.h"

#include <QDesktopServices>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace tdwtest {

namespace {
const QStringList Schemes = {QStringLiteral("https"), QStringLiteral("http")};
}

Visit TestBrowser::fetch(const TDWHttpRequest &request)
{
    auto operation = std::make_shared<TDWHttpOperation>(request);
    std::optional<Visit> visit;
    operation->start([&](const TDWError &error, const TDWHttpResponse &response) { visit = Visit{error, response}; });
    EXPECT_TRUE(waitUntil([&] { return visit.has_value(); }));
    return visit.value_or(Visit{});
}

QUrl TestBrowser::consent(const QUrl &authorizationUrl, const QString &decision)
{
    const Visit page = fetch(TDWHttpRequest(authorizationUrl));
    EXPECT_EQ(page.response.statusCode(), 200) << page.response.body().constData();
    const QRegularExpressionMatch request
        = QRegularExpression(QStringLiteral("name=\"request\" value=\"([^\"]+)\"")).match(QString::fromUtf8(page.response.body()));
    EXPECT_TRUE(request.hasMatch());
    TDWHttpRequest approval(QUrl(QStringLiteral("https://accounts.google.com/o/oauth2/approval")), "POST");
    approval.setHeader("Content-Type", "application/x-www-form-urlencoded");
    approval.setBody("request=" + request.captured(1).toUtf8() + "&decision=" + decision.toUtf8());
    approval.setRedirectHandler([](const TDWHttpResponse &, TDWHttpRequest &) { return false; });
    const Visit answer = fetch(approval);
    EXPECT_EQ(answer.response.statusCode(), 302);
    return QUrl(QString::fromUtf8(answer.response.header("Location")));
}

Visit TestBrowser::visit(const QUrl &url)
{
    return fetch(TDWHttpRequest(url));
}

Visit TestBrowser::answerConsent(const QUrl &authorizationUrl, const QString &decision)
{
    return visit(consent(authorizationUrl, decision));
}

RecordingUrlHandler::RecordingUrlHandler()
{
    for (const QString &scheme : Schemes)
        QDesktopServices::setUrlHandler(scheme, this, "open");
}

RecordingUrlHandler::~RecordingUrlHandler()
{
    for (const QString &scheme : Schemes)
        QDesktopServices::unsetUrlHandler(scheme);
}

void RecordingUrlHandler::open(const QUrl &url)
{
    opened << url;
}

} // namespace tdwtest
