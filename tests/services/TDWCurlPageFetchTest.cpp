// What curl is told: nothing secret on its command line, the URL behind
// "--url", https only, no redirects, a deadline; the token in its standard
// input and only for https Google hosts, however the URL is spelled; and the
// command as a report shows it.
#include "services/TDWCurlPageFetch.h"

#include <gtest/gtest.h>

namespace {

const QByteArray Token = QByteArrayLiteral("ya29.secret");

TDWCurlPageFetch::Request requestFor(const QString &url)
{
    TDWCurlPageFetch::Request request;
    request.url = url;
    request.accessToken = Token;
    request.bearerHosts = TDWHttpHostAllowlist({QStringLiteral("www.google.com"), QStringLiteral("www.googleapis.com")});
    return request;
}

TEST(TDWCurlPageFetch, TheCommandLineHoldsNoSecretAndTheUrlOnlyAsTheValueOfUrl)
{
    TDWCurlPageFetch::Request request = requestFor(QStringLiteral("https://www.google.com/m8/feeds/contacts/default/full?max-results=2"));
    request.headerFile = QStringLiteral("/cache/org.tidewell.GoogleDocsExport.headers.Ab12Cd.tmp");
    request.outputFile = QStringLiteral("/cache/org.tidewell.GoogleDocsExport.data.Ab12Cd.tmp");
    request.failOnHttpError = false;
    const QStringList arguments = TDWCurlPageFetch::arguments(request);
    EXPECT_EQ(arguments, QStringList({"--config", "-", "--silent", "--show-error", "--proto", "=https", "--max-redirs", "0", "--max-time", "60",
                                      "-o", request.outputFile, "-D", request.headerFile, "--url", request.url}));
    EXPECT_FALSE(arguments.join(u' ').contains(QString::fromLatin1(Token)));
    EXPECT_EQ(TDWCurlPageFetch::config(request).count("Authorization: Bearer " + Token), 1);
    EXPECT_EQ(TDWCurlPageFetch::displayCommand(request),
              QStringLiteral("curl \"-H\" \"Authorization: [REDACTED]\" \"--silent\" \"--show-error\" \"--proto\" \"=https\" \"--max-redirs\" \"0\" "
                             "\"--max-time\" \"60\" \"-o\" \"org.tidewell.GoogleDocsExport.data.Ab12Cd.tmp\" \"-D\" "
                             "\"org.tidewell.GoogleDocsExport.headers.Ab12Cd.tmp\" \"--url\" \"%1\"")
                  .arg(request.url));
}

TEST(TDWCurlPageFetch, TheTokenGoesOnlyToHttpsGoogleHostsHoweverTheUrlIsSpelled)
{
    const struct
    {
        const char *url;
        bool token;
    } cases[] = {
        {"https://www.google.com/m8/feeds", true},
        {"https://WWW.Google.COM./m8/feeds", true},
        {"http://www.google.com/m8/feeds", false},
        {"https://www.google.com:8443/m8/feeds", false},
        {"https://127.0.0.1/elsewhere", false},
        {"https://www.google.com@evil.example/", false},
        {"https://evil.example#@www.google.com/", false},
        {"-K/etc/passwd", false},
        {"//www.google.com/m8", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.url);
        const TDWCurlPageFetch::Request request = requestFor(QString::fromLatin1(c.url));
        EXPECT_EQ(TDWCurlPageFetch::config(request).contains(Token), c.token);
        const QStringList arguments = TDWCurlPageFetch::arguments(request);
        // The URL is always the value of "--url", never an argument of its own.
        ASSERT_GE(arguments.size(), 2);
        EXPECT_EQ(arguments.at(arguments.size() - 2), QStringLiteral("--url"));
        EXPECT_FALSE(TDWCurlPageFetch::displayCommand(request).contains(QString::fromLatin1(Token)));
    }
}

TEST(TDWCurlPageFetch, ACancelledFetchKeepsNothing)
{
    const TDWCurlPageFetch::Result result = TDWCurlPageFetch::run(requestFor(QStringLiteral("https://www.google.com/")), [] { return true; });
    EXPECT_EQ(result.statusCode, -1);
    EXPECT_TRUE(result.body.isEmpty());
}

} // namespace
