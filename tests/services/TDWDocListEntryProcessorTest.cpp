#include "EntriesFixture.h"

#include "TestSupport.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "services/TDWDocListPage.h"

#include <QDir>
#include <QFileInfo>

#include <stdexcept>

using namespace entrytest;
using dotest::at;

namespace {

} // namespace

TEST_F(EntriesTest, NewEntryGetsItemFolderNumberedRevisionFolderAndFile)
{
    run(1);
    TDWDocEntry document = entry(QStringLiteral("d1"), QStringLiteral("Plan.pdf"), QStringLiteral("document"));
    document.setStarred(true);
    ASSERT_TRUE(process({document, entry(QStringLiteral("f1"), QStringLiteral("Budget.xlsx"))}));

    const TDWDoc::Ptr item = doc(QStringLiteral("d1"));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->docTypeLabel(), QStringLiteral("Google Docs"));
    EXPECT_FALSE(item->deleted());
    const TDWDocRev::Ptr revision = latest(QStringLiteral("d1"));
    ASSERT_TRUE(revision);
    EXPECT_EQ(item->dirPath().section(QLatin1Char('/'), -1), QStringLiteral("Plan"));
    EXPECT_EQ(revision->dirPath(), item->dirPath() + QStringLiteral("/1"));
    EXPECT_EQ(revision->filePath(), revision->dirPath() + QStringLiteral("/Plan.pdf.docx"));
    EXPECT_EQ(revision->exportType(), QStringLiteral("word"));
    EXPECT_EQ(revision->exportStatus(), TDWDocRev::DownloadPending);
    EXPECT_TRUE(revision->starred());
    EXPECT_EQ(revision->firstSeenDate(), start);
    EXPECT_EQ(revision->lastSeenDate(), start);
    EXPECT_FALSE(revision->obsoletedDate().isValid());
    EXPECT_TRUE(revision->extensiblePropertyForKey(QStringLiteral("has216fix")).toBool());
    EXPECT_TRUE(QFileInfo(itemsPath() + QLatin1Char('/') + revision->dirPath()).isDir());
    EXPECT_EQ(latest(QStringLiteral("f1"))->filePath().section(QLatin1Char('/'), -1), QStringLiteral("Budget.xlsx"));
}

TEST_F(EntriesTest, UnchangedEntryReusesTheRevisionAndChangesMakeSuccessors)
{
    struct Case
    {
        const char *name;
        std::function<void(TDWDocEntry &)> change;
        bool newRevision;
    };
    const QList<Case> cases = {
        {"unchanged", [](TDWDocEntry &) {}, false},
        {"title", [](TDWDocEntry &e) { e.setTitle(QStringLiteral("Renamed")); }, true},
        {"later date", [](TDWDocEntry &e) { e.setLastModifiedDate(at(5)); }, true},
        {"earlier date", [](TDWDocEntry &e) { e.setLastModifiedDate(at(-5)); }, true},
        {"flag", [](TDWDocEntry &e) { e.setViewedByMe(true); }, true},
        {"etag without json", [](TDWDocEntry &e) { e.setEtag(QStringLiteral("e2")); }, false},
        {"etag with json",
         [](TDWDocEntry &e) {
             e.setEtag(QStringLiteral("e2"));
             e.setJsonText(R"({"id":"x","etag":"e2"})");
         },
         true},
    };
    int hour = 10;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString id = QString::fromLatin1(c.name);
        TDWDocEntry first = entry(id, QStringLiteral("Report"));
        if (QLatin1String(c.name) == QLatin1String("etag with json"))
            first.setJsonText(R"({"id":"x","etag":"e1"})");
        run(hour++);
        ASSERT_TRUE(process({first}));
        const QDateTime firstStart = start;
        TDWDocEntry second = first;
        c.change(second);
        run(hour++);
        ASSERT_TRUE(process({second}));
        const QList<TDWDocRev::Ptr> all = revisions(id);
        ASSERT_EQ(all.size(), c.newRevision ? 2 : 1);
        EXPECT_EQ(all.last()->lastSeenDate(), start);
        EXPECT_TRUE(all.last()->latest());
        if (c.newRevision) {
            EXPECT_FALSE(all.first()->latest());
            EXPECT_EQ(all.first()->obsoletedDate(), start);
            EXPECT_EQ(all.first()->lastSeenDate(), firstStart);
            EXPECT_EQ(all.last()->dirPath().section(QLatin1Char('/'), -1), QStringLiteral("2"));
        }
    }
}

// A kept revision (same etag) takes the entry's JSON object whenever it differs
// from the stored one in any field, however deep, and keeps it otherwise.
TEST_F(EntriesTest, KeptRevisionTakesTheChangedJsonObject)
{
    const QByteArray stored = R"({"id":"x","etag":"e1","parents":[{"id":"p1"}],"labels":{"starred":false},"size":"10"})";
    const struct
    {
        const char *name;
        QByteArray json;
    } cases[] = {
        {"unchanged", stored},
        {"unchanged, keys reordered", R"({"size":"10","labels":{"starred":false},"parents":[{"id":"p1"}],"etag":"e1","id":"x"})"},
        {"top-level value", R"({"id":"x","etag":"e1","parents":[{"id":"p1"}],"labels":{"starred":false},"size":"11"})"},
        {"nested value", R"({"id":"x","etag":"e1","parents":[{"id":"p1"}],"labels":{"starred":true},"size":"10"})"},
        {"array element", R"({"id":"x","etag":"e1","parents":[{"id":"p2"}],"labels":{"starred":false},"size":"10"})"},
        {"key added", R"({"id":"x","etag":"e1","parents":[{"id":"p1"}],"labels":{"starred":false},"size":"10","k":1})"},
        {"emptied", "{}"},
        {"gone", ""},
    };
    int hour = 10;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString id = QString::fromLatin1(c.name);
        TDWDocEntry first = entry(id, QStringLiteral("Report"));
        first.setEtag(QStringLiteral("e1"));
        first.setJsonText(stored);
        run(hour++);
        ASSERT_TRUE(process({first}));
        TDWDocEntry second = first;
        second.setJsonText(c.json);
        run(hour++);
        ASSERT_TRUE(process({second}));
        const QList<TDWDocRev::Ptr> all = revisions(id);
        ASSERT_EQ(all.size(), 1);
        const QVariant json = all.first()->extensiblePropertyForKey(QStringLiteral("jsonDictionary"));
        if (second.jsonDictionary().isEmpty()) {
            EXPECT_FALSE(json.isValid());
        } else {
            EXPECT_EQ(json, QVariant(second.jsonDictionary()));
        }
    }
}

TEST_F(EntriesTest, CalendarReusesOnEarlierDateButNotOnChangedAccessRole)
{
    TDWDocEntry calendar = entry(QStringLiteral("cal"), QStringLiteral("Work"), QStringLiteral("calendarmeta"));
    calendar.setAccessRole(QStringLiteral("owner"));
    run(1, QStringLiteral("calendar"));
    ASSERT_TRUE(process({calendar}));
    EXPECT_EQ(latest(QStringLiteral("cal"), QStringLiteral("calendar"))->ownerEmail(), Alice) << "an owner without e-mail is the account";
    calendar.setLastModifiedDate(at(-3));
    run(2, QStringLiteral("calendar"));
    ASSERT_TRUE(process({calendar}));
    EXPECT_EQ(revisions(QStringLiteral("cal"), QStringLiteral("calendar")).size(), 1);
    calendar.setAccessRole(QStringLiteral("reader"));
    run(3, QStringLiteral("calendar"));
    ASSERT_TRUE(process({calendar}));
    EXPECT_EQ(revisions(QStringLiteral("cal"), QStringLiteral("calendar")).size(), 2);
}

// Reader tags and subscriptions carry no modification date: a date invented
// for them made a new revision, folder and file on every run.
TEST_F(EntriesTest, EntryWithoutModificationDateGetsNoInventedDateAndIsReusedNextRun)
{
    TDWDocEntry subscription = entry(QStringLiteral("feed/http://example.org/rss"), QStringLiteral("Example"),
                                     QStringLiteral("subscription"), QString(), QDateTime());
    run(1, QStringLiteral("reader"));
    ASSERT_TRUE(process({subscription}));
    EXPECT_FALSE(latest(subscription.docId(), QStringLiteral("reader"))->lastModifiedDate().isValid());
    run(2, QStringLiteral("reader"));
    ASSERT_TRUE(process({subscription}));
    ASSERT_EQ(revisions(subscription.docId(), QStringLiteral("reader")).size(), 1);
    EXPECT_EQ(latest(subscription.docId(), QStringLiteral("reader"))->lastSeenDate(), start);

    // A revision stored with a date by an earlier version is reused too, and keeps its date.
    TDWDocEntry dated = subscription;
    dated.setDocId(QStringLiteral("feed/dated"));
    dated.setLastModifiedDate(at(0));
    run(3, QStringLiteral("reader"));
    ASSERT_TRUE(process({dated}));
    dated.setLastModifiedDate(QDateTime());
    run(4, QStringLiteral("reader"));
    ASSERT_TRUE(process({dated}));
    ASSERT_EQ(revisions(dated.docId(), QStringLiteral("reader")).size(), 1);
    EXPECT_EQ(latest(dated.docId(), QStringLiteral("reader"))->lastModifiedDate(), at(0));
}

// An entry failing half-way once left its item without a latest revision.
TEST_F(EntriesTest, FailedEntryChangesNothingAndTheRestOfThePageIsSaved)
{
    run(1);
    ASSERT_TRUE(process({entry(QStringLiteral("a"), QStringLiteral("Old"))}));
    ScriptedDelegate delegate;
    delegate.onDocRevFound = [](const TDWDocRev::Ptr &revision) {
        if (revision->doc()->docId() != QLatin1String("ok"))
            throw std::runtime_error("disk on fire");
    };
    TDWDocListEntryProcessor &processor = run(3, QStringLiteral("docs"), &delegate);
    tdwtest::LogCapture log;
    ASSERT_TRUE(process({entry(QStringLiteral("a"), QStringLiteral("New")), entry(QStringLiteral("b"), QStringLiteral("Fresh")),
                         entry(QStringLiteral("ok"), QStringLiteral("Fine"))}));
    EXPECT_TRUE(log.contains(QStringLiteral("Exception processing entry -- type: file, id: a, exception: disk on fire")));
    const QList<TDWDocRev::Ptr> all = revisions(QStringLiteral("a"));
    ASSERT_EQ(all.size(), 1);
    EXPECT_TRUE(all.first()->latest());
    EXPECT_FALSE(all.first()->obsoletedDate().isValid());
    EXPECT_FALSE(doc(QStringLiteral("b")));
    EXPECT_FALSE(processor.currentDocDirNames().contains(QStringLiteral("fresh")));
    EXPECT_TRUE(latest(QStringLiteral("ok")));
}

// The rule was evaluated before the flags were copied in, so a starred item
// excluded by "starred == 1" was downloaded in the same run.
TEST_F(EntriesTest, ExclusionRuleSeesTheCompleteRevision)
{
    TDWUserDefaults::standard()->setString(QStringLiteral("starred == 1 OR title == 'Secret'"), QStringLiteral("dontbackuppredicate"));
    TDWDocEntry starred = entry(QStringLiteral("s"), QStringLiteral("Starred"));
    starred.setStarred(true);
    run(1);
    ASSERT_TRUE(process({starred, entry(QStringLiteral("t"), QStringLiteral("Secret")), entry(QStringLiteral("p"), QStringLiteral("Plain")),
                         entry(QStringLiteral("g"), QStringLiteral("Folder"), QStringLiteral("folder"))}));
    EXPECT_EQ(latest(QStringLiteral("s"))->exportStatus(), TDWDocRev::ExcludedByRule);
    EXPECT_EQ(latest(QStringLiteral("t"))->exportStatus(), TDWDocRev::ExcludedByRule);
    EXPECT_EQ(latest(QStringLiteral("p"))->exportStatus(), TDWDocRev::DownloadPending);
    EXPECT_EQ(latest(QStringLiteral("g"))->exportStatus(), TDWDocRev::NothingToDownload) << "a grouping is never queued";
    EXPECT_TRUE(latest(QStringLiteral("g"))->dirPath().isEmpty());

    TDWUserDefaults::standard()->setString(QStringLiteral("title ==="), QStringLiteral("dontbackuppredicate"));
    run(2);
    tdwtest::LogCapture log;
    ASSERT_TRUE(process({entry(QStringLiteral("bad"), QStringLiteral("Any"))}));
    EXPECT_TRUE(log.contains(QStringLiteral("Exception processing entry -- type: file, id: bad")));
    EXPECT_FALSE(doc(QStringLiteral("bad")));
}

TEST_F(EntriesTest, DeletedEntriesMarkItemsDeletedAndReappearanceMakesANewRevision)
{
    TDWDocEntry child = entry(QStringLiteral("c"), QStringLiteral("Child"));
    child.setParentFolderIds({QStringLiteral("folder")});
    run(1);
    ASSERT_TRUE(process({entry(QStringLiteral("folder"), QStringLiteral("Box"), QStringLiteral("folder")), child}));
    const QDateTime firstStart = start;

    TDWDocEntry gone = child;
    gone.setDeleted(true);
    TDWDocEntry unknown = entry(QStringLiteral("never"), QStringLiteral("Never"));
    unknown.setDeleted(true);
    run(2);
    ASSERT_TRUE(process({gone, unknown}));
    EXPECT_TRUE(doc(QStringLiteral("c"))->deleted());
    EXPECT_FALSE(doc(QStringLiteral("never")));
    EXPECT_TRUE(latest(QStringLiteral("c"))->latest());
    EXPECT_EQ(latest(QStringLiteral("c"))->obsoletedDate(), start);
    const QList<TDWDocParent::Ptr> links = parentLinks(QStringLiteral("c"));
    ASSERT_EQ(links.size(), 1);
    EXPECT_FALSE(links.first()->assocCurrent());
    EXPECT_EQ(links.first()->obsoletedDate(), start);
    const QDateTime deletedAt = start;

    run(3);
    ASSERT_TRUE(process({gone}));
    EXPECT_EQ(latest(QStringLiteral("c"))->obsoletedDate(), deletedAt) << "dates already set stay";

    run(4);
    ASSERT_TRUE(process({child}));
    EXPECT_FALSE(doc(QStringLiteral("c"))->deleted());
    const QList<TDWDocRev::Ptr> all = revisions(QStringLiteral("c"));
    ASSERT_EQ(all.size(), 2);
    EXPECT_EQ(all.first()->obsoletedDate(), deletedAt);
    EXPECT_EQ(all.last()->firstSeenDate(), start);
    EXPECT_NE(firstStart, start);
}

TEST_F(EntriesTest, ParentLinksPlaceholdersAndMoves)
{
    TDWDocEntry one = entry(QStringLiteral("one"), QStringLiteral("One"));
    one.setParentFolderIds({QStringLiteral("box")});
    TDWDocEntry two = entry(QStringLiteral("two"), QStringLiteral("Two"));
    two.setParentFolderIds({QStringLiteral("box")});
    run(1);
    ASSERT_TRUE(process({one, two, entry(QStringLiteral("box"), QStringLiteral("Box"), QStringLiteral("folder"))}));
    EXPECT_EQ(dotest::sqlite(stack.store(Alice, QStringLiteral("docs"))->path(), QStringLiteral("SELECT count(*) FROM Doc WHERE docId = 'box'")),
              QStringLiteral("1"));
    EXPECT_EQ(doc(QStringLiteral("box"))->docType(), QStringLiteral("folder"));
    EXPECT_EQ(revisions(QStringLiteral("box")).size(), 1) << "the folder's own entry gave the placeholder its revision";
    ASSERT_EQ(parentLinks(QStringLiteral("one")).size(), 1);
    EXPECT_EQ(parentLinks(QStringLiteral("one")).first()->parentDoc()->docId(), QStringLiteral("box"));

    one.setParentFolderIds({QStringLiteral("crate")});
    run(2);
    ASSERT_TRUE(process({one, two}));
    QList<TDWDocParent::Ptr> links = parentLinks(QStringLiteral("one"));
    ASSERT_EQ(links.size(), 2);
    for (const TDWDocParent::Ptr &link : links) {
        const bool toBox = link->parentDoc()->docId() == QLatin1String("box");
        EXPECT_EQ(link->assocCurrent(), !toBox);
        EXPECT_EQ(link->obsoletedDate().isValid(), toBox);
        EXPECT_EQ(link->lastSeenDate(), toBox ? at(1) : start);
    }
    EXPECT_EQ(parentLinks(QStringLiteral("two")).first()->lastSeenDate(), start);
    EXPECT_TRUE(revisions(QStringLiteral("crate")).isEmpty()) << "a folder placeholder has no revision";
}

TEST_F(EntriesTest, TagAndPhotoPlaceholdersAndServicesWithoutFolderType)
{
    TDWDocEntry photo = entry(QStringLiteral("album1/photoid/p1"), QStringLiteral("Beach.jpg"), QStringLiteral("photo"));
    photo.setParentFolderIds({QStringLiteral("tag:summer")});
    TDWDocEntry comment = entry(QStringLiteral("c1"), QStringLiteral("Nice"), QStringLiteral("comment"));
    comment.setParentFolderIds({QStringLiteral("album1/photoid/p9")});
    run(1, QStringLiteral("picasaweb"));
    ASSERT_TRUE(process({photo, comment}));
    const TDWDocRev::Ptr tag = latest(QStringLiteral("tag:summer"), QStringLiteral("picasaweb"));
    ASSERT_TRUE(tag);
    EXPECT_EQ(tag->title(), QStringLiteral("summer"));
    EXPECT_EQ(tag->exportStatus(), TDWDocRev::NothingToDownload);
    EXPECT_EQ(doc(QStringLiteral("album1/photoid/p9"), QStringLiteral("picasaweb"))->docType(), QStringLiteral("photo"));
    run(2, QStringLiteral("picasaweb"));
    ASSERT_TRUE(process({photo}));
    EXPECT_EQ(latest(QStringLiteral("tag:summer"), QStringLiteral("picasaweb"))->lastSeenDate(), start);

    TDWDocEntry event = entry(QStringLiteral("cal2"), QStringLiteral("Home"), QStringLiteral("calendarmeta"));
    event.setParentFolderIds({QStringLiteral("nowhere")});
    event.setAccessRole(QStringLiteral("owner"));
    run(3, QStringLiteral("calendar"));
    tdwtest::LogCapture log;
    ASSERT_TRUE(process({event}));
    EXPECT_TRUE(log.contains(
        QStringLiteral("ERROR: Ignoring folder reference for ID “nowhere” because service “calendar” does not have a folder type.")));
    EXPECT_FALSE(doc(QStringLiteral("nowhere"), QStringLiteral("calendar")));
    EXPECT_TRUE(latest(QStringLiteral("cal2"), QStringLiteral("calendar")));
}

TEST_F(EntriesTest, FolderNamesAreUniqueWithoutRegardToCaseAndRevisionNumbersSkipTakenFolders)
{
    TDWDocListEntryProcessor &processor = run(1);
    processor.currentDocDirNames().insert(QStringLiteral("memo"));
    ASSERT_TRUE(process({entry(QStringLiteral("r1"), QStringLiteral("Report")), entry(QStringLiteral("r2"), QStringLiteral("report")),
                         entry(QStringLiteral("m"), QStringLiteral("Memo.txt"))}));
    EXPECT_EQ(doc(QStringLiteral("r1"))->dirPath().section(QLatin1Char('/'), -1), QStringLiteral("Report"));
    EXPECT_EQ(doc(QStringLiteral("r2"))->dirPath().section(QLatin1Char('/'), -1), QStringLiteral("report-1"));
    EXPECT_EQ(doc(QStringLiteral("m"))->dirPath().section(QLatin1Char('/'), -1), QStringLiteral("Memo-1"));

    const QString itemFolder = itemsPath() + QLatin1Char('/') + doc(QStringLiteral("r1"))->dirPath();
    ASSERT_TRUE(QDir().mkpath(itemFolder + QStringLiteral("/2")));
    run(2);
    ASSERT_TRUE(process({entry(QStringLiteral("r1"), QStringLiteral("Report"), QStringLiteral("file"), QStringLiteral("e2"), at(3))}));
    EXPECT_EQ(latest(QStringLiteral("r1"))->dirPath().section(QLatin1Char('/'), -1), QStringLiteral("3"));
}

// A Picasa title's extension came from remote data and was appended unfiltered.
TEST_F(EntriesTest, FileExtensionsFromEntriesPassTheNameFilter)
{
    struct Case
    {
        const char *title;
        QString extension;
        const char *fileName;
    };
    const QList<Case> cases = {
        {"Budget.xlsx", QString(), "Budget.xlsx"},
        {"Budget.xlsx", QStringLiteral(""), "Budget.xlsx"},
        {"Notes", QString(), "Notes"},
        {"Beach", QStringLiteral("../../x/jpg"), "Beach.....xjpg"},
    };
    run(1, QStringLiteral("picasaweb"));
    QList<TDWDocEntry> page;
    for (int i = 0; i < cases.size(); ++i) {
        TDWDocEntry photo = entry(QStringLiteral("p%1").arg(i), QString::fromUtf8(cases[i].title), QStringLiteral("photo"));
        photo.setFilenameExtension(cases[i].extension);
        page.append(photo);
    }
    ASSERT_TRUE(process(page));
    for (int i = 0; i < cases.size(); ++i) {
        const QString fileName = latest(QStringLiteral("p%1").arg(i), QStringLiteral("picasaweb"))->filePath().section(QLatin1Char('/'), -1);
        EXPECT_EQ(fileName, QString::fromUtf8(cases[i].fileName)) << cases[i].title;
        EXPECT_FALSE(fileName.contains(QLatin1Char('/')));
    }
}

TEST_F(EntriesTest, RevisionsFromBeforeTheFixFlagsAreReplaced)
{
    run(1);
    ASSERT_TRUE(process({entry(QStringLiteral("w"), QStringLiteral("Letter"), QStringLiteral("document"))}));
    {
        auto revision = latest(QStringLiteral("w"));
        revision->removeExtensiblePropertyForKey(QStringLiteral("has216fix"));
        ASSERT_TRUE(revision->managedObjectContext()->save(nullptr));
    }
    run(2);
    ASSERT_TRUE(process({entry(QStringLiteral("w"), QStringLiteral("Letter"), QStringLiteral("document"))}));
    EXPECT_EQ(revisions(QStringLiteral("w")).size(), 2);

    const QString withAddress = QStringLiteral("<entry><gd:structuredPostalAddress><gd:city>Oslo</gd:city></gd:structuredPostalAddress></entry>");
    const QString withoutAddress = QStringLiteral("<entry><title>x</title></entry>");
    run(3, QStringLiteral("contacts"));
    TDWDocEntry plain = entry(QStringLiteral("k1"), QStringLiteral("Kim"), QStringLiteral("contact"));
    plain.setXmlString(withoutAddress);
    TDWDocEntry addressed = entry(QStringLiteral("k2"), QStringLiteral("Lee"), QStringLiteral("contact"));
    addressed.setXmlString(withAddress);
    ASSERT_TRUE(process({plain, addressed}));
    for (const QString &id : {QStringLiteral("k1"), QStringLiteral("k2")}) {
        auto revision = latest(id, QStringLiteral("contacts"));
        EXPECT_TRUE(revision->extensiblePropertyForKey(QStringLiteral("contactHasStructuredAddress")).toBool());
        revision->removeExtensiblePropertyForKey(QStringLiteral("contactHasStructuredAddress"));
        ASSERT_TRUE(revision->managedObjectContext()->save(nullptr));
    }
    run(4, QStringLiteral("contacts"));
    ASSERT_TRUE(process({plain, addressed}));
    EXPECT_EQ(revisions(QStringLiteral("k1"), QStringLiteral("contacts")).size(), 1);
    EXPECT_TRUE(latest(QStringLiteral("k1"), QStringLiteral("contacts"))->extensiblePropertyForKey(QStringLiteral("contactHasStructuredAddress")).toBool());
    EXPECT_EQ(revisions(QStringLiteral("k2"), QStringLiteral("contacts")).size(), 2);
}

TEST_F(EntriesTest, DelegateFiltersAndFinishesRevisionsAndPagesFailWhole)
{
    ScriptedDelegate delegate;
    delegate.onUseEntry = [](const TDWDocEntry &e) { return e.docId() != QLatin1String("skip"); };
    delegate.onDocRevFound = [](const TDWDocRev::Ptr &revision) { revision->setExportStatus(TDWDocRev::BackedUp); };
    run(1, QStringLiteral("docs"), &delegate);
    ASSERT_TRUE(process({entry(QStringLiteral("skip"), QStringLiteral("Skipped")), entry(QStringLiteral("done"), QStringLiteral("Done"))}));
    EXPECT_FALSE(doc(QStringLiteral("skip")));
    EXPECT_EQ(latest(QStringLiteral("done"))->exportStatus(), TDWDocRev::BackedUp);
    EXPECT_TRUE(process({})) << "an empty page changes nothing and succeeds";

    TDWDocListEntryProcessor stranger(QStringLiteral("nobody@example.com"), QStringLiteral("docs"), TDWManagedObjectID(),
                                      stack.store(Alice, QStringLiteral("docs")), QString(), nullptr);
    EXPECT_FALSE(stranger.processEntries({entry(QStringLiteral("x"), QStringLiteral("X"))}));
}

// The delegate finds the revision's folder in place: a new revision's folder
// as just made, a reused one's made again when it went missing in between.
TEST_F(EntriesTest, DelegateFindsTheRevisionFolderOfNewAndReusedRevisions)
{
    ScriptedDelegate delegate;
    QStringList foldersSeen;
    delegate.onDocRevFound = [&](const TDWDocRev::Ptr &revision) {
        if (QFileInfo(itemsPath() + QLatin1Char('/') + revision->dirPath()).isDir())
            foldersSeen.append(revision->dirPath());
    };
    run(1, QStringLiteral("docs"), &delegate);
    ASSERT_TRUE(process({entry(QStringLiteral("r"), QStringLiteral("Report"))}));
    const QString folder = latest(QStringLiteral("r"))->dirPath();
    EXPECT_EQ(foldersSeen, QStringList{folder});

    ASSERT_TRUE(QDir(itemsPath() + QLatin1Char('/') + folder).removeRecursively());
    run(2, QStringLiteral("docs"), &delegate);
    ASSERT_TRUE(process({entry(QStringLiteral("r"), QStringLiteral("Report"))}));
    EXPECT_EQ(latest(QStringLiteral("r"))->dirPath(), folder) << "the revision was reused";
    EXPECT_EQ(foldersSeen, (QStringList{folder, folder}));
}

TEST_F(EntriesTest, RevisionFinishedByTheDelegateHasItsFolderRenamedAfterTheSave)
{
    run(1);
    ASSERT_TRUE(process({entry(QStringLiteral("r"), QStringLiteral("Report"))}));
    ScriptedDelegate delegate;
    delegate.onDocRevFound = [](const TDWDocRev::Ptr &revision) { revision->setExportStatus(TDWDocRev::BackedUp); };
    run(2, QStringLiteral("docs"), &delegate);
    ASSERT_TRUE(process({entry(QStringLiteral("r"), QStringLiteral("Summary"))}));
    const TDWDoc::Ptr item = doc(QStringLiteral("r"));
    EXPECT_EQ(item->dirPath().section(QLatin1Char('/'), -1), QStringLiteral("Summary"));
    EXPECT_TRUE(QFileInfo(itemsPath() + QLatin1Char('/') + item->dirPath() + QStringLiteral("/2")).isDir());
    EXPECT_TRUE(latest(QStringLiteral("r"))->dirPath().startsWith(item->dirPath() + QLatin1Char('/')));
}

// The page table's up-front fetches answer what the lookups one item at a time
// answer: the latest revision of each item on the page and its current links
// as a child, for renamed, moved, deleted and reappearing items alike.
TEST_F(EntriesTest, PageTableAnswersAsTheLookupsOfOneItemAtATime)
{
    const auto inFolder = [](const QString &docId, const QString &title, const QString &folder) {
        TDWDocEntry item = entry(docId, title);
        item.setParentFolderIds({folder});
        return item;
    };
    const TDWDocEntry boxes[] = {entry(QStringLiteral("f"), QStringLiteral("F"), QStringLiteral("folder")),
                                 entry(QStringLiteral("g"), QStringLiteral("G"), QStringLiteral("folder"))};
    run(1);
    ASSERT_TRUE(process({boxes[0], boxes[1], inFolder(QStringLiteral("moved"), QStringLiteral("Moved"), QStringLiteral("f")),
                         inFolder(QStringLiteral("renamed"), QStringLiteral("Renamed"), QStringLiteral("f")),
                         inFolder(QStringLiteral("back"), QStringLiteral("Back"), QStringLiteral("g")),
                         inFolder(QStringLiteral("off"), QStringLiteral("Off"), QStringLiteral("g"))}));
    TDWDocEntry gone = inFolder(QStringLiteral("back"), QStringLiteral("Back"), QStringLiteral("g"));
    gone.setDeleted(true);
    run(2);
    ASSERT_TRUE(process({inFolder(QStringLiteral("moved"), QStringLiteral("Moved"), QStringLiteral("g")),
                         inFolder(QStringLiteral("renamed"), QStringLiteral("Renamed 2"), QStringLiteral("f")), gone}));
    run(3);
    ASSERT_TRUE(process({inFolder(QStringLiteral("back"), QStringLiteral("Back"), QStringLiteral("f"))}));

    // "off" stays off the page: what it holds must not leak into it.
    const QList<TDWDocEntry> page = {inFolder(QStringLiteral("moved"), QStringLiteral("Moved"), QStringLiteral("g")),
                                     inFolder(QStringLiteral("renamed"), QStringLiteral("Renamed 2"), QStringLiteral("f")),
                                     inFolder(QStringLiteral("back"), QStringLiteral("Back"), QStringLiteral("f")),
                                     inFolder(QStringLiteral("new"), QStringLiteral("New"), QStringLiteral("f"))};
    const TDWPersistentStorePtr store = stack.store(Alice, QStringLiteral("docs"));
    std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    TDWDocListPage table(*moc, store);
    ASSERT_TRUE(table.load(page, nullptr));
    EXPECT_FALSE(table.item(QStringLiteral("new")));
    EXPECT_FALSE(table.item(QStringLiteral("off")));

    const QDateTime later = at(10);
    for (const QString docId : {QStringLiteral("moved"), QStringLiteral("renamed"), QStringLiteral("back"), QStringLiteral("f"), QStringLiteral("g")}) {
        SCOPED_TRACE(docId.toStdString());
        const TDWDoc::Ptr item = table.item(docId);
        ASSERT_TRUE(item);
        TDWError error;
        const TDWDocRev::Ptr one = TDWDocRev::latestForDoc(item, QDateTime(), *moc, &error);
        ASSERT_TRUE(error.isNull());
        EXPECT_EQ(table.latestRevision(item, &error), one);
        ASSERT_TRUE(one);
        EXPECT_EQ(one->title(), latest(docId)->title());

        const std::optional<QList<TDWDocParent::Ptr>> links = TDWDocParent::forDoc(item, later, *moc);
        const std::optional<QList<TDWDocParent::Ptr>> fromTable = table.currentLinksNotSeenAt(item, later);
        ASSERT_TRUE(links && fromTable);
        EXPECT_EQ(QSet<TDWDocParent::Ptr>(fromTable->cbegin(), fromTable->cend()), QSet<TDWDocParent::Ptr>(links->cbegin(), links->cend()));
        for (const QString folder : {QStringLiteral("f"), QStringLiteral("g")}) {
            const TDWDoc::Ptr parent = TDWDoc::byDocId(folder, store, *moc, nullptr);
            EXPECT_EQ(table.currentLink(item, parent), TDWDocParent::currentForDoc(item, parent, *moc)) << folder.toStdString();
        }
    }
    const TDWDoc::Ptr moved = table.item(QStringLiteral("moved"));
    ASSERT_EQ(table.currentLinksNotSeenAt(moved, later)->size(), 1);
    EXPECT_EQ(table.currentLinksNotSeenAt(moved, later)->first()->parentDoc()->docId(), QStringLiteral("g"));
    EXPECT_EQ(table.latestRevision(table.item(QStringLiteral("renamed")), nullptr)->title(), QStringLiteral("Renamed 2"));
    EXPECT_EQ(table.currentLinksNotSeenAt(table.item(QStringLiteral("back")), later)->first()->parentDoc()->docId(), QStringLiteral("f"));
}
