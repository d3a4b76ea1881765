// The service delegates as the start-up registers them, on pages processed
// into a seeded store.
#include "EntriesFixture.h"

#include "TestSupport.h"
#include "app/TDWRegisterClasses.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWPropertyList.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/xattr/NDResourceFork.h"
#include "platform/xattr/TDWResourceMap.h"

#include <QFile>

#include <sys/xattr.h>

using namespace entrytest;

namespace {

std::unique_ptr<TDWServiceDelegate> made(const char *name)
{
    TDWRegisterClasses();
    std::unique_ptr<TDWServiceDelegate> delegate = TDWServiceDelegateClasses::shared().create(QString::fromLatin1(name));
    EXPECT_TRUE(delegate) << name;
    return delegate;
}

std::optional<TDWResourceMap> resourcesOf(const QString &path)
{
    QByteArray value(1 << 16, Qt::Uninitialized);
    const ssize_t size = ::getxattr(QFile::encodeName(path).constData(), NDResourceFork::AttributeName, value.data(), size_t(value.size()));
    if (size < 0)
        return std::nullopt;
    return TDWResourceMap::decode(value.left(qsizetype(size)));
}

QByteArray resource(const TDWResourceMap &map, const char (&type)[5])
{
    for (const TDWResource &r : map.resources())
        if (r.type == NDResourceFork::fourCharCode(type) && r.id == 256 && r.name.isEmpty())
            return r.data;
    return QByteArray("<absent>");
}

} // namespace

TEST_F(EntriesTest, DocsDelegateKeepsOnlyGoogleTypesForLimitedAccounts)
{
    std::unique_ptr<TDWServiceDelegate> delegate = made("TDWDocsServiceDelegate");
    auto account = TDWAccount::byUsername(Alice, *stack.moc, nullptr);
    ASSERT_TRUE(account);
    struct Case
    {
        const char *mimeType;
        bool deleted;
        bool usedWhenLimited;
    };
    const QList<Case> cases = {
        {"application/vnd.google-apps.spreadsheet", false, true},
        {"application/vnd.google-apps.folder", false, true},
        {"application/pdf", false, false},
        {"application/pdf", true, true},
        {nullptr, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mimeType ? c.mimeType : "no MIME type");
        TDWDocEntry e = entry(QStringLiteral("x"), QStringLiteral("X"));
        e.setMimeType(c.mimeType ? QString::fromLatin1(c.mimeType) : QString());
        e.setDeleted(c.deleted);
        account->setLimitGoogleDocs(false);
        EXPECT_TRUE(delegate->useEntry(e, account));
        account->setLimitGoogleDocs(true);
        EXPECT_EQ(delegate->useEntry(e, account), c.usedWhenLimited);
    }
}

TEST_F(EntriesTest, CalendarDelegateFiltersByAccessLevel)
{
    std::unique_ptr<TDWServiceDelegate> delegate = made("TDWCalendarServiceDelegate");
    const QStringList roles = {QStringLiteral("owner"), QStringLiteral("root"), QStringLiteral("reader"), QStringLiteral("freeBusyReader"),
                               QString()};
    // Per level, which of the roles above are kept.
    const QList<std::pair<int, QList<bool>>> levels = {
        {3, {true, true, true, true, true}},
        {2, {true, true, true, false, true}},
        {1, {true, true, false, false, false}},
        {0, {true, true, true, true, true}},
        {4, {true, true, true, true, true}},
    };
    for (const auto &[level, kept] : levels) {
        TDWUserDefaults::standard()->setInteger(level, QStringLiteral("calendarAccessLevel"));
        for (int i = 0; i < roles.size(); ++i) {
            TDWDocEntry calendar = entry(QStringLiteral("c"), QStringLiteral("C"), QStringLiteral("calendarmeta"));
            calendar.setAccessRole(roles[i]);
            EXPECT_EQ(delegate->useEntry(calendar, nullptr), kept[i]) << "level " << level << " role " << roles[i].toStdString();
        }
    }
    TDWUserDefaults::standard()->removeObjectForKey(QStringLiteral("calendarAccessLevel"));
}

TEST_F(EntriesTest, ReaderDelegateWritesBookmarkFilesDuringTheListing)
{
    std::unique_ptr<TDWServiceDelegate> delegate = made("TDWReaderServiceDelegate");
    TDWDocEntry feed = entry(QStringLiteral("feed/http://example.org/rss"), QStringLiteral("Blåbær Nyheter"), QStringLiteral("subscription"),
                             QString(), QDateTime());
    TDWDocEntry webfeed = entry(QStringLiteral("webfeed/123"), QStringLiteral("Web"), QStringLiteral("subscription"), QString(), QDateTime());
    webfeed.setContentUrl(QStringLiteral("http://example.org/page"));
    TDWDocEntry article = entry(QStringLiteral("art1"), QStringLiteral("Article"), QStringLiteral("bookmark"), QString(), QDateTime());
    article.setContentUrl(QStringLiteral("https://example.org/a"));
    TDWDocEntry noUrl = entry(QStringLiteral("art2"), QStringLiteral("Lost"), QStringLiteral("bookmark"), QString(), QDateTime());
    run(1, QStringLiteral("reader"), delegate.get());
    tdwtest::LogCapture log;
    ASSERT_TRUE(process({feed, webfeed, article, noUrl}));

    const QList<std::pair<QString, QString>> expected = {
        {feed.docId(), QStringLiteral("feed:http://example.org/rss")},
        {webfeed.docId(), QStringLiteral("https://example.org/page")},
        {article.docId(), QStringLiteral("https://example.org/a")},
    };
    for (const auto &[id, url] : expected) {
        SCOPED_TRACE(id.toStdString());
        const TDWDocRev::Ptr revision = latest(id, QStringLiteral("reader"));
        ASSERT_TRUE(revision);
        EXPECT_EQ(revision->exportStatus(), TDWDocRev::BackedUp);
        const QString path = itemsPath(QStringLiteral("reader")) + QLatin1Char('/') + revision->filePath();
        EXPECT_TRUE(path.endsWith(QLatin1String(".webloc")));
        EXPECT_EQ(TDWPropertyList::readFile(path, nullptr).toMap(), QVariantMap({{QStringLiteral("URL"), url}}));
        const std::optional<TDWResourceMap> resources = resourcesOf(path);
        ASSERT_TRUE(resources);
        EXPECT_EQ(resource(*resources, "TEXT"), url.toUtf8());
        EXPECT_EQ(resource(*resources, "url "), url.toUtf8());
        EXPECT_EQ(resource(*resources, "urln"), revision->title().toUtf8());
    }
    const TDWDocRev::Ptr pending = latest(noUrl.docId(), QStringLiteral("reader"));
    ASSERT_TRUE(pending) << "an item without URL is stored, its file left to a later listing";
    EXPECT_EQ(pending->exportStatus(), TDWDocRev::DownloadPending);
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to write bookmark file to ")));
}

TEST_F(EntriesTest, PicasaDelegateAddsPhotoThenCommentFeedsOfWhatThisRunSaw)
{
    std::unique_ptr<TDWServiceDelegate> delegate = made("TDWPicasaServiceDelegate");
    run(1, QStringLiteral("picasaweb"), delegate.get());
    ASSERT_TRUE(process({entry(QStringLiteral("old album"), QStringLiteral("Old"), QStringLiteral("album"))}));

    run(2, QStringLiteral("picasaweb"), delegate.get());
    ASSERT_TRUE(process({entry(QStringLiteral("a 1"), QStringLiteral("Trip"), QStringLiteral("album")),
                         entry(QStringLiteral("a 1/photoid/p?1"), QStringLiteral("Sea.jpg"), QStringLiteral("photo")),
                         entry(QStringLiteral("a 1/photoid/p?1/commentid/c1"), QStringLiteral("Nice"), QStringLiteral("comment"))}));
    EXPECT_EQ(latest(QStringLiteral("a 1/photoid/p?1/commentid/c1"), QStringLiteral("picasaweb"))->exportStatus(), TDWDocRev::NothingToDownload);
    EXPECT_EQ(latest(QStringLiteral("a 1/photoid/p?1"), QStringLiteral("picasaweb"))->exportStatus(), TDWDocRev::DownloadPending);

    auto moc = TDWMasterStore::shared().newMoc();
    auto iteration = TDWBackupIteration::newWithMoc(*moc);
    iteration->setIterationStartTime(start);
    const TDWPersistentStorePtr store = stack.store(Alice, QStringLiteral("picasaweb"));
    const QString base = QStringLiteral("https://picasaweb.google.com/data/feed/api/user/default/albumid/");
    using Links = QList<TDWServiceConfig::ListUrl>;
    EXPECT_EQ(delegate->moreLinksForBackupIteration(iteration, store, *moc), Links({{base + QStringLiteral("a%201?kind=photo"), {}}}));
    EXPECT_EQ(delegate->moreLinksForBackupIteration(iteration, store, *moc),
              Links({{base + QStringLiteral("a%201/photoid/p%3F1?kind=comment"), {}}}));
    EXPECT_EQ(delegate->moreLinksForBackupIteration(iteration, store, *moc), Links());
}

TEST_F(EntriesTest, ContactsDelegateWritesCardsOfContactsWithoutPhotoAndLocksThem)
{
    std::unique_ptr<TDWServiceDelegate> delegate = made("TDWContactsServiceDelegate");
    TDWUserDefaults::standard()->setBool(true, QStringLiteral("lockBackupFiles"));
    TDWDocEntry plain = entry(QStringLiteral("k1"), QStringLiteral("Kim Lee"), QStringLiteral("contact"));
    plain.setXmlString(QStringLiteral("<entry><title>Kim Lee</title><gd:name><gd:fullName>Kim Lee</gd:fullName></gd:name></entry>"));
    TDWDocEntry withPhoto = entry(QStringLiteral("k2"), QStringLiteral("Ana"), QStringLiteral("contact"));
    withPhoto.setXmlString(QStringLiteral("<entry><title>Ana</title></entry>"));
    withPhoto.setPhotoEtag(QStringLiteral("photo-etag"));
    run(1, QStringLiteral("contacts"), delegate.get());
    ASSERT_TRUE(process({plain, withPhoto}));

    const TDWDocRev::Ptr written = latest(QStringLiteral("k1"), QStringLiteral("contacts"));
    ASSERT_TRUE(written);
    EXPECT_EQ(written->exportStatus(), TDWDocRev::BackedUp);
    const QString path = itemsPath(QStringLiteral("contacts")) + QLatin1Char('/') + written->filePath();
    QFile card(path);
    ASSERT_TRUE(card.open(QIODevice::ReadOnly)) << path.toStdString();
    EXPECT_TRUE(card.readAll().startsWith("BEGIN:VCARD"));
    EXPECT_EQ(card.permissions() & (QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther), QFile::Permissions());
    EXPECT_EQ(latest(QStringLiteral("k2"), QStringLiteral("contacts"))->exportStatus(), TDWDocRev::DownloadPending);
    TDWUserDefaults::standard()->removeObjectForKey(QStringLiteral("lockBackupFiles"));
}
