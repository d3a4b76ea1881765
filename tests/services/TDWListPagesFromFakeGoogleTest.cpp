// Every kind of list page, fetched from the fake Google server through the
// HTTP layer at the service table's own URLs and read with the parsers the
// table names: the entries and the next-page links of each list, before and
// after a scripted run of changes, and the page faults a listing must see.
#include "common/TDWServiceTable.h"
#include "common/TDWUrlEncoding.h"
#include "platform/http/TDWHttpClient.h"
#include "services/TDWParserFactory.h"

#include "FakeGoogleTest.h"
#include "ParserTestSupport.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QString Token = QStringLiteral("at-user");
const QString Picasa = QStringLiteral("https://picasaweb.google.com/data/feed/api/user/default/albumid/");
const QString TaskLists = QStringLiteral("https://www.googleapis.com/tasks/v1/users/@me/lists?maxResults=100");

// Two pages of each list (page_size 2), then one run of changes.
QJsonObject scenario()
{
    return QJsonDocument::fromJson(R"({
      "accounts": [{"email": "User@Example.com", "access_token": "at-user"}],
      "lists": {
        "page_size": 2,
        "data": {"User@Example.com": {
          "docs": {"files": [
            {"id": "f1", "title": "Report.pdf", "mimeType": "application/pdf", "parents": ["fo"]},
            {"id": "d1", "title": "Notes", "mimeType": "application/vnd.google-apps.document"},
            {"id": "fo", "title": "Work", "mimeType": "application/vnd.google-apps.folder"}]},
          "contacts": {
            "groups": [{"id": "6", "title": "System Group: My Contacts", "system": "Contacts"}, {"id": "g1", "title": "Friends"}],
            "contacts": [{"id": "c1", "title": "Ann", "parents": ["g1"]},
                         {"id": "c2", "title": "", "email": "bob@example.com", "photo_etag": "\"ph\""},
                         {"id": "c3", "title": "Cy"}]},
          "calendar": {"calendars": [{"id": "user@example.com", "summary": "Me"},
                                     {"id": "p#sports@group.v.calendar.google.com", "summary": "Sports"},
                                     {"id": "team@example.com", "summary": "Team", "accessRole": "reader"}]},
          "tasks": {"tasklists": [{"id": "L1", "title": "Home"}, {"id": "L2", "title": "Work"}, {"id": "L3", "title": "Shop"}]},
          "reader": {
            "tags": [{"id": "News"}],
            "subscriptions": [{"id": "feed/http://a.example/rss", "title": "A", "parents": ["News"]}],
            "articles": [{"id": "a1", "title": "One", "link": "http://a.example/1"},
                         {"id": "a2", "title": "Two", "link": "http://a.example/2"},
                         {"id": "a3", "title": "Three", "link": "http://a.example/3"}]},
          "picasaweb": {
            "albums": [{"id": "100", "title": "Trip"}, {"id": "101", "title": "Home"}],
            "photos": [{"id": "200", "title": "IMG_1.JPG", "parents": ["100"], "keywords": ["sea", "sun"]}],
            "comments": [{"id": "300", "content": "Nice", "parents": ["200"]}]}}},
        "runs": [{"User@Example.com": {
          "docs": {"files": {"add": [{"id": "n1", "title": "New.txt", "mimeType": "text/plain"}],
                             "change": [{"id": "d1", "title": "Notes v2"}],
                             "move": [{"id": "f1", "parents": ["root"]}],
                             "trash": ["fo"]}},
          "contacts": {"contacts": {"delete": ["c2"]}},
          "calendar": {"calendars": {"change": [{"id": "team@example.com", "summary": "Team B"}]}},
          "picasaweb": {"photos": {"move": [{"id": "200", "parents": ["101"]}]}},
          "tasks": {"tasklists": {"delete": ["L1", "L2", "L3"]}},
          "reader": {"articles": {"add": [{"id": "a4", "title": "Four", "link": "http://a.example/4"}]}}}}]
      }
    })").object();
}

// One list page as the listing sees it.
struct Page
{
    int status = 0;
    QByteArray etag;
    bool parsed = false;
    QList<TDWDocEntry> entries;
    QString nextUrl;
    QString continuation;
    qint64 largestChangeId = TDWParser::NoChangeId;
};

// Every list: the entries of all its pages and the URLs that led to them.
struct Listing
{
    QList<TDWDocEntry> entries;
    QStringList urls;
    qint64 largestChangeId = TDWParser::NoChangeId;

    QStringList field(const QString &(TDWDocEntry::*getter)() const) const
    {
        QStringList values;
        for (const TDWDocEntry &entry : entries)
            values << (entry.*getter)();
        return values;
    }
};

class TDWListPagesFromFakeGoogleTest : public tdwtest::FakeGoogleTest
{
protected:
    static void SetUpTestSuite()
    {
        startFake(scenario());
    }

    // The service's entry of the program's service table; empty when it has none.
    static TDWServiceConfig service(const QString &id)
    {
        return TDWServiceTable::shared().serviceConfig(id);
    }

    static QList<TDWServiceConfig::ListUrl> listUrls(const QString &serviceId)
    {
        return service(serviceId).listUrls;
    }

    // One page, fetched as the listing does: bearer token, GData-Version of the service.
    static Page fetch(const QString &url, const QString &parserClass, const QString &serviceId, const QByteArray &ifNoneMatch = {})
    {
        TDWHttpRequest request{QUrl(url)};
        request.setBearerToken(Token.toUtf8(), TDWHttpHostAllowlist(tdwtest::FakeGoogleServer::mappedHosts()));
        const QString version = service(serviceId).gdataVersion;
        if (!version.isEmpty())
            request.setHeader("GData-Version", version.toUtf8());
        if (!ifNoneMatch.isEmpty())
            request.setHeader("If-None-Match", ifNoneMatch);
        TDWHttpClient client;
        const TDWHttpResponse response = client.perform(request);
        EXPECT_TRUE(response.hasResponse()) << url.toStdString();
        Page page;
        page.status = response.statusCode();
        page.etag = response.header("ETag");
        if (page.status != 200)
            return page;
        static const auto config = std::make_shared<const TDWParserConfig>(TDWServiceTable::shared().getConfig());
        const std::unique_ptr<TDWParser> parser = TDWParserFactory::create(parserClass, config);
        page.parsed = parser && parser->parse(response.body());
        if (!page.parsed)
            return page;
        page.entries = parser->docEntries();
        page.nextUrl = parser->nextUrl();
        page.continuation = parser->continuation();
        page.largestChangeId = parser->largestChangeId();
        return page;
    }

    // Every page of one list: next links first, then a Reader continuation
    // on the list's configured URL.
    static Listing list(const QString &url, const QString &parserClass, const QString &serviceId)
    {
        Listing listing;
        QString next = url;
        while (!next.isNull() && listing.urls.size() < 20) {
            listing.urls << next;
            const Page page = fetch(next, parserClass, serviceId);
            EXPECT_EQ(page.status, 200) << next.toStdString();
            EXPECT_TRUE(page.parsed) << next.toStdString();
            listing.entries << page.entries;
            if (listing.largestChangeId == TDWParser::NoChangeId)
                listing.largestChangeId = page.largestChangeId;
            next = page.nextUrl;
            if (next.isNull() && !page.continuation.isNull())
                next = url + QLatin1String("&c=") + TDWUrlEncoding::stringByUrlEncoding(page.continuation);
        }
        return listing;
    }

    static Listing list(const TDWServiceConfig::ListUrl &entry, const QString &serviceId)
    {
        return list(entry.url, entry.parserClass, serviceId);
    }

    static QString driveFilesUrl()
    {
        return listUrls(QStringLiteral("docs")).first().url.replace(
            QLatin1String("${includeQuery}"), TDWUrlEncoding::stringByUrlEncoding(QStringLiteral("trashed=false")));
    }

    static qint64 largestChangeIdFromAbout()
    {
        TDWHttpRequest request{QUrl(service(QStringLiteral("docs")).maxChangeIdUrl)};
        request.setBearerToken(Token.toUtf8(), TDWHttpHostAllowlist(tdwtest::FakeGoogleServer::mappedHosts()));
        TDWHttpClient client;
        const TDWHttpResponse response = client.perform(request);
        EXPECT_EQ(response.statusCode(), 200);
        return QJsonDocument::fromJson(response.body()).object().value(QStringLiteral("largestChangeId")).toString().toLongLong();
    }
};

TEST_F(TDWListPagesFromFakeGoogleTest, DriveFileListThenChangeListAcrossARun)
{
    const qint64 firstChangeId = largestChangeIdFromAbout();
    const Listing files = list(driveFilesUrl(), QStringLiteral("TDWDriveListParser"), QStringLiteral("docs"));
    EXPECT_EQ(files.field(&TDWDocEntry::docId), QStringList({"f1", "d1", "fo"}));
    EXPECT_EQ(files.field(&TDWDocEntry::docType), QStringList({"file", "document", "folder"}));
    ASSERT_EQ(files.urls.size(), 2);
    EXPECT_TRUE(files.urls[1].startsWith(QStringLiteral("https://www.googleapis.com/drive/v2/files?"))) << files.urls[1].toStdString();
    EXPECT_TRUE(files.urls[1].contains(QStringLiteral("pageToken="))) << files.urls[1].toStdString();
    EXPECT_EQ(files.entries[0].parentFolderIds(), QSet<QString>{QStringLiteral("fo")});
    EXPECT_TRUE(files.entries[0].contentUrl().endsWith(QStringLiteral("/drive/v2/files/f1?alt=media")));
    EXPECT_FALSE(files.entries[1].contentUrl().isEmpty());
    EXPECT_EQ(files.entries[0].lastModifiedDate(), QDateTime(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC));

    ASSERT_EQ(s_fake->nextRun(), 1);
    const QString changesUrl = service(QStringLiteral("docs")).changeUrls.first().url.replace(
        QLatin1String("${startChangeId}"), QString::number(firstChangeId + 1));
    const Listing changes = list(changesUrl, QStringLiteral("TDWDriveListParser"), QStringLiteral("docs"));
    EXPECT_EQ(changes.field(&TDWDocEntry::docId), QStringList({"n1", "d1", "f1", "fo"}));
    QStringList deleted;
    for (const TDWDocEntry &entry : changes.entries)
        deleted << (entry.deleted() ? QStringLiteral("deleted") : entry.title());
    EXPECT_EQ(deleted, QStringList({"New.txt", "Notes v2", "Report.pdf", "deleted"}));
    EXPECT_TRUE(changes.entries[2].parentFolderIds().isEmpty());
    EXPECT_EQ(changes.entries[0].lastModifiedDate(), QDateTime(QDate(2026, 1, 2), QTime(12, 0), Qt::UTC));
    EXPECT_EQ(changes.largestChangeId, firstChangeId + 4);
    EXPECT_EQ(largestChangeIdFromAbout(), firstChangeId + 4);

    const Listing after = list(driveFilesUrl(), QStringLiteral("TDWDriveListParser"), QStringLiteral("docs"));
    EXPECT_EQ(after.field(&TDWDocEntry::docId), QStringList({"f1", "d1", "n1"}));
    // Nothing changed since: a change page without "items" is an empty page.
    const Listing none = list(QString(changesUrl).replace(QString::number(firstChangeId + 1), QString::number(firstChangeId + 5)),
                              QStringLiteral("TDWDriveListParser"), QStringLiteral("docs"));
    EXPECT_TRUE(none.entries.isEmpty());
    EXPECT_EQ(none.largestChangeId, firstChangeId + 4);
}

TEST_F(TDWListPagesFromFakeGoogleTest, ContactGroupsAndContactsPageByNextLink)
{
    const QList<TDWServiceConfig::ListUrl> urls = listUrls(QStringLiteral("contacts"));
    ASSERT_EQ(urls.size(), 2);
    const Listing groups = list(urls[0], QStringLiteral("contacts"));
    EXPECT_EQ(groups.field(&TDWDocEntry::title), QStringList({"My Contacts", "Friends"}));
    EXPECT_EQ(groups.field(&TDWDocEntry::docType), QStringList({"group", "group"}));
    const Listing contacts = list(urls[1], QStringLiteral("contacts"));
    ASSERT_EQ(contacts.urls.size(), 2);
    EXPECT_TRUE(contacts.urls[1].contains(QStringLiteral("start-index=3"))) << contacts.urls[1].toStdString();
    EXPECT_EQ(contacts.field(&TDWDocEntry::title), QStringList({"Ann", "bob@example.com", "Cy"}));
    EXPECT_EQ(contacts.entries[0].parentFolderIds(), QSet<QString>{groups.entries[1].docId()});
    EXPECT_EQ(contacts.entries[1].photoEtag(), QStringLiteral("\"ph\""));
    EXPECT_TRUE(contacts.entries[0].photoEtag().isNull());

    ASSERT_EQ(s_fake->nextRun(), 1);
    const Listing after = list(urls[1], QStringLiteral("contacts"));
    EXPECT_EQ(after.field(&TDWDocEntry::title), QStringList({"Ann", "Cy"}));
    EXPECT_EQ(after.urls.size(), 1);
}

TEST_F(TDWListPagesFromFakeGoogleTest, CalendarAndTaskListsPageByToken)
{
    const Listing calendars = list(listUrls(QStringLiteral("calendar")).first(), QStringLiteral("calendar"));
    // The sports calendar is left out; the next page comes from the table's list URL and the token.
    EXPECT_EQ(calendars.field(&TDWDocEntry::docId), QStringList({"user@example.com", "team@example.com"}));
    EXPECT_EQ(calendars.field(&TDWDocEntry::accessRole), QStringList({"owner", "reader"}));
    ASSERT_EQ(calendars.urls.size(), 2);
    EXPECT_TRUE(calendars.urls[1].endsWith(QStringLiteral("?maxResults=250&pageToken=p%2F2%2B"))) << calendars.urls[1].toStdString();
    const QString teamEtag = calendars.entries[1].etag();
    EXPECT_FALSE(teamEtag.isEmpty());

    // The task lists have no entry in the service table.
    const Listing taskLists = list(TaskLists, QStringLiteral("TDWTaskListParser"), QStringLiteral("tasks"));
    EXPECT_EQ(taskLists.field(&TDWDocEntry::title), QStringList({"Home", "Work", "Shop"}));
    ASSERT_EQ(taskLists.urls.size(), 2);
    EXPECT_TRUE(taskLists.urls[1].startsWith(QStringLiteral("https://www.googleapis.com/tasks/v1/users/@me/lists?"))) << taskLists.urls[1].toStdString();

    // A changed calendar has a new etag. Every task list deleted: Google's page then has no "items".
    ASSERT_EQ(s_fake->nextRun(), 1);
    const Listing changed = list(listUrls(QStringLiteral("calendar")).first(), QStringLiteral("calendar"));
    EXPECT_EQ(changed.field(&TDWDocEntry::title), QStringList({"Me", "Team B"}));
    EXPECT_EQ(changed.entries[0].etag(), calendars.entries[0].etag());
    EXPECT_NE(changed.entries[1].etag(), teamEtag);
    const Page emptied = fetch(TaskLists, QStringLiteral("TDWTaskListParser"), QStringLiteral("tasks"));
    EXPECT_TRUE(emptied.parsed);
    EXPECT_TRUE(emptied.entries.isEmpty());
    EXPECT_TRUE(emptied.nextUrl.isNull());
}

TEST_F(TDWListPagesFromFakeGoogleTest, ReaderListsAndSavedArticlesByContinuation)
{
    const QList<TDWServiceConfig::ListUrl> urls = listUrls(QStringLiteral("reader"));
    ASSERT_EQ(urls.size(), 5);
    const Listing tags = list(urls[0], QStringLiteral("reader"));
    ASSERT_EQ(tags.entries.size(), 2);
    EXPECT_EQ(tags.field(&TDWDocEntry::docType), QStringList({"readertag", "articletag"}));
    EXPECT_EQ(tags.field(&TDWDocEntry::title), QStringList({"News", "News"}));
    const Listing subscriptions = list(urls[1], QStringLiteral("reader"));
    ASSERT_EQ(subscriptions.entries.size(), 1);
    EXPECT_EQ(subscriptions.entries[0].parentFolderIds(), QSet<QString>{tags.entries[0].docId()});
    EXPECT_EQ(subscriptions.entries[0].contentUrl(), QStringLiteral("http://a.example/rss"));

    const Listing starred = list(urls[2], QStringLiteral("reader"));
    EXPECT_EQ(starred.field(&TDWDocEntry::contentUrl), QStringList({"http://a.example/1", "http://a.example/2", "http://a.example/3"}));
    EXPECT_EQ(starred.field(&TDWDocEntry::docType), QStringList({"bookmark", "bookmark", "bookmark"}));
    ASSERT_EQ(starred.urls.size(), 2);
    // The continuation holds "/" and "+", percent-encoded after the configured URL.
    EXPECT_TRUE(starred.urls[1].startsWith(urls[2].url + QLatin1String("&c=p%2F2%2B")));
    for (int i = 3; i < 5; ++i)
        EXPECT_TRUE(list(urls[i], QStringLiteral("reader")).entries.isEmpty());

    ASSERT_EQ(s_fake->nextRun(), 1);
    EXPECT_EQ(list(urls[2], QStringLiteral("reader")).field(&TDWDocEntry::title), QStringList({"One", "Two", "Three", "Four"}));
}

TEST_F(TDWListPagesFromFakeGoogleTest, PicasaAlbumsThenPhotoAndCommentFeeds)
{
    const Listing albums = list(listUrls(QStringLiteral("picasaweb")).first(), QStringLiteral("picasaweb"));
    EXPECT_EQ(albums.field(&TDWDocEntry::docId), QStringList({"100", "101"}));
    // Ids go into the feed paths percent-encoded, as the listing sends them.
    const auto feed = [](const TDWDocEntry &entry, const char *kind) {
        return Picasa + TDWUrlEncoding::stringByUrlEncoding(entry.docId()) + QLatin1String("?kind=") + QLatin1String(kind);
    };
    const Listing photos = list(feed(albums.entries[0], "photo"), QString(), QStringLiteral("picasaweb"));
    ASSERT_EQ(photos.entries.size(), 1);
    const TDWDocEntry &photo = photos.entries[0];
    EXPECT_EQ(photo.docId(), QStringLiteral("100/photoid/200"));
    EXPECT_EQ(photo.title(), QStringLiteral("IMG_1"));
    EXPECT_EQ(photo.filenameExtension(), QStringLiteral("JPG"));
    EXPECT_EQ(photo.parentFolderIds(), (QSet<QString>{QStringLiteral("100"), QStringLiteral("tag:sea"), QStringLiteral("tag:sun")}));
    EXPECT_TRUE(photo.contentUrl().endsWith(QStringLiteral("?imgmax=800"))) << photo.contentUrl().toStdString();
    const Listing comments = list(feed(photo, "comment"), QString(), QStringLiteral("picasaweb"));
    ASSERT_EQ(comments.entries.size(), 1);
    EXPECT_EQ(comments.entries[0].docType(), QStringLiteral("comment"));
    EXPECT_EQ(comments.entries[0].content(), QStringLiteral("Nice"));
    EXPECT_EQ(comments.entries[0].parentFolderIds(), QSet<QString>{photo.docId()});

    // A photo moved to another album comes back under a new id.
    ASSERT_EQ(s_fake->nextRun(), 1);
    EXPECT_TRUE(list(feed(albums.entries[0], "photo"), QString(), QStringLiteral("picasaweb")).entries.isEmpty());
    const Listing moved = list(feed(albums.entries[1], "photo"), QString(), QStringLiteral("picasaweb"));
    EXPECT_EQ(moved.field(&TDWDocEntry::docId), QStringList({"101/photoid/200"}));
    EXPECT_EQ(moved.entries[0].parentFolderIds(), (QSet<QString>{QStringLiteral("101"), QStringLiteral("tag:sea"), QStringLiteral("tag:sun")}));
}

TEST_F(TDWListPagesFromFakeGoogleTest, EtagsAndPageFaultsReachTheListing)
{
    const QString calendarUrl = listUrls(QStringLiteral("calendar")).first().url;
    const Page first = fetch(calendarUrl, QStringLiteral("TDWCalendarListParser"), QStringLiteral("calendar"));
    ASSERT_FALSE(first.etag.isEmpty());
    EXPECT_EQ(fetch(calendarUrl, QStringLiteral("TDWCalendarListParser"), QStringLiteral("calendar"), first.etag).status, 304);

    const QString path = QStringLiteral("/calendar/v3/users/me/calendarList");
    const struct
    {
        QJsonObject fault;
        int status;
    } cases[] = {
        {{{QStringLiteral("status"), 500}}, 500},
        {{{QStringLiteral("truncate"), true}}, 200},
        {{{QStringLiteral("body"), QStringLiteral("<html><body>Try again later</body></html>")},
          {QStringLiteral("content_type"), QStringLiteral("text/html")}},
         200},
        {{{QStringLiteral("body"), QStringLiteral("{\"error\": {\"code\": 500, \"message\": \"Backend Error\"}}")}}, 200},
    };
    for (const auto &c : cases) {
        QJsonObject fault = c.fault;
        fault.insert(QStringLiteral("path"), path);
        fault.insert(QStringLiteral("skip"), 1);
        s_fake->addFault(fault);
        const Page page = fetch(calendarUrl, QStringLiteral("TDWCalendarListParser"), QStringLiteral("calendar"));
        EXPECT_TRUE(page.parsed);
        const Page second = fetch(page.nextUrl, QStringLiteral("TDWCalendarListParser"), QStringLiteral("calendar"));
        EXPECT_EQ(second.status, c.status) << QJsonDocument(c.fault).toJson().toStdString();
        EXPECT_FALSE(second.parsed) << QJsonDocument(c.fault).toJson().toStdString();
    }
}

} // namespace
