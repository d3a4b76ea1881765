// Bytes that are not the expected page must be refused by every parser, never
// read as a shorter (or empty) list: a full run would take the missing items for deleted.
#include "services/TDWParserFactory.h"

#include "ParserTestSupport.h"

#include <gtest/gtest.h>

namespace {

struct BadPage
{
    const char *parserClass;
    const char *why;
    QByteArray bytes;
};

QByteArray truncated(const char *fixtureName)
{
    const QByteArray page = parsertest::fixture(QString::fromLatin1(fixtureName));
    return page.left(page.size() * 2 / 3);
}

QByteArray deeplyNested(const QByteArray &open, const QByteArray &close, int depth)
{
    return open.repeated(depth) + close.repeated(depth);
}

std::vector<BadPage> badPages()
{
    std::vector<BadPage> pages;
    const char *all[] = {"TDWDocListParser", "TDWReaderTagListParser", "TDWReaderSubscriptionListParser",
                         "TDWDriveListParser", "TDWCalendarListParser", "TDWTaskListParser"};
    for (const char *parser : all) {
        pages.push_back({parser, "empty", QByteArray()});
        pages.push_back({parser, "plain text", "Service Unavailable"});
        pages.push_back({parser, "html error page", "<html><body><h1>502</h1></body></html>"});
        pages.push_back({parser, "invalid utf-8", "<feed>\xC3\x28</feed>{\"items\": [\"\xC3\x28\"]}"});
        pages.push_back({parser, "json array", "[]"});
    }
    for (const char *parser : {"TDWDocListParser", "TDWReaderTagListParser", "TDWReaderSubscriptionListParser"}) {
        pages.push_back({parser, "json object", R"({"items": []})"});
        pages.push_back({parser, "entity expansion",
                         "<!DOCTYPE feed [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">]><feed>&b;</feed>"});
        pages.push_back({parser, "nesting beyond the parser's limit", deeplyNested("<feed>", "</feed>", 100000)});
    }
    pages.push_back({"TDWDocListParser", "truncated feed", truncated("atom/contacts.xml")});
    pages.push_back({"TDWDocListParser", "reader object instead of a feed", parsertest::fixture(QStringLiteral("reader/tags.xml"))});
    pages.push_back({"TDWReaderTagListParser", "truncated tags", truncated("reader/tags.xml")});
    pages.push_back({"TDWReaderTagListParser", "subscription page", parsertest::fixture(QStringLiteral("reader/subscriptions.xml"))});
    pages.push_back({"TDWReaderTagListParser", "feed", parsertest::fixture(QStringLiteral("atom/groups.xml"))});
    pages.push_back({"TDWReaderSubscriptionListParser", "tag page", parsertest::fixture(QStringLiteral("reader/tags.xml"))});
    pages.push_back({"TDWReaderSubscriptionListParser", "error object", "<object><string name='error'>x</string></object>"});

    for (const char *parser : {"TDWDriveListParser", "TDWCalendarListParser", "TDWTaskListParser"}) {
        pages.push_back({parser, "atom feed", parsertest::fixture(QStringLiteral("atom/groups.xml"))});
        pages.push_back({parser, "no items", R"({"kind": "x"})"});
        pages.push_back({parser, "items not an array", R"({"items": {"id": "1"}})"});
        pages.push_back({parser, "item not an object", R"({"items": [1]})"});
        pages.push_back({parser, "id not a string", R"({"items": [{"id": 1, "mimeType": "text/plain"}]})"});
        pages.push_back({parser, "id missing", R"({"items": [{"title": "t", "mimeType": "text/plain"}]})"});
        pages.push_back({parser, "title not a string", R"({"items": [{"id": "1", "title": 7, "summary": 7, "mimeType": "text/plain"}]})"});
    }
    // The item objects these two keep whole must not nest beyond what can be copied safely.
    for (const char *parser : {"TDWDriveListParser", "TDWCalendarListParser"})
        pages.push_back({parser, "deep nesting", "{\"items\": [{\"id\": \"1\", \"mimeType\": \"text/plain\", \"x\": "
                                                     + deeplyNested("[", "]", 5000) + "}]}"});
    pages.push_back({"TDWDriveListParser", "truncated files", truncated("drive/files.json")});
    pages.push_back({"TDWDriveListParser", "next link not a string", R"({"items": [], "nextLink": 5})"});
    pages.push_back({"TDWDriveListParser", "change id too large", R"({"items": [], "largestChangeId": 18446744073709551615})"});
    pages.push_back({"TDWDriveListParser", "change id beyond 64 bits", R"({"items": [], "largestChangeId": 1e30})"});
    pages.push_back({"TDWDriveListParser", "change id not a number", R"({"items": [], "largestChangeId": "12abc"})"});
    pages.push_back({"TDWDriveListParser", "change id fraction", R"({"items": [], "largestChangeId": 12.5})"});
    pages.push_back({"TDWDriveListParser", "trashed flag as text", R"({"items": [{"id": "1", "labels": {"trashed": "true"}}]})"});
    pages.push_back({"TDWDriveListParser", "labels not an object", R"({"items": [{"id": "1", "mimeType": "text/plain", "labels": []}]})"});
    pages.push_back({"TDWDriveListParser", "parent not an object", R"({"items": [{"id": "1", "mimeType": "text/plain", "parents": ["p"]}]})"});
    pages.push_back({"TDWDriveListParser", "parent without id", R"({"items": [{"id": "1", "mimeType": "text/plain", "parents": [{"isRoot": false}]}]})"});
    pages.push_back({"TDWDriveListParser", "export link not a string", R"({"items": [{"id": "1", "mimeType": "application/vnd.google-apps.document", "exportLinks": {"application/vnd.openxmlformats-officedocument.wordprocessingml.document": 1}}]})"});
    pages.push_back({"TDWDriveListParser", "deleted change without file id", R"({"items": [{"kind": "drive#change", "deleted": true}]})"});
    pages.push_back({"TDWDriveListParser", "change file not an object", R"({"items": [{"kind": "drive#change", "fileId": "1", "file": "x"}]})"});
    pages.push_back({"TDWCalendarListParser", "page token not a string", R"({"items": [], "nextPageToken": 5})"});
    pages.push_back({"TDWCalendarListParser", "truncated calendar list", truncated("calendar/calendarlist.json")});
    pages.push_back({"TDWTaskListParser", "page token not a string", R"({"items": [], "nextPageToken": []})"});
    pages.push_back({"TDWTaskListParser", "truncated task lists", truncated("tasks/tasklists.json")});
    return pages;
}

TEST(TDWParser, RefusesPagesThatAreNotTheExpectedDocument)
{
    for (const BadPage &page : badPages()) {
        SCOPED_TRACE(std::string(page.parserClass) + ": " + page.why);
        std::unique_ptr<TDWParser> parser = TDWParserFactory::create(QString::fromLatin1(page.parserClass), parsertest::config());
        ASSERT_TRUE(parser);
        EXPECT_FALSE(parser->parse(page.bytes));
        EXPECT_TRUE(parser->docEntries().isEmpty());
        EXPECT_EQ(parser->numEntries(), 0);
        EXPECT_TRUE(parser->nextUrl().isNull());
    }
}

TEST(TDWParserFactory, MakesTheNamedParserOrNone)
{
    const struct
    {
        const char *name;
        const char *suffix;
    } known[] = {
        {"", "xml"},
        {"TDWDocListParser", "xml"},
        {"TDWReaderTagListParser", "xml"},
        {"TDWReaderSubscriptionListParser", "xml"},
        {"TDWDriveListParser", "json"},
        {"TDWCalendarListParser", "json"},
        {"TDWTaskListParser", "json"},
    };
    for (const auto &k : known) {
        std::unique_ptr<TDWParser> parser = TDWParserFactory::create(QString::fromLatin1(k.name), parsertest::config());
        ASSERT_TRUE(parser) << k.name;
        EXPECT_EQ(parser->fileTypeSuffix(), QString::fromLatin1(k.suffix)) << k.name;
        EXPECT_TRUE(parser->continuation().isNull()) << k.name;
        EXPECT_EQ(parser->largestChangeId(), TDWParser::NoChangeId) << k.name;
    }
    EXPECT_FALSE(TDWParserFactory::create(QStringLiteral("TDWNoSuchParser"), parsertest::config()));
}

} // namespace
