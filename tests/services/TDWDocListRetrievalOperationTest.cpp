// The item list retrieval over the fake Google server, made by name through
// the program's registration: full and incremental Drive runs over scripted
// changes, the endpoints of each service, page files, failures that must
// never pass for a complete list, and the curl method.
#include "ListRetrievalFixture.h"

#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWAccountServiceSetting.h"
#include "dataobjects/TDWBackupIteration.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/foundation/TDWOperationQueue.h"
#include "agent/TDWApiBackupOperation.h"
#include "common/TDWServiceTable.h"
#include "platform/foundation/TDWPropertyList.h"
#include "platform/foundation/TDWResources.h"
#include "platform/json/TDWJsonReader.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <optional>

using namespace listtest;

namespace {

const QString Docs = QStringLiteral("docs");
const QString Files = QStringLiteral("/drive/v2/files");
const QString Changes = QStringLiteral("/drive/v2/changes");
const QString About = QStringLiteral("/drive/v2/about");

QJsonObject scenarioFromFile()
{
    QFile file(tdwtest::sourcePath(QStringLiteral("tests/services/fixtures/list-runs.json")));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return QJsonDocument::fromJson(file.readAll()).object();
}

} // namespace

class TDWDocListRetrievalOperationTest : public ListRetrievalTest
{
protected:
    static void SetUpTestSuite() { startFake(scenarioFromFile()); }
    static void TearDownTestSuite() { stopFake(); }

    // An item the store already holds, with its latest revision seen long ago.
    void seedItem(const QString &service, const QString &docId, const QString &docType = QStringLiteral("file"))
    {
        const TDWPersistentStorePtr itemStore = store(service);
        const TDWDoc::Ptr doc = TDWDoc::newWithMoc(*stack.moc, itemStore);
        doc->setAccountUsername(User);
        doc->setService(service);
        doc->setDocId(docId);
        doc->setDocType(docType);
        const TDWDocRev::Ptr rev = TDWDocRev::newWithMoc(*stack.moc, itemStore);
        rev->setDoc(doc);
        rev->setTitle(docId);
        rev->setLatest(true);
        rev->setFirstSeenDate(dotest::at(1));
        rev->setLastSeenDate(dotest::at(1));
        TDWError error;
        ASSERT_TRUE(stack.moc->save(&error)) << error.description().toStdString();
        stack.moc->reset();
    }

    // Makes the next Drive run an incremental one from that change id, as a
    // successful earlier run would have left it, with the counters given.
    void recordEarlierRun(const QString &lastChangeId, qint64 pending = 0)
    {
        const TDWManagedObjectID earlier = newIteration(dotest::at(2));
        TDWError error;
        const TDWAccount::Ptr account = TDWAccount::byUsername(User, *stack.moc, &error);
        ASSERT_TRUE(account);
        const auto setting = account->settingForService(Docs);
        setting->setLastListIteration(std::dynamic_pointer_cast<TDWBackupIteration>(stack.moc->existingObjectWithID(earlier, &error)));
        setting->setNumDownloadsPending(pending);
        ASSERT_TRUE(stack.moc->save(&error));
        stack.moc->reset();
        setDataProperty(Docs, QStringLiteral("lastChangeId"), lastChangeId);
    }

    bool hasLastListIteration(const QString &service)
    {
        TDWError error;
        const TDWAccount::Ptr account = TDWAccount::byUsername(User, *stack.moc, &error);
        const bool has = account && account->lastListIterationForService(service);
        stack.moc->reset();
        return has;
    }

    // The page files of every run of the service, as "<run folder>/<file>".
    QStringList pageFiles(const QString &service)
    {
        QStringList found;
        const QDir account(pageFolder(service));
        for (const QString &run : account.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
            for (const QString &file : QDir(account.filePath(run)).entryList(QDir::Files, QDir::Name))
                found << run + u'/' + file;
        return found;
    }
    // A Docs run whose file list fails at its second page with the fault, the log cleared first.
    RunOutcome runWithSecondPageFault(QJsonObject fault)
    {
        fault.insert(QStringLiteral("path"), Files);
        fault.insert(QStringLiteral("skip"), 1);
        fake().addFault(fault);
        log.clear();
        return run(Docs);
    }
};

TEST_F(TDWDocListRetrievalOperationTest, DriveFullRunThenIncrementalRunsOverScriptedChanges)
{
    addAccount({Docs});
    const RunOutcome first = run(Docs);
    ASSERT_TRUE(first.finished);
    EXPECT_TRUE(first.succeeded) << log.join(u'\n').toStdString();
    EXPECT_EQ(queries(About).size(), 1);
    const QStringList pages = queries(Files);
    ASSERT_EQ(pages.size(), 3);
    EXPECT_TRUE(pages[0].contains(QStringLiteral("q=trashed%3Dfalse"))) << pages[0].toStdString();
    EXPECT_TRUE(queries(Changes).isEmpty());
    EXPECT_EQ(items(Docs), (QMap<QString, bool>{{"fo", false}, {"f1", false}, {"d1", false}, {"s1", false}, {"t1", false}}));
    EXPECT_EQ(dataProperty(Docs, QStringLiteral("lastChangeId")), QStringLiteral("1005"));
    EXPECT_EQ(dataProperty(Docs, QStringLiteral("lastLimited")), QStringLiteral("0"));
    EXPECT_TRUE(hasLastListIteration(Docs));
    // One folder for the run, its pages numbered from 1 with the parser's suffix.
    const QStringList files = pageFiles(Docs);
    ASSERT_EQ(files.size(), 3);
    EXPECT_TRUE(files[0].endsWith(QStringLiteral("/list1.json")));
    EXPECT_TRUE(files[2].endsWith(QStringLiteral("/list3.json")));
    EXPECT_EQ(files[0].section(u'/', 0, 0), files[2].section(u'/', 0, 0));

    // Added, changed, moved and deleted: the change feed from the next change id.
    ASSERT_EQ(fake().nextRun(), 1);
    fake().clearRequests();
    EXPECT_TRUE(run(Docs).succeeded) << log.join(u'\n').toStdString();
    EXPECT_TRUE(queries(About).isEmpty());
    EXPECT_TRUE(queries(Files).isEmpty());
    ASSERT_FALSE(queries(Changes).isEmpty());
    EXPECT_TRUE(queries(Changes)[0].contains(QStringLiteral("startChangeId=1006"))) << queries(Changes)[0].toStdString();
    // Items absent from the change feed are not taken as deleted.
    EXPECT_EQ(items(Docs), (QMap<QString, bool>{{"fo", false}, {"f1", false}, {"d1", false}, {"s1", false}, {"t1", true}, {"n1", false}}));
    EXPECT_EQ(dataProperty(Docs, QStringLiteral("lastChangeId")), QStringLiteral("1009"));

    // A trashed file, then a deleted file that comes back.
    ASSERT_EQ(fake().nextRun(), 2);
    EXPECT_TRUE(run(Docs).succeeded);
    EXPECT_EQ(dataProperty(Docs, QStringLiteral("lastChangeId")), QStringLiteral("1010"));
    ASSERT_EQ(fake().nextRun(), 3);
    EXPECT_TRUE(run(Docs).succeeded);
    EXPECT_FALSE(items(Docs).value(QStringLiteral("t1"), true));
    EXPECT_EQ(dataProperty(Docs, QStringLiteral("lastChangeId")), QStringLiteral("1011"));
}

TEST_F(TDWDocListRetrievalOperationTest, DownloadsLeftBehindOrAnotherLimitForceAFullRun)
{
    addAccount({Docs});
    struct Row
    {
        qint64 pending;
        QString lastLimited; // null: none stored
        bool incremental;
    };
    const QList<Row> rows{{0, {}, true}, {0, QStringLiteral("0"), true}, {1, {}, false}, {0, QStringLiteral("1"), false}};
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << "pending " << row.pending << ", lastLimited " << row.lastLimited.toStdString());
        recordEarlierRun(QStringLiteral("5000"), row.pending);
        if (row.lastLimited.isNull())
            setDataProperty(Docs, QStringLiteral("lastLimited"), {});
        else
            setDataProperty(Docs, QStringLiteral("lastLimited"), row.lastLimited);
        fake().clearRequests();
        EXPECT_TRUE(run(Docs).finished);
        if (row.incremental) {
            EXPECT_TRUE(queries(About).isEmpty());
            ASSERT_EQ(queries(Changes).size(), 1);
            EXPECT_TRUE(queries(Changes)[0].contains(QStringLiteral("startChangeId=5001")));
        } else {
            EXPECT_EQ(queries(About).size(), 1);
            EXPECT_TRUE(queries(Changes).isEmpty());
            EXPECT_FALSE(queries(Files).isEmpty());
        }
    }
}

TEST_F(TDWDocListRetrievalOperationTest, LimitedDriveListsOnlyGoogleTypesAndDropsTheOthers)
{
    addAccount({Docs}, true);
    seedItem(Docs, QStringLiteral("old-pdf"), QStringLiteral("file"));
    EXPECT_TRUE(run(Docs).succeeded) << log.join(u'\n').toStdString();
    const QStringList pages = queries(Files);
    ASSERT_FALSE(pages.isEmpty());
    EXPECT_TRUE(pages[0].contains(QStringLiteral("q=trashed%3Dfalse%20and%20%28mimeType%20%3D%20%27application%2Fvnd.google-apps.folder%27%20or%20"
                                                 "mimeType%20%3D%20%27application%2Fvnd.google-apps.document%27%20or%20")))
        << pages[0].toStdString();
    EXPECT_TRUE(pages[0].contains(QStringLiteral("%27application%2Fvnd.google-apps.spreadsheet%27%29"))) << pages[0].toStdString();
    // The fake honours the query: the folder, the document and the spreadsheet;
    // the item of another type that the store held is removed by the full run.
    EXPECT_EQ(items(Docs), (QMap<QString, bool>{{"fo", false}, {"d1", false}, {"s1", false}}));
    EXPECT_EQ(dataProperty(Docs, QStringLiteral("lastLimited")), QStringLiteral("1"));
}

TEST_F(TDWDocListRetrievalOperationTest, AFailedOrUnreadablePageFailsTheRunAndMarksNothingDeleted)
{
    addAccount({Docs});
    struct Row
    {
        const char *name;
        QJsonObject fault; // on the second page of the file list
        QString message;
        bool pageKept;
    };
    const QList<Row> rows{
        // The body follows the status on the next line (the log keeps one line per event).
        {"500", {{"status", 500}, {"body", "boom"}}, QStringLiteral("ERROR: Unexpected status code from item list: 500 boom"), false},
        {"304", {{"status", 304}}, QStringLiteral("ERROR: Unexpected status code from item list: 304"), false},
        {"not JSON", {{"body", "{not json"}, {"content_type", "application/json"}}, QStringLiteral("ERROR: Unable to parse response"), true},
        {"error page", {{"body", R"({"kind": "drive#about"})"}, {"content_type", "application/json"}}, QStringLiteral("ERROR: Unable to parse response"),
         true},
        {"cut short", {{"truncate", true}}, QStringLiteral("ERROR: Unable to parse response"), true},
    };
    seedItem(Docs, QStringLiteral("kept"));
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const RunOutcome outcome = runWithSecondPageFault(row.fault);
        EXPECT_TRUE(outcome.finished);
        EXPECT_FALSE(outcome.succeeded);
        EXPECT_TRUE(logged(row.message)) << log.join(u'\n').toStdString();
        EXPECT_FALSE(items(Docs).value(QStringLiteral("kept"), true));
        EXPECT_FALSE(hasLastListIteration(Docs));
        EXPECT_TRUE(dataProperty(Docs, QStringLiteral("lastChangeId")).isNull());
        const QStringList files = pageFiles(Docs);
        EXPECT_EQ(files.last().endsWith(QStringLiteral("/list2.json")), row.pageKept) << files.join(u' ').toStdString();
        QDir(pageFolder(Docs)).removeRecursively();
    }
}

// A page that brings no answer is told once, with the request and the
// reason, never the token; every failure of a page keeps the scope the backup
// run reads to decide whether the downloads may go on.
TEST_F(TDWDocListRetrievalOperationTest, AFailedPageIsToldOnceAndKeepsTheScopeOfItsFailure)
{
    addAccount({Docs});
    struct Row
    {
        const char *name;
        QJsonObject fault; // on the second page of the file list
        TDWError::Scope scope;
        bool transport; // no HTTP answer: the one line of the transport failure
    };
    const QList<Row> rows{
        {"dropped", {{"drop", true}}, TDWError::Scope::Connection, true},
        {"broken off", {{"break_after", 40}}, TDWError::Scope::Connection, true},
        {"sign-in refused", {{"status", 401}}, TDWError::Scope::SignIn, false},
        {"not there", {{"status", 404}}, TDWError::Scope::Item, false},
        {"refused", {{"status", 403}, {"reason", "insufficientPermissions"}}, TDWError::Scope::Request, false},
        {"rate limited", {{"status", 403}, {"reason", "rateLimitExceeded"}}, TDWError::Scope::Connection, false},
        {"overloaded", {{"status", 503}}, TDWError::Scope::Connection, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const RunOutcome outcome = runWithSecondPageFault(row.fault);
        EXPECT_TRUE(outcome.finished);
        EXPECT_FALSE(outcome.succeeded);
        EXPECT_EQ(outcome.failure.scope(), row.scope) << outcome.failure.description().toStdString();
        const QStringList lines = log.filter(QStringLiteral("ERROR: Request for item list page failed: GET https://www.googleapis.com/drive/v2/files?"));
        EXPECT_EQ(lines.size(), row.transport ? 1 : 0) << log.join(u'\n').toStdString();
        if (row.transport)
            EXPECT_TRUE(lines.first().contains(QStringLiteral("pageToken="))) << lines.first().toStdString();
        EXPECT_EQ(log.filter(QStringLiteral("Unexpected status code from item list")).size(), row.transport ? 0 : 1);
        EXPECT_TRUE(log.filter(Token).isEmpty()) << log.join(u'\n').toStdString();
    }
}

// A calendar's events refused for the sign-in fail the listing with that
// scope, so the backup run downloads nothing more; a calendar gone from the
// server fails only itself.
TEST_F(TDWDocListRetrievalOperationTest, ARefusedSignInOnACalendarsEventsReachesTheRunAndAMissingCalendarDoesNot)
{
    const QString calendar = QStringLiteral("calendar");
    const QJsonObject calendars{
        {QStringLiteral("calendars"), QJsonArray{QJsonObject{{QStringLiteral("id"), QStringLiteral("cal1")}, {QStringLiteral("summary"), QStringLiteral("Work")}}}},
        {QStringLiteral("events"), QJsonArray{QJsonObject{{QStringLiteral("id"), QStringLiteral("e1")},
                                                          {QStringLiteral("parents"), QJsonArray{QStringLiteral("cal1")}},
                                                          {QStringLiteral("summary"), QStringLiteral("Meeting")},
                                                          {QStringLiteral("start"), QJsonObject{{QStringLiteral("date"), QStringLiteral("2026-01-05")}}},
                                                          {QStringLiteral("end"), QJsonObject{{QStringLiteral("date"), QStringLiteral("2026-01-06")}}}}}}};
    fake().control(QStringLiteral("scenario"),
                   QJsonDocument(QJsonObject{{QStringLiteral("accounts"), QJsonArray{QJsonObject{{QStringLiteral("email"), User}, {QStringLiteral("access_token"), Token}}}},
                                             {QStringLiteral("lists"), QJsonObject{{QStringLiteral("data"), QJsonObject{{User, QJsonObject{{calendar, calendars}}}}}}}}));
    addAccount({calendar});
    const struct {
        int status;
        std::optional<TDWError::Scope> scope; // none: no failure that reaches the run
    } rows[] = {{401, TDWError::Scope::SignIn}, {404, std::nullopt}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.status);
        fake().addFault({{QStringLiteral("path"), QStringLiteral("/calendar/v3/calendars/cal1/events")}, {QStringLiteral("status"), row.status}});
        const RunOutcome outcome = run(calendar);
        EXPECT_TRUE(outcome.finished);
        EXPECT_FALSE(outcome.succeeded);
        EXPECT_EQ(outcome.failure.isNull(), !row.scope.has_value()) << outcome.failure.description().toStdString();
        if (row.scope)
            EXPECT_EQ(outcome.failure.scope(), *row.scope);
    }
}

// The newest change id comes as decimal text or a whole number; any other
// answer ends the run before a page is asked for.
TEST_F(TDWDocListRetrievalOperationTest, AnUnreadableNewestChangeIdEndsTheRunBeforeTheList)
{
    addAccount({Docs});
    const QString tooDeep = QString(TDWJsonReader::MaxDepth, u'[') + QString(TDWJsonReader::MaxDepth, u']');
    const struct
    {
        const char *body;
        QString logged;
    } rows[] = {
        {"{not json", QStringLiteral("ERROR parsing max change id response: The response is not valid JSON")},
        {R"({"largestChangeId": "1005")", QStringLiteral("ERROR parsing max change id response: The response is not valid JSON")},
        {R"(["1005"])", QStringLiteral("ERROR parsing max change id response: The response is not a JSON object.")},
        {R"({"largestChangeId": "1005", "x": %1})", QStringLiteral("ERROR parsing max change id response: The response nests deeper than")},
        {R"({"largestChangeId": 1005.5})", QStringLiteral("ERROR parsing max change id response.")},
        {R"({"largestChangeId": true})", QStringLiteral("ERROR parsing max change id response.")},
        {R"({"largestChangeId": "10x"})", QStringLiteral("ERROR parsing max change id response.")},
        {R"({})", QStringLiteral("ERROR parsing max change id response.")},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.body);
        fake().addFault({{"path", About}, {"body", QString::fromUtf8(row.body).replace(QLatin1String("%1"), tooDeep)}});
        fake().clearRequests();
        log.clear();
        const RunOutcome outcome = run(Docs);
        EXPECT_TRUE(outcome.finished);
        EXPECT_FALSE(outcome.succeeded);
        EXPECT_TRUE(logged(row.logged)) << log.join(u'\n').toStdString();
        EXPECT_TRUE(queries(Files).isEmpty());
        EXPECT_TRUE(dataProperty(Docs, QStringLiteral("lastChangeId")).isNull());
    }
    // The number form (the fake's own answer has the text form).
    fake().addFault({{"path", About}, {"body", R"({"largestChangeId": 1005})"}});
    fake().clearRequests();
    EXPECT_TRUE(run(Docs).succeeded) << log.join(u'\n').toStdString();
    EXPECT_EQ(queries(About).size(), 1);
}

TEST_F(TDWDocListRetrievalOperationTest, AnEmptyListingMarksNothingDeleted)
{
    addAccount({Docs});
    seedItem(Docs, QStringLiteral("kept"));
    // A valid page of the right kind without items: Google leaves the array out.
    fake().addFault({{"path", Files}, {"body", R"({"kind": "drive#fileList", "etag": "\"e\""})"}, {"content_type", "application/json"}});
    EXPECT_TRUE(run(Docs).succeeded) << log.join(u'\n').toStdString();
    EXPECT_FALSE(items(Docs).value(QStringLiteral("kept"), true));
}

TEST_F(TDWDocListRetrievalOperationTest, AFullRunMarksWhatItDidNotSeeDeleted)
{
    addAccount({Docs});
    seedItem(Docs, QStringLiteral("gone"));
    EXPECT_TRUE(run(Docs).succeeded) << log.join(u'\n').toStdString();
    EXPECT_TRUE(items(Docs).value(QStringLiteral("gone"), false));
    EXPECT_FALSE(items(Docs).value(QStringLiteral("f1"), true));
}

TEST_F(TDWDocListRetrievalOperationTest, AParserClassNothingRegisteredFailsTheRun)
{
    addAccount({QStringLiteral("contacts")});
    seedItem(QStringLiteral("contacts"), QStringLiteral("kept"));
    const QString original = TDWResources::path(QStringLiteral("Config"), QStringLiteral("plist"));
    QVariantMap table = TDWPropertyList::readFile(original, nullptr).toMap();
    QVariantList services = table.value(QStringLiteral("services")).toList();
    for (QVariant &entry : services) {
        QVariantMap service = entry.toMap();
        if (service.value(QStringLiteral("id")) != QLatin1String("contacts"))
            continue;
        QVariantList urls = service.value(QStringLiteral("listurls")).toList();
        QVariantMap second = urls[1].toMap();
        second.insert(QStringLiteral("parserClass"), QStringLiteral("TDWNoSuchParser"));
        urls[1] = second;
        service.insert(QStringLiteral("listurls"), urls);
        entry = service;
    }
    table.insert(QStringLiteral("services"), services);
    const QString path = tdwtest::freshDir() + QStringLiteral("/Config.plist");
    ASSERT_TRUE(TDWPropertyList::writeFile(table, path, nullptr));
    ASSERT_TRUE(TDWServiceTable::shared().load(path, nullptr));
    const RunOutcome outcome = run(QStringLiteral("contacts"));
    TDWServiceTable::shared().load(original, nullptr);
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_TRUE(logged(QStringLiteral("ERROR: No parser"))) << log.join(u'\n').toStdString();
    // The groups were read; the contacts never were, so nothing counts as gone.
    EXPECT_FALSE(items(QStringLiteral("contacts")).value(QStringLiteral("kept"), true));
    EXPECT_FALSE(hasLastListIteration(QStringLiteral("contacts")));
}

TEST_F(TDWDocListRetrievalOperationTest, ContactsReadGroupsThenContactsPageByPage)
{
    addAccount({QStringLiteral("contacts")});
    EXPECT_TRUE(run(QStringLiteral("contacts")).succeeded) << log.join(u'\n').toStdString();
    EXPECT_EQ(queries(QStringLiteral("/m8/feeds/groups/default/full")).size(), 1);
    const QStringList contacts = queries(QStringLiteral("/m8/feeds/contacts/default/full"));
    ASSERT_EQ(contacts.size(), 2);
    EXPECT_TRUE(contacts[1].contains(QStringLiteral("start-index=3"))) << contacts[1].toStdString();
    for (const QJsonValue &request : fake().requestsTo(QStringLiteral("/m8/feeds/contacts/default/full")))
        EXPECT_EQ(request.toObject().value(QStringLiteral("headers")).toObject().value(QStringLiteral("gdata-version")).toString(),
                  QStringLiteral("3.0"));
    // Pages of all endpoints share one numbering: the groups, then two of contacts.
    EXPECT_EQ(QDir(pageFolder(QStringLiteral("contacts"))).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);
}

TEST_F(TDWDocListRetrievalOperationTest, ReaderFollowsTheContinuationOnTheConfiguredUrl)
{
    addAccount({QStringLiteral("reader")});
    EXPECT_TRUE(run(QStringLiteral("reader")).succeeded) << log.join(u'\n').toStdString();
    const QStringList starred = queries(QStringLiteral("/reader/atom/user/-/state/com.google/starred"));
    ASSERT_EQ(starred.size(), 2);
    EXPECT_TRUE(starred[1].startsWith(QStringLiteral("n=1000&c="))) << starred[1].toStdString();
    EXPECT_EQ(queries(QStringLiteral("/reader/api/0/tag/list")).size(), 1);
    EXPECT_EQ(queries(QStringLiteral("/reader/atom/user/-/state/com.google/like")).size(), 1);
}

TEST_F(TDWDocListRetrievalOperationTest, PicasaPagesAlbumsThenEachAlbumsPhotos)
{
    addAccount({QStringLiteral("picasaweb")});
    EXPECT_TRUE(run(QStringLiteral("picasaweb")).succeeded) << log.join(u'\n').toStdString();
    EXPECT_EQ(queries(QStringLiteral("/data/feed/api/user/default")).size(), 2);
    EXPECT_EQ(queries(QStringLiteral("/data/feed/api/user/default/albumid/100")).size(), 2);
    // A photo's id names its album.
    EXPECT_EQ(QStringList(items(QStringLiteral("picasaweb")).keys()),
              QStringList({"100", "100/photoid/200", "100/photoid/201", "100/photoid/202", "101", "102"}));
    EXPECT_EQ(queries(QStringLiteral("/data/feed/api/user/default/albumid/102")).size(), 1);
}

TEST_F(TDWDocListRetrievalOperationTest, TheCurlMethodKeepsTheTokenOffItsCommandLine)
{
    addAccount({Docs});
    TDWUserDefaults::standard()->setBool(true, QStringLiteral("altRetrievalMethod"));
    // The first page waits, so that the running curl can be looked at.
    fake().addFault({{"path", Files}, {"stall", 1.5}, {"status", 503}});
    const TDWManagedObjectID iteration = newIteration();
    std::shared_ptr<TDWOperation> retrieval(
        TDWListRetrievalClasses::shared().create(TDWApiBackupOperation::ListRetrievalClass, User, Docs, iteration, nullptr));
    ASSERT_TRUE(retrieval);
    TDWOperationQueue queue;
    queue.addOperation(retrieval);
    bool sawCurl = false;
    bool sawToken = false;
    tdwtest::waitUntil([&] {
        for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
            if (!cmdline.open(QIODevice::ReadOnly))
                continue;
            const QByteArray text = cmdline.readAll();
            sawCurl = sawCurl || text.startsWith("/usr/bin/curl");
            sawToken = sawToken || (text.contains(Token.toUtf8()) && text.startsWith("/usr/bin/curl"));
        }
        return retrieval->isFinished();
    }, std::chrono::seconds(30));
    EXPECT_TRUE(sawCurl);
    EXPECT_FALSE(sawToken);
    // curl's -f turns the 503 into a failed page; the header reached the server.
    EXPECT_TRUE(logged(QStringLiteral("ERROR: Unexpected status code from item list: -1")));
    const QJsonArray requests = fake().requestsTo(Files);
    ASSERT_FALSE(requests.isEmpty());
    EXPECT_EQ(requests[0].toObject().value(QStringLiteral("headers")).toObject().value(QStringLiteral("authorization")).toString(),
              QStringLiteral("Bearer ") + Token);
}

TEST_F(TDWDocListRetrievalOperationTest, TheCurlMethodReadsAWholeListing)
{
    addAccount({Docs});
    TDWUserDefaults::standard()->setBool(true, QStringLiteral("altRetrievalMethod"));
    EXPECT_TRUE(run(Docs).succeeded) << log.join(u'\n').toStdString();
    EXPECT_EQ(queries(Files).size(), 3);
    EXPECT_EQ(items(Docs).size(), 5);
}
