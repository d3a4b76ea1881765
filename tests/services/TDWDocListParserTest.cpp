// Atom rules that the fixture pages do not show: id forms, calendar and
// Documents entries, Reader labels under a fixed folder, page-level checks.
#include "services/TDWDocListParser.h"

#include "ParserTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

QList<TDWDocEntry> entriesOf(const QByteArray &feedBody, const QString &fixedFolderId = {})
{
    TDWDocListParser parser(parsertest::config());
    parser.setFixedFolderId(fixedFolderId);
    const QByteArray page = "<feed xmlns='http://www.w3.org/2005/Atom' xmlns:gd='http://schemas.google.com/g/2005' "
                            "xmlns:gCal='http://schemas.google.com/gCal/2005' "
                            "xmlns:gr='http://www.google.com/schemas/reader/atom/'>"
        + feedBody + "</feed>";
    EXPECT_TRUE(parser.parse(page));
    return parser.docEntries();
}

const QByteArray kCalendarKind =
    "<category scheme='http://schemas.google.com/g/2005#kind' term='http://schemas.google.com/gCal/2005#calendarmeta'/>";

TEST(TDWDocListParser, TurnsIdAndLinkTextsIntoItemIds)
{
    const QString calendars = QStringLiteral("http://www.google.com/calendar/feeds/default/calendars/");
    const struct
    {
        QString text;
        QString id;
    } cases[] = {
        {QString(), QString()},
        {QStringLiteral("https://docs.google.com/feeds/id/document%3A1AbC"), QStringLiteral("1AbC")},
        {QStringLiteral("https://docs.google.com/feeds/id/folder%3afolder%3A9"), QStringLiteral("folder%3A9")},
        {QStringLiteral("%3Aabc"), QStringLiteral("%3Aabc")},
        {QStringLiteral("document%3a"), QStringLiteral("document%3a")},
        {calendars + QStringLiteral("jo%40example.com"), QStringLiteral("jo@example.com")},
        {calendars + QStringLiteral("en.uk%23holiday%40group.v.calendar.google.com/"), QStringLiteral("en.uk#holiday@group.v.calendar.google.com")},
        {calendars + QStringLiteral("a+b%20c"), QStringLiteral("a b c")},
        {calendars + QStringLiteral("bad%ZZ"), QString()},
        {calendars + QStringLiteral("bad%FF"), QString()},
        {QStringLiteral("https://picasaweb.google.com/data/entry/user/1/albumid/58/photoid/9"), QStringLiteral("58/photoid/9")},
        {QStringLiteral("https://picasaweb.google.com/data/entry/user/1"), QString()},
        {QStringLiteral("tag:google.com,2005:reader/item/00ff"), QStringLiteral("tag:google.com,2005:reader/item/00ff")},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(TDWDocListParser::docIdFromUrl(c.text), c.id) << qPrintable(c.text);
        EXPECT_EQ(TDWDocListParser::docIdFromUrl(c.text).isNull(), c.id.isNull()) << qPrintable(c.text);
    }
}

TEST(TDWDocListParser, SuffixTestUsesTheFirstOccurrence)
{
    const QString like = QStringLiteral("/state/com.google/like");
    EXPECT_TRUE(TDWDocListParser::stringEndsWith(QStringLiteral("user/1/state/com.google/like"), like));
    EXPECT_FALSE(TDWDocListParser::stringEndsWith(QStringLiteral("user/1/state/com.google/like/x/state/com.google/like"), like));
    EXPECT_FALSE(TDWDocListParser::stringEndsWith(QStringLiteral("user/1/state/com.google/liked"), like));
    EXPECT_FALSE(TDWDocListParser::stringEndsWith(QString(), like));
    EXPECT_TRUE(TDWDocListParser::isSportsCalendarId(QStringLiteral("usa_nba#sports@group.v.calendar.google.com")));
    EXPECT_FALSE(TDWDocListParser::isSportsCalendarId(QStringLiteral("usa_nba#sports@group.v.calendar.google.com.x")));
}

TEST(TDWDocListParser, CalendarEntriesTakeTheFeedAuthorAsOwner)
{
    const QList<TDWDocEntry> entries = entriesOf(
        "<author><name>Jo</name><email>jo@example.com</email></author>"
        "<entry><id>http://www.google.com/calendar/feeds/default/calendars/jo%40example.com</id>" + kCalendarKind +
        "<title>Jo</title><gCal:accesslevel value='editor'/><gCal:accesslevel value='owner'/></entry>"
        "<entry><id>http://www.google.com/calendar/feeds/default/calendars/team%40example.com</id>" + kCalendarKind +
        "<title>Team</title><author><name>Lead</name><email>lead@example.com</email></author>"
        "<gCal:accesslevel value='root'/></entry>"
        "<entry><id>http://www.google.com/calendar/feeds/default/calendars/shared%40example.com</id>" + kCalendarKind +
        "<title>Shared</title><gCal:accesslevel value='read'/></entry>"
        "<entry><id>http://www.google.com/calendar/feeds/default/calendars/usa_nba%23sports%40group.v.calendar.google.com</id>"
        + kCalendarKind + "<title>NBA</title></entry>");
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries[0].docId(), QStringLiteral("jo@example.com"));
    EXPECT_EQ(entries[0].ownerEmail(), QStringLiteral("jo@example.com"));
    EXPECT_EQ(entries[0].accessRole(), QStringLiteral("owner"));
    EXPECT_EQ(entries[1].ownerEmail(), QStringLiteral("lead@example.com"));
    EXPECT_EQ(entries[1].ownerName(), QStringLiteral("Lead"));
    EXPECT_TRUE(entries[2].ownerEmail().isNull());
    EXPECT_EQ(entries[2].accessRole(), QStringLiteral("read"));
}

TEST(TDWDocListParser, DocumentsEntriesReadIdsParentsAndPeople)
{
    const QList<TDWDocEntry> entries = entriesOf(
        "<entry gd:etag='\"tag-ignored\"'><id>https://docs.google.com/feeds/id/spreadsheet%3A0Ak1</id>"
        "<updated>2013-04-01T10:00:00.123Z</updated>"
        "<category scheme='http://schemas.google.com/g/2005#kind' term='http://schemas.google.com/docs/2007#spreadsheet'/>"
        "<category scheme='http://schemas.google.com/g/2005/labels' term='http://schemas.google.com/g/2005/labels#starred'/>"
        "<title>Bud\r\nget</title><gd:lastViewed>2013-04-02T00:00:00Z</gd:lastViewed>"
        "<author><name>Jo</name><email>jo@example.com</email></author>"
        "<gd:lastModifiedBy><name>Sam</name><email>sam@example.com</email></gd:lastModifiedBy>"
        "<link rel='http://schemas.google.com/docs/2007#parent' href='https://docs.google.com/feeds/default/private/full/folder%3A0Bf1'/>"
        "<link rel='http://schemas.google.com/docs/2007#parent'/>"
        "<content type='application/atom+xml' src='https://docs.google.com/feeds/download/spreadsheets/Export?key=0Ak1'/>"
        "</entry>");
    ASSERT_EQ(entries.size(), 1);
    const TDWDocEntry &sheet = entries[0];
    EXPECT_EQ(sheet.docId(), QStringLiteral("0Ak1"));
    EXPECT_EQ(sheet.docType(), QStringLiteral("spreadsheet"));
    // A spreadsheet's version is its update time, as written.
    EXPECT_EQ(sheet.etag(), QStringLiteral("2013-04-01T10:00:00.123Z"));
    EXPECT_EQ(sheet.title(), QStringLiteral("Budget"));
    EXPECT_TRUE(sheet.starred());
    EXPECT_TRUE(sheet.viewedByMe());
    EXPECT_EQ(sheet.ownerName(), QStringLiteral("Jo"));
    EXPECT_EQ(sheet.lastModifiedName(), QStringLiteral("Sam"));
    EXPECT_EQ(sheet.lastModifiedEmail(), QStringLiteral("sam@example.com"));
    EXPECT_EQ(sheet.parentFolderIds(), QSet<QString>{QStringLiteral("0Bf1")});
    EXPECT_EQ(sheet.contentUrl(), QStringLiteral("https://docs.google.com/feeds/download/spreadsheets/Export?key=0Ak1"));
}

TEST(TDWDocListParser, PhotoWithoutPathIsItsOwnParent)
{
    const QList<TDWDocEntry> entries = entriesOf(
        "<entry><id>lone</id><category scheme='http://schemas.google.com/g/2005#kind' "
        "term='http://schemas.google.com/photos/2007#photo'/><title>x.png</title></entry>");
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0].parentFolderIds(), QSet<QString>{QStringLiteral("lone")});
    EXPECT_EQ(entries[0].filenameExtension(), QStringLiteral("png"));
}

TEST(TDWDocListParser, BlankTitlesStayPresent)
{
    // An absent title would never match the stored revision, so every run would make a new one.
    const QList<TDWDocEntry> entries = entriesOf(
        "<entry><id>https://picasaweb.google.com/data/entry/user/1/albumid/7</id><category "
        "scheme='http://schemas.google.com/g/2005#kind' term='http://schemas.google.com/photos/2007#album'/>"
        "<title>\t \xC2\xA0</title></entry>");
    ASSERT_EQ(entries.size(), 1);
    EXPECT_FALSE(entries[0].title().isNull());
    EXPECT_TRUE(entries[0].title().isEmpty());
}

TEST(TDWDocListParser, ReaderLabelsGoToTheFixedFolder)
{
    const QByteArray article =
        "<entry><id gr:original-id='http://a.example/1'>tag:google.com,2005:reader/item/01</id>"
        "<category term='user/1/state/com.google/starred' scheme='http://www.google.com/reader/'/>"
        "<category term='user/1/label/Science' scheme='http://www.google.com/reader/'/>"
        "<category term='user/1/label/Other' scheme='http://example.com/not-reader/'/>"
        "<title>A</title><link rel='alternate' href='http://a.example/1'/></entry>";
    const QList<TDWDocEntry> labelled = entriesOf(article, QStringLiteral("articletag:user/1/label/Science"));
    ASSERT_EQ(labelled.size(), 1);
    EXPECT_EQ(labelled[0].parentFolderIds(), QSet<QString>{QStringLiteral("articletag:user/1/label/Science")});
    EXPECT_TRUE(labelled[0].starred());

    const QList<TDWDocEntry> plain = entriesOf(article);
    ASSERT_EQ(plain.size(), 1);
    EXPECT_TRUE(plain[0].parentFolderIds().isEmpty());
}

TEST(TDWDocListParser, RefusesPagesThatAreNotFeedsAndReportsNodelessEntries)
{
    TDWDocListParser parser(parsertest::config());
    EXPECT_FALSE(parser.parse("<html><body>Service unavailable</body></html>"));
    EXPECT_TRUE(parser.docEntries().isEmpty());
    EXPECT_EQ(parser.numEntries(), 0);
    EXPECT_TRUE(parser.nextUrl().isNull());

    ASSERT_TRUE(parser.parse("<feed xmlns='http://www.w3.org/2005/Atom'><title>empty</title></feed>"));
    EXPECT_TRUE(parser.docEntries().isEmpty());
    EXPECT_EQ(parser.numEntries(), 0);

    tdwtest::LogCapture log;
    EXPECT_FALSE(parser.entryFromNode(TDWXMLElement()).has_value());
    EXPECT_EQ(log.lines(), QStringList{QStringLiteral("ERROR: returning nil at entryFromNode")});
}

} // namespace
