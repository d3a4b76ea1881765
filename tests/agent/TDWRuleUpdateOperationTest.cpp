#include "BookkeepingFixture.h"

#include "SaveRecorder.h"
#include "TestSupport.h"
#include "agent/TDWRuleUpdateOperation.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWMailFolder.h"
#include "dataobjects/TDWMailItem.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/store/TDWPersistentStoreCoordinator.h"
#include "platform/store/TDWStoreSqlSchema.h"

#include <QObject>

namespace {

using namespace bktest;

const QString RuleKey = QStringLiteral("dontbackuppredicate");

void setRule(const QString &rule)
{
    TDWUserDefaults::standard()->setString(rule, RuleKey);
}

void runUpdate(const QStringList &services = {Docs})
{
    TDWRuleUpdateOperation operation(QStringList{Alice}, services);
    operation.main();
}

using TDWRuleUpdateOperationTest = BookkeepingTest;

// Which revisions the rules may touch: the latest revision of a live item that
// is to be downloaded, failed or missing is excluded when the rule matches, an
// excluded one comes back to 1 when it no longer does; nothing else changes.
TEST_F(TDWRuleUpdateOperationTest, ExcludesAndReincludesOnlyLatestLiveRevisionsOfTheStatusesThatMove)
{
    const QList<Seed> table = statusTable();
    const QList<TDWManagedObjectID> ids = seed(table);

    setRule(QStringLiteral("title CONTAINS[cd] \"report\""));
    runUpdate();
    for (qsizetype i = 0; i < table.size(); ++i) {
        const Seed &row = table[i];
        const bool moves = row.latest && !row.deleted && (row.status == 1 || row.status == 2 || row.status == 4);
        EXPECT_EQ(statusOf(ids[i]), moves ? TDWDocRev::ExcludedByRule : row.status)
            << "status " << row.status << " latest " << row.latest << " deleted " << row.deleted;
    }

    // With the rule removed, every excluded latest live revision is to be
    // downloaded again, including the one that was excluded from the start.
    TDWUserDefaults::standard()->removeObjectForKey(RuleKey);
    runUpdate();
    for (qsizetype i = 0; i < table.size(); ++i) {
        const Seed &row = table[i];
        const bool liveLatest = row.latest && !row.deleted;
        const bool returns = liveLatest && (row.status == 1 || row.status == 2 || row.status == 4 || row.status == 5);
        EXPECT_EQ(statusOf(ids[i]), returns ? TDWDocRev::DownloadPending : row.status)
            << "status " << row.status << " latest " << row.latest << " deleted " << row.deleted;
    }
}

TEST_F(TDWRuleUpdateOperationTest, RevisionsFollowTheRuleAsItChanges)
{
    const QList<TDWManagedObjectID> ids = seed({{.title = QStringLiteral("Budget 2024")},
                                                {.title = QStringLiteral("Holiday photos"), .docType = QStringLiteral("pdf")},
                                                {.status = TDWDocRev::BackedUp, .title = QStringLiteral("Budget 2023")}});

    setRule(QStringLiteral("title BEGINSWITH[cd] \"budget\" OR doc.docType == \"pdf\""));
    TDWRuleUpdateOperation first(QStringList{Alice}, QStringList{Docs});
    first.main();
    EXPECT_EQ(statusOf(ids[0]), TDWDocRev::ExcludedByRule);
    EXPECT_EQ(statusOf(ids[1]), TDWDocRev::ExcludedByRule);
    EXPECT_EQ(statusOf(ids[2]), TDWDocRev::BackedUp);
    EXPECT_TRUE(first.someDisabled());
    EXPECT_FALSE(first.someEnabled());

    setRule(QStringLiteral("doc.docType == \"pdf\""));
    TDWRuleUpdateOperation second(QStringList{Alice}, QStringList{Docs});
    second.main();
    EXPECT_EQ(statusOf(ids[0]), TDWDocRev::DownloadPending);
    EXPECT_EQ(statusOf(ids[1]), TDWDocRev::ExcludedByRule);
    EXPECT_TRUE(second.someEnabled());
    EXPECT_FALSE(second.someDisabled());
}

TEST_F(TDWRuleUpdateOperationTest, ChangesRevisionsInSavedBatchesOfAHundred)
{
    seed(QList<Seed>(250, Seed{}));
    setRule(QStringLiteral("title == \"Report\""));
    SaveRecorder saves(stack.coordinator);
    runUpdate();
    EXPECT_EQ(saves.updatedCounts(), (QList<qsizetype>{100, 100, 50}));
}

TEST_F(TDWRuleUpdateOperationTest, ACancelledUpdateStopsAfterTheBatchInHand)
{
    const QList<TDWManagedObjectID> ids = seed(QList<Seed>(250, Seed{}));
    setRule(QStringLiteral("title == \"Report\""));
    SaveRecorder saves(stack.coordinator);
    TDWRuleUpdateOperation operation(QStringList{Alice}, QStringList{Docs});
    operation.cancel();
    operation.main();
    EXPECT_EQ(saves.updatedCounts(), (QList<qsizetype>{100}));
    int excluded = 0;
    for (const TDWManagedObjectID &id : ids)
        excluded += statusOf(id) == TDWDocRev::ExcludedByRule;
    EXPECT_EQ(excluded, 100);
}

// A download that finishes while the update walks its batches keeps its file.
TEST_F(TDWRuleUpdateOperationTest, ARevisionBackedUpDuringTheWalkStaysBackedUp)
{
    const QList<TDWManagedObjectID> ids = seed(QList<Seed>(150, Seed{}));
    const TDWManagedObjectID last = ids.last();
    bool downloaded = false;
    QObject receiver;
    QObject::connect(stack.coordinator.get(), &TDWPersistentStoreCoordinator::contextDidSave, &receiver,
                     [&](const TDWSaveNotification &) {
                         if (std::exchange(downloaded, true))
                             return;
                         auto moc = TDWMasterStore::shared().newMoc();
                         std::static_pointer_cast<TDWDocRev>(moc->existingObjectWithID(last, nullptr))->setExportStatus(TDWDocRev::BackedUp);
                         ASSERT_TRUE(moc->save(nullptr));
                     },
                     Qt::DirectConnection);
    setRule(QStringLiteral("title == \"Report\""));
    runUpdate();
    EXPECT_EQ(statusOf(ids.first()), TDWDocRev::ExcludedByRule);
    EXPECT_EQ(statusOf(last), TDWDocRev::BackedUp);
}

TEST_F(TDWRuleUpdateOperationTest, MarksTheCountersOfEveryVisitedServiceStale)
{
    seed({{.title = QStringLiteral("Unmatched")}});
    setCounts(Docs, true, 1, 0, 0);
    setCounts(Contacts, true, 0, 0, 0);
    setCounts(Mail, true, 0, 0, 0);
    setRule(QStringLiteral("title == \"Report\""));
    runUpdate({Docs, Contacts});
    EXPECT_FALSE(setting(Docs)->downloadCountsUpToDate());
    EXPECT_FALSE(setting(Contacts)->downloadCountsUpToDate());
    EXPECT_TRUE(setting(Mail)->downloadCountsUpToDate());
}

// A rule that does not parse must not be taken for "no rule" (which would
// re-include everything) nor dropped from the conjunction (which would
// exclude everything): that account service is skipped, and the next follows.
TEST_F(TDWRuleUpdateOperationTest, ARuleThatDoesNotParseSkipsTheServiceAndTheWalkGoesOn)
{
    const QList<TDWManagedObjectID> docs = seed({{}, {.status = TDWDocRev::ExcludedByRule}});
    setCounts(Docs, true, 1, 0, 0);
    setRule(QStringLiteral("title CONTAINS[cd] (("));
    tdwtest::LogCapture log;
    runUpdate({Docs});
    EXPECT_EQ(statusOf(docs[0]), TDWDocRev::DownloadPending);
    EXPECT_EQ(statusOf(docs[1]), TDWDocRev::ExcludedByRule);
    EXPECT_TRUE(setting(Docs)->downloadCountsUpToDate());
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to perform TDWRuleUpdateOperation: ")));

    setRule(QStringLiteral("title == \"Report\""));
    runUpdate({QStringLiteral("nosuchservice"), Docs});
    EXPECT_EQ(statusOf(docs[0]), TDWDocRev::ExcludedByRule);
    EXPECT_EQ(log.lines().filter(QStringLiteral("ERROR: Unable to perform TDWRuleUpdateOperation: ")).size(), 2);
}

TEST_F(TDWRuleUpdateOperationTest, AnEmptiedRuleExcludesNothing)
{
    const QList<TDWManagedObjectID> ids = seed({{.status = TDWDocRev::ExcludedByRule}});
    setRule(QStringLiteral("  "));
    runUpdate();
    EXPECT_EQ(statusOf(ids[0]), TDWDocRev::DownloadPending);
}

// Too deep for SQLite's parser: the rule is tested in memory, with the same answers.
TEST_F(TDWRuleUpdateOperationTest, ARuleWithNoSqlFormIsEvaluatedInMemory)
{
    QString rule = QStringLiteral("title == \"t0\"");
    for (int level = 1; level < 40; ++level)
        rule = QStringLiteral("title == \"t%1\" OR (%2)").arg(level).arg(rule);
    const TDWPredicate parsed = TDWPredicate::parse(rule);
    ASSERT_FALSE(parsed.isNull());
    TDWSqlFragment unused;
    ASSERT_FALSE(parsed.toSql(TDWStoreSqlSchema(stack.moc->model(), stack.store(Alice, Docs)->identifier()), QStringLiteral("DocRev"),
                              QStringLiteral("t"), &unused));

    const QList<TDWManagedObjectID> ids = seed({{.title = QStringLiteral("t0")},
                                                {.title = QStringLiteral("t39")},
                                                {.title = QStringLiteral("t40")},
                                                {.status = TDWDocRev::ExcludedByRule, .title = QStringLiteral("t41")},
                                                {.status = TDWDocRev::ExcludedByRule, .title = QStringLiteral("t7")},
                                                {.latest = false, .title = QStringLiteral("t1")}});
    setRule(rule);
    runUpdate();
    EXPECT_EQ(statusOf(ids[0]), TDWDocRev::ExcludedByRule);
    EXPECT_EQ(statusOf(ids[1]), TDWDocRev::ExcludedByRule);
    EXPECT_EQ(statusOf(ids[2]), TDWDocRev::DownloadPending);
    EXPECT_EQ(statusOf(ids[3]), TDWDocRev::DownloadPending);
    EXPECT_EQ(statusOf(ids[4]), TDWDocRev::ExcludedByRule);
    EXPECT_EQ(statusOf(ids[5]), TDWDocRev::DownloadPending);
}

// Messages by their labels: a label counts when its link and its folder are
// current; it is selected when its folder is backed up.
class TDWRuleUpdateMailTest : public BookkeepingTest
{
protected:
    struct Label
    {
        bool selected = true;
        bool linkCurrent = true;
        bool folderCurrent = true;
    };

    TDWManagedObjectID message(const QList<Label> &labels, qint64 status = TDWDocRev::DownloadPending)
    {
        const TDWManagedObjectID id = seed({{.status = status, .docType = QStringLiteral("message")}}, Mail).first();
        const TDWPersistentStorePtr store = stack.store(Alice, Mail);
        auto revision = std::static_pointer_cast<TDWDocRev>(stack.moc->existingObjectWithID(id, nullptr));
        for (const Label &label : labels) {
            auto folder = TDWMailFolder::newWithMoc(*stack.moc, store);
            folder->setFolderPath(QStringLiteral("label%1").arg(m_nextFolder++));
            folder->setBackup(label.selected);
            folder->setCurrent(label.folderCurrent);
            auto item = TDWMailItem::newWithMoc(*stack.moc, store);
            item->setMailFolder(folder);
            item->setMessageDoc(revision->doc());
            item->setCurrent(label.linkCurrent);
        }
        EXPECT_TRUE(stack.moc->save(nullptr));
        stack.moc->reset();
        return id;
    }

    void setBackupUnlabeled(bool backup)
    {
        auto account = TDWAccount::byUsername(Alice, *stack.moc, nullptr);
        account->setBackupUnlabeled(backup);
        ASSERT_TRUE(stack.moc->save(nullptr));
        stack.moc->reset();
    }

    int m_nextFolder = 1;
};

TEST_F(TDWRuleUpdateMailTest, LabelSelectionAndUnlabeledMessages)
{
    const Label unselected{.selected = false};
    struct Case
    {
        const char *name;
        QList<Label> labels;
        bool excludedWithUnlabeled;
        bool excludedWithoutUnlabeled;
    };
    const QList<Case> cases{
        {"no label", {}, false, true},
        {"one selected label", {Label{}}, false, false},
        {"one unselected label", {unselected}, true, true},
        {"selected and unselected", {Label{}, unselected}, false, false},
        {"selected label no longer on the message", {Label{.linkCurrent = false}}, false, true},
        {"selected label that no longer exists", {Label{.folderCurrent = false}}, false, true},
        {"unselected current and selected stale", {unselected, Label{.linkCurrent = false}}, true, true},
    };
    for (bool backupUnlabeled : {true, false}) {
        setBackupUnlabeled(backupUnlabeled);
        for (const Case &example : cases) {
            const TDWManagedObjectID id = message(example.labels);
            const TDWManagedObjectID excluded = message(example.labels, TDWDocRev::ExcludedByRule);
            runUpdate({Mail});
            const bool expectExcluded = backupUnlabeled ? example.excludedWithUnlabeled : example.excludedWithoutUnlabeled;
            const qint64 expected = expectExcluded ? TDWDocRev::ExcludedByRule : TDWDocRev::DownloadPending;
            EXPECT_EQ(statusOf(id), expected) << example.name << " backupUnlabeled " << backupUnlabeled;
            EXPECT_EQ(statusOf(excluded), expected) << example.name << " (was excluded) backupUnlabeled " << backupUnlabeled;
        }
    }
}

// The rule of the other services does not apply to mail.
TEST_F(TDWRuleUpdateMailTest, TheGlobalRuleLeavesMailAlone)
{
    const TDWManagedObjectID id = message({Label{}});
    TDWUserDefaults::standard()->setString(QStringLiteral("TRUEPREDICATE"), RuleKey);
    runUpdate({Mail});
    EXPECT_EQ(statusOf(id), TDWDocRev::DownloadPending);
}

TEST_F(TDWRuleUpdateMailTest, AnUnknownAccountExcludesNoMail)
{
    tdwtest::LogCapture log;
    const TDWPredicate predicate =
        TDWRuleUpdateOperation::shouldNotBackUpPredicateForAccountUsername(QStringLiteral("nobody@example.com"), Mail, nullptr);
    EXPECT_EQ(predicate.kind(), TDWPredicate::Kind::False);
    EXPECT_TRUE(log.contains(
        QStringLiteral("ERROR: Unable to find account in TDWRuleUpdateOperation shouldNotBackUpPredicateForAccountUsername:service:")));
}

// An account that cannot be read says nothing about its labels: nothing is
// re-included (as "no rule" would) on a guess.
TEST_F(TDWRuleUpdateMailTest, AnAccountThatCannotBeReadSkipsTheMail)
{
    const TDWManagedObjectID excluded = message({Label{.selected = false}}, TDWDocRev::ExcludedByRule);
    // Two accounts of one user name: the lookup fails.
    TDWAccount::newWithMoc(*stack.moc)->setUsername(Alice);
    ASSERT_TRUE(stack.moc->save(nullptr));
    TDWError error;
    EXPECT_TRUE(TDWRuleUpdateOperation::shouldNotBackUpPredicateForAccountUsername(Alice, Mail, &error).isNull());
    EXPECT_FALSE(error.isNull());

    tdwtest::LogCapture log;
    runUpdate({Mail});
    EXPECT_EQ(statusOf(excluded), TDWDocRev::ExcludedByRule);
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to perform TDWRuleUpdateOperation: ")));
}

} // namespace
