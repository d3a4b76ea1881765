#include "platform/foundation/TDWWireTrace.h"

#include "platform/foundation/TDWLog.h"

#include <QStringList>

#include <gtest/gtest.h>

TEST(TDWWireTrace, MasksCredentialsAndKeepsWhatTellsTheExchangeApart)
{
    const struct {
        const char *text;
        const char *masked;
    } cases[] = {
        {"Authorization: Bearer ya29.secret", "Authorization: Bearer ***"},
        {"authorization:Basic dXNlcjpwYXNz", "authorization:Basic ***"},
        {"Authorization: opaque-secret", "Authorization: ***"},
        {"Proxy-Authorization: Basic cHJveHk=", "Proxy-Authorization: Basic ***"},
        {"Cookie: sid=secret; other=x", "Cookie: ***"},
        {"Set-Cookie: sid=secret; Path=/", "Set-Cookie: ***"},
        {"GET /feeds?access_token=secret&max-results=5 HTTP/1.1", "GET /feeds?access_token=***&max-results=5 HTTP/1.1"},
        {"grant_type=refresh_token&refresh_token=1%2F%2Fsecret&client_id=id&client_secret=cs",
         "grant_type=refresh_token&refresh_token=***&client_id=id&client_secret=***"},
        {"code=4%2Fsecret&code_verifier=v3r1f1er&redirect_uri=http%3A%2F%2F127.0.0.1",
         "code=***&code_verifier=***&redirect_uri=http%3A%2F%2F127.0.0.1"},
        {"user=a&PASSWORD=hunter2", "user=a&PASSWORD=***"},
        // Names that only end like a secret one stay.
        {"error_code=7&response_code=200&code_challenge=abc", "error_code=7&response_code=200&code_challenge=abc"},
        {R"({"access_token": "ya29.secret", "expires_in": 3599, "refresh_token":"1//s\"ecret", "token_type": "Bearer"})",
         R"({"access_token": "***", "expires_in": 3599, "refresh_token": "***", "token_type": "Bearer"})"},
        {R"({"id_token" : "eyJ.x.y"})", R"({"id_token": "***"})"},
        // A text cut inside a value still loses the rest of it.
        {R"({"access_token": "ya29.sec)", R"({"access_token": "***")"},
        {"T1 AUTHENTICATE XOAUTH2 dXNlcj1hAWF1dGg9QmVhcmVyIHQBAQ==", "T1 AUTHENTICATE XOAUTH2 ***"},
        {"T1 AUTHENTICATE XOAUTH2", "T1 AUTHENTICATE XOAUTH2"},
        {"a2 login alice \"hunter2\"", "a2 login ***"},
        {"T3 LIST \"\" \"*\"\r\nT4 UID FETCH 1:* (FLAGS)", "T3 LIST \"\" \"*\"\r\nT4 UID FETCH 1:* (FLAGS)"},
        {"* OK [CAPABILITY IMAP4rev1 AUTH=XOAUTH2] ready", "* OK [CAPABILITY IMAP4rev1 AUTH=XOAUTH2] ready"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TDWWireTrace::maskSecrets(QByteArray(c.text)), QByteArray(c.masked)) << c.text;
}

TEST(TDWWireTrace, RecordsOneMaskedLogLinePerLineAndCutsLongTexts)
{
    QStringList lines;
    TDWLog::setObserver([&](const QString &line) { lines.append(line); });
    const QByteArray secret = "ya29.secret";
    // The secret sits past the cut in the long text: it is neither logged nor counted as shown.
    const QByteArray longText = QByteArray(5000, 'x') + "access_token=" + secret;
    TDWWireTrace::record(QStringLiteral("http host"), true, "POST /token HTTP/1.1\r\nAuthorization: Bearer " + secret);
    TDWWireTrace::record(QStringLiteral("http host"), false, longText);
    TDWLog::setObserver({});

    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], QStringLiteral("WIRE http host > POST /token HTTP/1.1"));
    EXPECT_EQ(lines[1], QStringLiteral("WIRE http host > Authorization: Bearer ***"));
    EXPECT_EQ(lines[2], QStringLiteral("WIRE http host < ") + QString(4096, QLatin1Char('x')));
    EXPECT_EQ(lines[3], QStringLiteral("WIRE http host < (%1 more bytes)").arg(longText.size() - 4096));
    for (const QString &line : lines)
        EXPECT_FALSE(line.contains(QString::fromLatin1(secret))) << line.toStdString();
}
