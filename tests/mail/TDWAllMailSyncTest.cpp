// All Mail synchronisation against the fake Gmail server: what the store holds
// after a first pass and after the changes Gmail shows between passes.
#include "mail/TDWAllMailUpdateOperation.h"

#include "MailSyncFixture.h"

#include "common/TDWFileMgr.h"
#include "platform/foundation/TDWFileLock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace std::chrono_literals;

namespace {

class AllMailSyncTest : public MailSyncFixture
{
protected:
    QString m_goneFile;
};

TEST_F(AllMailSyncTest, FirstSyncRecordsEveryMessageWithItsLabels)
{
    ASSERT_TRUE(startServer({{"generate", 2500}}));
    ASSERT_TRUE(sync(0));

    EXPECT_EQ(count(QStringLiteral("Doc"), QStringLiteral("docType = 'message' and deleted = 0")), 2500);
    EXPECT_EQ(count(QStringLiteral("DocRev"), QStringLiteral("latest = 1")), 2500);
    EXPECT_EQ(sqlite3(QStringLiteral("SELECT count(DISTINCT \"docId\") FROM \"Doc\" WHERE \"docType\" = 'message' AND \"deleted\" = 0")),
              QStringLiteral("2500"));
    EXPECT_EQ(sqlite3(QStringLiteral("SELECT count(*) FROM \"Doc\" WHERE \"allMailSeqGroup\" = 2")), QStringLiteral("500"));
    EXPECT_EQ(count(QStringLiteral("DocRev"), QStringLiteral("latest = 0")), 0);
    // Generated message i is in Work when i % 5 == 0 and in the Inbox when i % 3 == 0.
    EXPECT_EQ(count(QStringLiteral("MailItem"), QStringLiteral("current = 1 and mailFolder.messageTag = 'Work'")), 500);
    EXPECT_EQ(count(QStringLiteral("MailItem"), QStringLiteral("current = 1 and mailFolder.messageTag = %@"), {QStringLiteral("\\Inbox")}), 834);
    // Sequence numbers, groups and ids as the next pass compares them.
    const auto moc = TDWMasterStore::shared().newMoc();
    const QJsonArray listed = serverMessages();
    ASSERT_EQ(listed.size(), 2500);
    for (const qsizetype position : {qsizetype(0), qsizetype(999), qsizetype(1000), qsizetype(2499)}) {
        SCOPED_TRACE(position);
        const QJsonObject message = listed.at(position).toObject();
        const TDWDoc::Ptr doc = docWithUid(*moc, message.value(QStringLiteral("uid")).toInteger());
        ASSERT_TRUE(doc);
        EXPECT_EQ(doc->allMailSeq(), position + 1);
        EXPECT_EQ(doc->allMailSeqGroup(), position / 1000);
        EXPECT_EQ(doc->docId(), QString::number(message.value(QStringLiteral("msgid")).toInteger()));
        EXPECT_EQ(doc->gmailMessageId(), doc->docId());
        const TDWDocRev::Ptr revision = TDWDocRev::latestForDoc(doc, QDateTime(), *moc, nullptr);
        ASSERT_TRUE(revision);
        EXPECT_FALSE(revision->title().isEmpty());
        EXPECT_FALSE(revision->from().isEmpty());
        EXPECT_TRUE(revision->filePath().startsWith(m_account->dirPath() + QLatin1Char('/')));
        EXPECT_TRUE(revision->filePath().endsWith(QStringLiteral(".emlx")));
    }

    // A second pass over an unchanged mailbox opens nothing.
    ASSERT_TRUE(sync(1));
    EXPECT_EQ(count(QStringLiteral("DocRev"), QStringLiteral("latest = 1")), 2500);
    EXPECT_EQ(count(QStringLiteral("DocRev"), QStringLiteral("latest = 0")), 0);
    EXPECT_EQ(count(QStringLiteral("Doc"), QStringLiteral("deleted = 1")), 0);
}

// Gmail names its system folders in the account's language (in modified
// UTF-7, spaces between the encoded runs): their special-use attributes, not
// their names, lead to All Mail and the system labels.
TEST_F(AllMailSyncTest, ALocalizedAccountIsSynchronisedThroughItsOwnFolderNames)
{
    ASSERT_TRUE(startServer({{"generate", 1200}, {"layout", "[Google Mail]"}, {"language", "ru"}}));
    ASSERT_TRUE(sync(0));
    EXPECT_EQ(TDWMailUtils::allMailPathForAccountUsername(Alice), QStringLiteral("[Google Mail]/&BBIEQQRP- &BD8EPgRHBEIEMA-"));
    EXPECT_EQ(count(QStringLiteral("Doc"), QStringLiteral("deleted = 0")), 1200);
    // Generated message i is in Sent Mail when i % 11 == 1.
    EXPECT_EQ(count(QStringLiteral("MailItem"), QStringLiteral("current = 1 and mailFolder.messageTag = %@"), {QStringLiteral("\\Sent")}), 109);

    m_server.control({{"op", "flag"}, {"uid", serverMessages().at(3).toObject().value(QStringLiteral("uid"))}, {"remove", QJsonArray{"\\Seen"}}});
    ASSERT_TRUE(sync(1));
    EXPECT_EQ(count(QStringLiteral("DocRev"), QStringLiteral("latest = 0")), 1);
    EXPECT_EQ(count(QStringLiteral("DocRev"), QStringLiteral("latest = 1 and isUnread = 1 and firstSeenDate = %@"), {m_start.addDays(1)}), 1);
}

// The server's other ways of writing the same answers change nothing in the store.
TEST_F(AllMailSyncTest, OtherLabelFormsAndItemOrdersGiveTheSameRecords)
{
    ASSERT_TRUE(startServer({{"generate", 300}},
                            {{"label_style", "mixed"}, {"item_order", "legacy"}, {"preauth_capabilities", "full"}, {"selected_label", "show"}}));
    ASSERT_TRUE(sync(0));
    EXPECT_EQ(count(QStringLiteral("Doc"), QStringLiteral("deleted = 0")), 300);
    EXPECT_EQ(count(QStringLiteral("MailItem"), QStringLiteral("current = 1 and mailFolder.messageTag = 'Work'")), 60);
    EXPECT_EQ(count(QStringLiteral("MailItem"), QStringLiteral("current = 1 and mailFolder.messageTag = 'Entw&APw-rfe'")), 23);
    EXPECT_EQ(count(QStringLiteral("MailItem"), QStringLiteral("current = 1 and mailFolder.messageTag = %@"), {QStringLiteral("\\Inbox")}), 100);
}

TEST_F(AllMailSyncTest, AFlagChangeOpensOneNewRevision)
{
    ASSERT_TRUE(startServer({{"generate", 1500}}));
    ASSERT_TRUE(sync(0));
    // One message in the light first batch, one in the full last batch.
    const QJsonArray listed = serverMessages();
    const QList<qint64> uids = {listed.at(1).toObject().value(QStringLiteral("uid")).toInteger(),
                                listed.at(1400).toObject().value(QStringLiteral("uid")).toInteger()};
    for (const qint64 uid : uids)
        m_server.control({{"op", "flag"}, {"uid", uid}, {"add", QJsonArray{"\\Flagged"}}});
    ASSERT_TRUE(sync(1));

    EXPECT_EQ(count(QStringLiteral("DocRev"), QStringLiteral("latest = 0")), 2);
    EXPECT_EQ(count(QStringLiteral("DocRev"), QStringLiteral("latest = 1")), 1500);
    const auto moc = TDWMasterStore::shared().newMoc();
    for (const qint64 uid : uids) {
        SCOPED_TRACE(uid);
        const TDWDoc::Ptr doc = docWithUid(*moc, uid);
        ASSERT_TRUE(doc);
        const QList<TDWDocRev::Ptr> revisions = revisionsOf(doc);
        ASSERT_EQ(revisions.size(), 2);
        EXPECT_FALSE(revisions[0]->latest());
        EXPECT_EQ(revisions[0]->obsoletedDate(), m_start.addDays(1));
        EXPECT_FALSE(revisions[0]->starred());
        EXPECT_TRUE(revisions[1]->latest());
        EXPECT_TRUE(revisions[1]->starred());
        EXPECT_EQ(revisions[1]->firstSeenDate(), m_start.addDays(1));
        EXPECT_EQ(revisions[1]->title(), revisions[0]->title());
        EXPECT_EQ(revisions[1]->from(), revisions[0]->from());
        EXPECT_NE(revisions[1]->filePath(), revisions[0]->filePath());
    }
}

// Items written before Gmail ids were kept carry "msg:<validity>-<uid>" as
// their id; the light fetch gives them their Gmail ids without new items or revisions.
TEST_F(AllMailSyncTest, ItemsWithoutGmailIdsLearnThemFromTheLightFetch)
{
    ASSERT_TRUE(startServer({{"generate", 1500}}));
    ASSERT_TRUE(sync(0));
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        const auto docs = TDWEntityFetch(*moc, QStringLiteral("Doc")).where(QStringLiteral("allMailSeqGroup = 0")).in(m_mailStore).objects<TDWDoc>(nullptr);
        ASSERT_TRUE(docs);
        ASSERT_EQ(docs->size(), 1000);
        for (const TDWDoc::Ptr &doc : *docs) {
            doc->setDocId(QStringLiteral("msg:") + doc->allMailUid());
            doc->setGmailMessageId(QString());
        }
        ASSERT_TRUE(moc->save(nullptr));
    }
    ASSERT_TRUE(sync(1));
    EXPECT_EQ(count(QStringLiteral("Doc"), QStringLiteral("docType = 'message'")), 1500);
    EXPECT_EQ(count(QStringLiteral("Doc"), QStringLiteral("gmailMessageId = nil or docId BEGINSWITH 'msg:'")), 0);
    EXPECT_EQ(count(QStringLiteral("DocRev"), QStringLiteral("latest = 0")), 0);
    const auto moc = TDWMasterStore::shared().newMoc();
    const QJsonObject first = serverMessages().at(0).toObject();
    const TDWDoc::Ptr doc = docWithUid(*moc, first.value(QStringLiteral("uid")).toInteger());
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->docId(), QString::number(first.value(QStringLiteral("msgid")).toInteger()));
    EXPECT_EQ(doc->gmailThreadId(), QString::number(first.value(QStringLiteral("thrid")).toInteger()));
}

TEST_F(AllMailSyncTest, LabelsAddedAndRemovedOpenAndCloseLinks)
{
    ASSERT_TRUE(startServer({{"generate", 30}}));
    ASSERT_TRUE(sync(0));
    // Message 0 (UID 1) is in the Inbox and Work.
    m_server.control({{"op", "label"}, {"uid", 1}, {"add", QJsonArray{"Travel"}}, {"remove", QJsonArray{"Work"}}});
    m_server.control({{"op", "add_message"}, {"raw", "From: a@example.org\r\nSubject: x\r\n\r\nx\r\n"}, {"labels", QJsonArray{"Travel"}}});
    ASSERT_TRUE(sync(1));

    const auto moc = TDWMasterStore::shared().newMoc();
    const TDWDoc::Ptr doc = docWithUid(*moc, 1);
    ASSERT_TRUE(doc);
    EXPECT_EQ(mailtest::sortedNames(currentLabelsOf(doc)), QStringLiteral("Travel,\\Inbox"));
    bool closedWork = false;
    for (const TDWMailItem::Ptr &item : doc->mailItems())
        if (item->mailFolder()->messageTag() == QLatin1String("Work"))
            closedWork = !item->current() && item->obsoletedDate() == m_start.addDays(1) && item->firstSeenDate() == m_start;
    EXPECT_TRUE(closedWork);
    EXPECT_FALSE(doc->isUnlabeledMessage());
}

// The light batches compare the stored links with the labels before loading
// anything: a run without changes writes no link and no revision, and a
// label change there still opens and closes links.
TEST_F(AllMailSyncTest, LabelsOfALightBatchAreComparedAndChangedThere)
{
    ASSERT_TRUE(startServer({{"generate", 1500}}));
    ASSERT_TRUE(sync(0));
    const qint64 links = count(QStringLiteral("MailItem"), QStringLiteral("current = 1"));
    ASSERT_TRUE(sync(1));
    EXPECT_EQ(count(QStringLiteral("MailItem"), QStringLiteral("current = 1")), links);
    EXPECT_EQ(count(QStringLiteral("MailItem"), QStringLiteral("current = 0")), 0);
    EXPECT_EQ(count(QStringLiteral("DocRev"), QStringLiteral("latest = 0")), 0);

    // In the first batch, which the second pass fetches light.
    const qint64 uid = serverMessages().at(1).toObject().value(QStringLiteral("uid")).toInteger();
    QSet<QString> before;
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        before = currentLabelsOf(docWithUid(*moc, uid));
    }
    QString removed;
    for (const QString &label : std::as_const(before))
        if (label != QLatin1String("Travel"))
            removed = label;
    ASSERT_FALSE(removed.isEmpty());
    const qint64 opened = before.contains(QStringLiteral("Travel")) ? 0 : 1;
    m_server.control({{"op", "label"}, {"uid", uid}, {"add", QJsonArray{"Travel"}}, {"remove", QJsonArray{removed}}});
    ASSERT_TRUE(sync(2));

    const auto moc = TDWMasterStore::shared().newMoc();
    QSet<QString> expected = before;
    expected.remove(removed);
    expected.insert(QStringLiteral("Travel"));
    EXPECT_EQ(mailtest::sortedNames(currentLabelsOf(docWithUid(*moc, uid))), mailtest::sortedNames(expected));
    EXPECT_EQ(count(QStringLiteral("MailItem"), QStringLiteral("current = 0")), 1);
    EXPECT_EQ(count(QStringLiteral("MailItem"), QStringLiteral("current = 1")), links - 1 + opened);
}

// However a message's item is found (by its All Mail key or only by its Gmail
// id), its current label links are read before any is opened: no pass links
// a message to a folder twice. The message is the second of the first batch,
// which later passes fetch light as long as the batch still matches.
enum class LinkCase { ItemWithoutAllMailKey, AllMailUidChanged, LeftAndCameBack, UidValidityReset };

std::string linkCaseName(const ::testing::TestParamInfo<LinkCase> &info)
{
    static const char *const names[] = {"ItemWithoutAllMailKey", "AllMailUidChanged", "LeftAndCameBack", "UidValidityReset"};
    return names[int(info.param)];
}

class AllMailLinkTest : public MailSyncFixture, public ::testing::WithParamInterface<LinkCase>
{
protected:
    qint64 repeatedLinks()
    {
        return sqlite3(QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM \"MailItem\" WHERE \"current\" = 1 "
                                      "GROUP BY \"messageDoc\", \"mailFolder\" HAVING count(*) > 1)"))
            .toLongLong();
    }
};

TEST_P(AllMailLinkTest, NoPassLinksAMessageToAFolderTwice)
{
    ASSERT_TRUE(startServer({{"generate", 1500}}));
    ASSERT_TRUE(sync(0));
    const qint64 links = count(QStringLiteral("MailItem"), QStringLiteral("current = 1"));
    const qint64 msgid = serverMessages().at(1).toObject().value(QStringLiteral("msgid")).toInteger();
    int day = 1;
    switch (GetParam()) {
    case LinkCase::ItemWithoutAllMailKey: {
        // As an earlier version's store may hold it.
        const auto moc = TDWMasterStore::shared().newMoc();
        const TDWDoc::Ptr doc = TDWDoc::byDocId(QString::number(msgid), m_mailStore, *moc, nullptr);
        ASSERT_TRUE(doc);
        doc->setAllMailUid(QString());
        ASSERT_TRUE(moc->save(nullptr));
        break;
    }
    case LinkCase::AllMailUidChanged:
        // Back from Trash, Gmail gives a message new UIDs at the end of every view.
        m_server.control({{"op", "restore"}, {"msgid", msgid}});
        break;
    case LinkCase::LeftAndCameBack:
        m_server.control({{"op", "expunge"}, {"msgid", msgid}});
        ASSERT_TRUE(sync(day++));
        m_server.control({{"op", "restore"}, {"msgid", msgid}});
        break;
    case LinkCase::UidValidityReset:
        m_server.control({{"op", "uidvalidity"}});
        break;
    }
    for (const int pass : {day, day + 1}) {
        SCOPED_TRACE(pass);
        ASSERT_TRUE(sync(pass));
        EXPECT_EQ(repeatedLinks(), 0);
        EXPECT_EQ(count(QStringLiteral("MailItem"), QStringLiteral("current = 1")), links);
    }
    EXPECT_EQ(count(QStringLiteral("Doc"), QStringLiteral("docType = 'message'")), 1500);
}

INSTANTIATE_TEST_SUITE_P(FoundByGmailId, AllMailLinkTest,
                         ::testing::Values(LinkCase::ItemWithoutAllMailKey, LinkCase::AllMailUidChanged, LinkCase::LeftAndCameBack,
                                           LinkCase::UidValidityReset),
                         linkCaseName);

TEST_F(AllMailSyncTest, UidValidityChangeRefetchesEverythingWithoutLosingItems)
{
    ASSERT_TRUE(startServer({{"generate", 2100}}));
    ASSERT_TRUE(sync(0));
    const QJsonObject changed = m_server.control({{"op", "uidvalidity"}}).toObject();
    ASSERT_TRUE(sync(1));

    const qint64 validity = changed.value(QStringLiteral("uidvalidity")).toInteger();
    EXPECT_EQ(count(QStringLiteral("Doc"), QStringLiteral("deleted = 0")), 2100);
    EXPECT_EQ(count(QStringLiteral("Doc"), QStringLiteral("allMailUid BEGINSWITH %@"), {QStringLiteral("%1-").arg(validity)}), 2100);
    EXPECT_EQ(count(QStringLiteral("DocRev"), QStringLiteral("lastSeenDate = %@"), {m_start.addDays(1)}), 2100);
    EXPECT_EQ(count(QStringLiteral("DocRev"), QStringLiteral("latest = 0")), 0);
}

TEST_F(AllMailSyncTest, ADeletionMidMailboxIsMarkedAndPurgedAfterTheKeepingTime)
{
    ASSERT_TRUE(startServer({{"generate", 2100}}));
    ASSERT_TRUE(sync(0));
    const QJsonArray listed = serverMessages();
    const qint64 goneUid = listed.at(500).toObject().value(QStringLiteral("uid")).toInteger();
    m_server.control({{"op", "expunge"}, {"uid", goneUid}});
    TDWUserDefaults::standard()->setInteger(3600, DeleteReferenceDeltaSeconds);

    // Backed up with a file of its own, which the purge must take away.
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        const TDWDocRev::Ptr revision = TDWDocRev::latestForDoc(docWithUid(*moc, goneUid), QDateTime(), *moc, nullptr);
        ASSERT_TRUE(revision);
        revision->setExportStatus(TDWDocRev::BackedUp);
        ASSERT_TRUE(moc->save(nullptr));
        m_goneFile = QDir(TDWFileMgr::backedUpItemsPathForService(QStringLiteral("mail"))).filePath(revision->filePath());
        ASSERT_TRUE(QDir().mkpath(QFileInfo(m_goneFile).absolutePath()));
        QFile file(m_goneFile);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("message");
        file.close();
        ASSERT_TRUE(TDWFileLock::setLocked(m_goneFile, true));
    }

    ASSERT_TRUE(sync(1));
    EXPECT_EQ(count(QStringLiteral("Doc"), QStringLiteral("deleted = 0")), 2099);
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        const TDWDoc::Ptr gone = docWithUid(*moc, goneUid);
        ASSERT_TRUE(gone);
        EXPECT_TRUE(gone->deleted());
        EXPECT_EQ(gone->deletedDate(), m_start.addDays(1));
        EXPECT_EQ(TDWDocRev::latestForDoc(gone, QDateTime(), *moc, nullptr)->obsoletedDate(), m_start.addDays(1));
    }
    // Kept for the keeping time: the file is still there within the hour.
    EXPECT_TRUE(QFile::exists(m_goneFile));

    ASSERT_TRUE(sync(2));
    EXPECT_EQ(count(QStringLiteral("Doc"), QStringLiteral("deleted = 1")), 0);
    EXPECT_EQ(count(QStringLiteral("Doc"), QStringLiteral("docType = 'message'")), 2099);
    EXPECT_EQ(count(QStringLiteral("DocRev"), QStringLiteral("latest = 1")), 2099);
    EXPECT_FALSE(QFile::exists(m_goneFile));
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(m_goneFile).absolutePath()));
}

TEST_F(AllMailSyncTest, NoPurgeWhenTheKeepingTimeIsOff)
{
    ASSERT_TRUE(startServer({{"generate", 20}}));
    ASSERT_TRUE(sync(0));
    m_server.control({{"op", "expunge"}, {"uid", 3}});
    TDWUserDefaults::standard()->setInteger(-1, DeleteReferenceDeltaSeconds);
    ASSERT_TRUE(sync(1));
    ASSERT_TRUE(sync(400));
    EXPECT_EQ(count(QStringLiteral("Doc"), QStringLiteral("deleted = 1")), 1);
    EXPECT_EQ(count(QStringLiteral("Doc"), QStringLiteral("docType = 'message'")), 20);
}

// A message marked deleted that is listed again lives on in a new revision;
// the closed one keeps the date it vanished, so snapshots in between show it
// gone and later ones show it, and the purge takes only the closed one.
TEST_F(AllMailSyncTest, AMessageThatComesBackOpensANewRevision)
{
    ASSERT_TRUE(startServer({{"generate", 10}}));
    ASSERT_TRUE(sync(0));
    const qint64 msgid = serverMessages().at(4).toObject().value(QStringLiteral("msgid")).toInteger();
    m_server.control({{"op", "expunge"}, {"msgid", msgid}});
    ASSERT_TRUE(sync(1));
    m_server.control({{"op", "restore"}, {"msgid", msgid}});
    TDWUserDefaults::standard()->setInteger(3600, DeleteReferenceDeltaSeconds);
    ASSERT_TRUE(sync(2));

    const auto moc = TDWMasterStore::shared().newMoc();
    const TDWDoc::Ptr doc = TDWDoc::byDocId(QString::number(msgid), m_mailStore, *moc, nullptr);
    ASSERT_TRUE(doc);
    EXPECT_FALSE(doc->deleted());
    EXPECT_FALSE(doc->deletedDate().isValid());
    const TDWDocRev::Ptr latest = TDWDocRev::latestForDoc(doc, QDateTime(), *moc, nullptr);
    ASSERT_TRUE(latest);
    EXPECT_FALSE(latest->obsoletedDate().isValid());
    EXPECT_EQ(latest->firstSeenDate(), m_start.addDays(2));
    // The purge ran in the same pass and took the revision closed a day ago.
    EXPECT_EQ(doc->docRevs().size(), 1);
    EXPECT_EQ(count(QStringLiteral("Doc"), QStringLiteral("deleted = 0")), 10);

    // A later pass leaves it live.
    ASSERT_TRUE(sync(3));
    EXPECT_EQ(count(QStringLiteral("Doc"), QStringLiteral("deleted = 0")), 10);
    EXPECT_EQ(count(QStringLiteral("DocRev"), QStringLiteral("latest = 1 and obsoletedDate != nil")), 0);
}

TEST_F(AllMailSyncTest, AnEmptyAllMailAsksForNothingAndDeletesNothing)
{
    ASSERT_TRUE(startServer({{"generate", 5}}, {{"strict_ranges", true}}));
    ASSERT_TRUE(sync(0));
    for (const QJsonValue &message : serverMessages())
        m_server.control({{"op", "expunge"}, {"uid", message.toObject().value(QStringLiteral("uid"))}});
    ASSERT_TRUE(sync(1));
    EXPECT_EQ(count(QStringLiteral("Doc"), QStringLiteral("deleted = 0")), 5);
    for (const QString &line : loggedLines())
        EXPECT_FALSE(line.startsWith(QLatin1String("ERROR: Unable to find message by sequence number"))) << line.toStdString();
}

TEST_F(AllMailSyncTest, FailedFetchesAreRetriedFourTimes)
{
    ASSERT_TRUE(startServer({{"generate", 5}}));
    // The session is made at the usual scale; only the pauses between tries shrink.
    const TDWManagedObjectID first = beginIteration(0);
    m_server.control({{"op", "fault"}, {"type", "no"}, {"command", "FETCH"}, {"times", 4}});
    TDWClock::setDurationScale(0.001);
    EXPECT_TRUE(runSync(first)->success());
    EXPECT_EQ(count(QStringLiteral("Doc"), QStringLiteral("deleted = 0")), 5);

    TDWClock::setDurationScale(1.0);
    const TDWManagedObjectID second = beginIteration(1);
    m_server.control({{"op", "fault"}, {"type", "no"}, {"command", "FETCH"}, {"times", 5}});
    TDWClock::setDurationScale(0.001);
    EXPECT_FALSE(runSync(second)->success());
}

// A lost connection will not mend in the two seconds between tries, nor
// will a refused sign-in: the pass ends at the first such failure.
TEST_F(AllMailSyncTest, ALostConnectionEndsThePassWithoutRetries)
{
    ASSERT_TRUE(startServer({{"generate", 5}}));
    const TDWManagedObjectID iteration = beginIteration(0);
    m_server.control({{"op", "fault"}, {"type", "drop"}, {"command", "FETCH"}, {"times", 1000}});
    TDWClock::setDurationScale(0.001);
    EXPECT_FALSE(runSync(iteration)->success());
    EXPECT_EQ(loggedLines().filter(QStringLiteral("Will retry after")).size(), 0);
    EXPECT_EQ(loggedLines().filter(QStringLiteral("ERROR: Unable to find message by sequence number")).size(), 1);
}

// The next batch is fetched while the current one is stored: a failed fetch
// of it is retried as any other, and the pass ends as if nothing had failed.
TEST_F(AllMailSyncTest, AFailedFetchOfTheNextBatchIsRetried)
{
    ASSERT_TRUE(startServer({{"generate", 2500}}));
    ASSERT_TRUE(sync(0));
    m_server.control({{"op", "flag"}, {"uid", serverMessages().at(1500).toObject().value(QStringLiteral("uid"))}, {"add", QJsonArray{"\\Flagged"}}});
    const TDWManagedObjectID iteration = beginIteration(1);
    m_server.control({{"op", "fault"}, {"type", "no"}, {"command", "FETCH"}, {"contains", "1001:2000"}, {"times", 2}});
    TDWClock::setDurationScale(0.001);
    EXPECT_TRUE(runSync(iteration)->success());
    EXPECT_EQ(loggedLines().filter(QStringLiteral("Will retry after")).size(), 2);
    EXPECT_EQ(count(QStringLiteral("Doc"), QStringLiteral("deleted = 0")), 2500);
    EXPECT_EQ(count(QStringLiteral("DocRev"), QStringLiteral("latest = 1")), 2500);
    EXPECT_EQ(count(QStringLiteral("DocRev"), QStringLiteral("latest = 0")), 1);
}

// A stall of the next batch's fetch, in flight while the batch before it is
// stored, cancels the run once; what was stored before stays.
TEST_F(AllMailSyncTest, AStalledFetchOfTheNextBatchCancelsTheRunOnce)
{
    ASSERT_TRUE(startServer({{"generate", 2500}}));
    const TDWManagedObjectID iteration = beginIteration(0);
    session()->setTimeout(3600);
    m_server.control({{"op", "fault"}, {"type", "stall"}, {"command", "FETCH"}, {"contains", "1001:2000"}});
    TDWClock::setDurationScale(0.01);
    auto operation = std::make_shared<TDWAllMailUpdateOperation>(Alice, iteration);
    EXPECT_EQ(runCountingCompletions(operation), 1);
    EXPECT_FALSE(operation->success());
    EXPECT_TRUE(loggedLines().contains(QStringLiteral("ERROR: Looks like TDWAllMailUpdateOperation got stuck. Killing off.")));
    EXPECT_EQ(count(QStringLiteral("Doc"), QStringLiteral("deleted = 0")), 1000);
}

// A request that never gets an answer: the watchdog cancels the run, which
// ends as failed and finishes exactly once.
TEST_F(AllMailSyncTest, TheWatchdogCancelsAStalledRunWhichFinishesOnce)
{
    ASSERT_TRUE(startServer({{"generate", 5}}));
    const TDWManagedObjectID iteration = beginIteration(0);
    // The session's own time-out must not end the request before the watchdog sees it.
    session()->setTimeout(3600);
    m_server.control({{"op", "fault"}, {"type", "stall"}, {"command", "FETCH"}});
    TDWClock::setDurationScale(0.01);
    auto operation = std::make_shared<TDWAllMailUpdateOperation>(Alice, iteration);
    EXPECT_EQ(runCountingCompletions(operation), 1);
    EXPECT_TRUE(operation->isCancelled());
    EXPECT_FALSE(operation->success());
    EXPECT_TRUE(loggedLines().contains(QStringLiteral("ERROR: Looks like TDWAllMailUpdateOperation got stuck. Killing off.")));
}

} // namespace
