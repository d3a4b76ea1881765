// JSON list rules beyond the fixture pages: next-page URLs and their token
// encoding, change ids, and the service table's media types.
#include "common/TDWServiceTable.h"
#include "services/TDWCalendarListParser.h"
#include "services/TDWDriveListParser.h"
#include "services/TDWParserFactory.h"
#include "services/TDWTaskListParser.h"

#include "ParserTestSupport.h"

#include <gtest/gtest.h>

namespace {

std::shared_ptr<const TDWParserConfig> calendarConfig(const QString &firstListUrl)
{
    const QVariantMap listUrl{{QStringLiteral("url"), firstListUrl}};
    const QVariantMap service{{QStringLiteral("id"), QStringLiteral("calendar")},
                              {QStringLiteral("listurls"), QVariantList{listUrl}}};
    return std::make_shared<const TDWParserConfig>(QVariantMap{{QStringLiteral("services"), QVariantList{service}}});
}

QByteArray pageWithToken(const char *token)
{
    return QByteArray(R"({"items": [], "nextPageToken": ")") + token + "\"}";
}

TEST(TDWCalendarListParser, NextUrlJoinsTheEncodedTokenToTheFirstListUrl)
{
    const struct
    {
        const char *base;
        const char *token;
        const char *next;
    } cases[] = {
        {"https://api.example/calendarList", "abc", "https://api.example/calendarList?pageToken=abc"},
        {"https://api.example/calendarList?minAccessRole=reader", "abc",
         "https://api.example/calendarList?minAccessRole=reader&pageToken=abc"},
        // Reserved characters and an escape already in the token reach the service unchanged.
        {"https://api.example/calendarList", "a+b&c=d/e%2B f",
         "https://api.example/calendarList?pageToken=a%2Bb%26c%3Dd%2Fe%252B%20f"},
    };
    for (const auto &c : cases) {
        TDWCalendarListParser parser(calendarConfig(QString::fromLatin1(c.base)));
        ASSERT_TRUE(parser.parse(pageWithToken(c.token)));
        EXPECT_EQ(parser.nextUrl(), QString::fromLatin1(c.next));
    }
    TDWCalendarListParser last(calendarConfig(QStringLiteral("https://api.example/calendarList")));
    ASSERT_TRUE(last.parse(R"({"items": []})"));
    EXPECT_TRUE(last.nextUrl().isNull());
}

TEST(TDWTaskListParser, NextUrlCarriesKeyAndTokenEncodedOnce)
{
    auto config = std::make_shared<TDWParserConfig>();
    config->setGoogleApisHost(QStringLiteral("127.0.0.1:8443"));
    config->setApiKey(QStringLiteral("AIza/Key"));
    TDWTaskListParser parser(config);
    ASSERT_TRUE(parser.parse(pageWithToken("Cg%2B+&=x")));
    EXPECT_EQ(parser.nextUrl(), QStringLiteral("https://127.0.0.1:8443/tasks/v1/users/@me/lists?key=AIza%2FKey&alt=json"
                                               "&maxResults=100&pageToken=Cg%252B%2B%26%3Dx"));
    ASSERT_TRUE(parser.parse(R"({"items": [{"id": "L1"}]})"));
    EXPECT_TRUE(parser.nextUrl().isNull());
    EXPECT_EQ(parser.docEntries().size(), 1);
}

TEST(TDWTaskListParser, NextUrlTakesTheApisHostAndKeyFromTheServiceTable)
{
    const QVariantMap oauth{{QStringLiteral("userInfoEmailUrl"), QStringLiteral("https://apis.example:8443/userinfo/email?alt=json")},
                            {QStringLiteral("apiKey"), QStringLiteral("AIza/Key")}};
    TDWTaskListParser keyed(std::make_shared<const TDWParserConfig>(QVariantMap{{QStringLiteral("oauth"), oauth}}));
    ASSERT_TRUE(keyed.parse(pageWithToken("t1")));
    EXPECT_EQ(keyed.nextUrl(),
              QStringLiteral("https://apis.example:8443/tasks/v1/users/@me/lists?key=AIza%2FKey&alt=json&maxResults=100&pageToken=t1"));

    // The program's own table names the host and no key.
    TDWTaskListParser program(std::make_shared<const TDWParserConfig>(TDWServiceTable::shared().getConfig()));
    ASSERT_TRUE(program.parse(pageWithToken("t1")));
    EXPECT_EQ(program.nextUrl(), QStringLiteral("https://www.googleapis.com/tasks/v1/users/@me/lists?alt=json&maxResults=100&pageToken=t1"));

    // Without a host the next page cannot be named: the page is refused rather
    // than read as the end of the list. The last page still reads.
    TDWTaskListParser hostless(std::make_shared<const TDWParserConfig>());
    EXPECT_FALSE(hostless.parse(pageWithToken("t1")));
    ASSERT_TRUE(hostless.parse(R"({"kind": "tasks#taskLists", "items": [{"id": "L1"}]})"));
    EXPECT_TRUE(hostless.nextUrl().isNull());
}

TEST(TDWJsonListParsers, APageOfTheListsKindWithoutItemsIsEmptyAndAnyOtherPageIsRefused)
{
    const struct
    {
        const char *parser;
        const char *page;
        bool read;
    } cases[] = {
        // Google leaves an empty array out.
        {"TDWDriveListParser", R"({"kind": "drive#fileList", "etag": "\"e\""})", true},
        {"TDWDriveListParser", R"({"kind": "drive#changeList", "largestChangeId": "1007"})", true},
        {"TDWCalendarListParser", R"({"kind": "calendar#calendarList", "etag": "\"e\""})", true},
        {"TDWTaskListParser", R"({"kind": "tasks#taskLists", "etag": "\"e\""})", true},
        // An error page, a page of another list and a page without a kind are not empty lists.
        {"TDWDriveListParser", R"({"error": {"errors": [{"reason": "backendError"}], "code": 500, "message": "x"}})", false},
        {"TDWCalendarListParser", R"({"error": {"code": 403, "message": "x"}, "kind": "calendar#error"})", false},
        {"TDWTaskListParser", R"({})", false},
        {"TDWCalendarListParser", R"({"kind": "tasks#taskLists"})", false},
        {"TDWTaskListParser", R"({"kind": "calendar#calendarList"})", false},
        {"TDWDriveListParser", R"({"kind": "drive#about", "largestChangeId": "1007"})", false},
        {"TDWDriveListParser", R"({"kind": 7})", false},
        // "items" of the wrong type is refused whatever the kind says.
        {"TDWTaskListParser", R"({"kind": "tasks#taskLists", "items": null, "nextPageToken": "t"})", true},
        {"TDWTaskListParser", R"({"kind": "tasks#taskLists", "items": {}})", false},
    };
    for (const auto &c : cases) {
        const std::unique_ptr<TDWParser> parser = TDWParserFactory::create(QString::fromLatin1(c.parser), parsertest::config());
        ASSERT_TRUE(parser);
        EXPECT_EQ(parser->parse(c.page), c.read) << c.parser << " " << c.page;
        if (c.read) {
            EXPECT_TRUE(parser->docEntries().isEmpty()) << c.page;
            EXPECT_EQ(parser->numEntries(), 0) << c.page;
        }
    }
    TDWDriveListParser changes(parsertest::config());
    ASSERT_TRUE(changes.parse(R"({"kind": "drive#changeList", "largestChangeId": "1007"})"));
    EXPECT_EQ(changes.largestChangeId(), 1007);
}

TEST(TDWDriveListParser, ReadsTheLargestChangeIdInEitherForm)
{
    const struct
    {
        const char *page;
        qint64 changeId;
    } cases[] = {
        {R"({"items": []})", TDWParser::NoChangeId},
        {R"({"items": [], "largestChangeId": null})", TDWParser::NoChangeId},
        {R"({"items": [], "largestChangeId": "0"})", 0},
        {R"({"items": [], "largestChangeId": 4711})", 4711},
        {R"({"items": [], "largestChangeId": "9223372036854775806"})", 9223372036854775806},
    };
    for (const auto &c : cases) {
        TDWDriveListParser parser(parsertest::config());
        ASSERT_TRUE(parser.parse(c.page)) << c.page;
        EXPECT_EQ(parser.largestChangeId(), c.changeId) << c.page;
    }
}

TEST(TDWDriveListParser, FormsNeedExportLinksAndTheLastMediaTypeEntryWins)
{
    TDWDriveListParser parser(parsertest::config());
    ASSERT_TRUE(parser.parse(R"({"items": [{"id": "f1", "title": "Survey", "mimeType": "application/vnd.google-apps.form",
        "exportLinks": {"application/zip": "https://docs.example.com/f1.zip"}}]})"));
    const QList<TDWDocEntry> forms = parser.docEntries();
    ASSERT_EQ(forms.size(), 1);
    EXPECT_EQ(forms[0].docType(), QStringLiteral("form"));
    EXPECT_EQ(forms[0].contentUrl(), QStringLiteral("https://docs.example.com/f1.zip"));

    const QVariantMap older{{QStringLiteral("id"), QStringLiteral("oldsheet")},
                            {QStringLiteral("googleMimeType"), QStringLiteral("application/x-sheet")}};
    const QVariantMap newer{{QStringLiteral("id"), QStringLiteral("sheet")},
                            {QStringLiteral("googleMimeType"), QStringLiteral("application/x-sheet")}};
    TDWDriveListParser mapped(std::make_shared<const TDWParserConfig>(
        QVariantMap{{QStringLiteral("doctypes"), QVariantList{older, newer}}}));
    EXPECT_EQ(mapped.docTypeByGoogleMimeType(QStringLiteral("application/x-sheet")), QStringLiteral("sheet"));
    EXPECT_EQ(mapped.docTypeByGoogleMimeType(QStringLiteral("image/png")), QStringLiteral("file"));
    EXPECT_TRUE(mapped.docTypeByGoogleMimeType(QStringLiteral("application/vnd.google-apps.site")).isNull());
}

} // namespace
