// Label links of a batch, at the store: which links open and close, and
// whether the message's latest revision is to be downloaded.
#include "mail/TDWMessageLabelLinks.h"

#include "MailStoreFixture.h"
#include "MailTestSupport.h"

#include "dataobjects/TDWDocRev.h"
#include "mail/TDWDocsForMessages.h"
#include "dataobjects/TDWMailItem.h"
#include "dataobjects/TDWMasterStore.h"

#include <gtest/gtest.h>

namespace {

constexpr quint32 Validity = 7;

class MessageLabelLinksTest : public MailStoreFixture
{
protected:
    // A message item as a full fetch leaves it: its first revision pending
    // by the account's unlabeled setting (off here).
    TDWDoc::Ptr addMessage(const TDWImapMessage &message, const QList<TDWMailFolder::Ptr> &folders)
    {
        const TDWDoc::Ptr doc = addMessageIn(TDWDocsForMessages::gmailKey(message.gmailMessageID), folders);
        doc->setGmailMessageId(doc->docId());
        doc->setAllMailUid(TDWDocsForMessages::allMailKey(Validity, message.uid));
        auto revision = TDWDocRev::newWithMoc(*m_moc, m_mailStore);
        revision->setDoc(doc);
        revision->setLatest(true);
        revision->setExportStatus(TDWDocRev::ExcludedByRule);
        return doc;
    }

    bool syncLinks(const QList<TDWImapMessage> &messages)
    {
        TDWAllMailSyncContext context;
        context.accountUsername = Alice;
        context.backupIterationDate = day(2);
        context.store = m_mailStore;
        context.allMailUidValidity = Validity;
        return TDWMessageLabelLinks(context).syncFoldersForMessageArray(messages);
    }

    // The saved latest revision's status and the item's unlabeled mark.
    std::pair<qint64, bool> savedState(const QString &docId)
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        const TDWDoc::Ptr doc = TDWDoc::byDocId(docId, m_mailStore, *moc, nullptr);
        const TDWDocRev::Ptr revision = TDWDocRev::latestForDoc(doc, QDateTime(), *moc, nullptr);
        return {revision ? revision->exportStatus() : -1, doc && doc->isUnlabeledMessage()};
    }

    static TDWImapMessage message(quint64 gmailId, quint32 uid, const QStringList &labels)
    {
        TDWImapMessage m;
        m.gmailMessageID = gmailId;
        m.uid = uid;
        m.gmailLabels = labels;
        return m;
    }
};

TEST_F(MessageLabelLinksTest, LinksFollowTheLabelsAndDecideTheDownload)
{
    const auto work = addFolder(QStringLiteral("Work"), QStringLiteral("Work"), 1, true);
    const auto inbox = addFolder(QStringLiteral("INBOX"), QStringLiteral("INBOX"), 2, true);
    inbox->setMessageTag(QStringLiteral("\\Inbox"));
    addFolder(QStringLiteral("Muted"), QStringLiteral("Muted"), 1, false);
    const QList<TDWImapMessage> batch = {
        message(101, 1, {QStringLiteral("\\Inbox"), QStringLiteral("Work")}),   // two backed-up labels, new
        message(102, 2, {QStringLiteral("Muted")}),                             // only a label not backed up
        message(103, 3, {}),                                                    // lost its last label
        message(104, 4, {QStringLiteral("NoSuchFolder")}),                      // a label without a folder
    };
    for (const TDWImapMessage &m : batch)
        addMessage(m, m.gmailMessageID == 103 ? QList<TDWMailFolder::Ptr>{work} : QList<TDWMailFolder::Ptr>{});
    save();

    ASSERT_TRUE(syncLinks(batch));
    EXPECT_EQ(savedState(QStringLiteral("101")), std::make_pair(qint64(TDWDocRev::DownloadPending), false));
    EXPECT_EQ(savedState(QStringLiteral("102")), std::make_pair(qint64(TDWDocRev::ExcludedByRule), false));
    EXPECT_EQ(savedState(QStringLiteral("103")), std::make_pair(qint64(TDWDocRev::ExcludedByRule), true));
    // Nothing began or ended for it: it stays as the full fetch made it.
    EXPECT_EQ(savedState(QStringLiteral("104")), std::make_pair(qint64(TDWDocRev::ExcludedByRule), false));

    const auto moc = TDWMasterStore::shared().newMoc();
    const TDWDoc::Ptr lost = TDWDoc::byDocId(QStringLiteral("103"), m_mailStore, *moc, nullptr);
    ASSERT_EQ(lost->mailItems().size(), 1);
    EXPECT_FALSE(lost->mailItems().first()->current());
    EXPECT_EQ(lost->mailItems().first()->obsoletedDate(), day(2));
}

// A label folder that has closed still has its links marked current; they
// must not keep a message to be backed up.
TEST_F(MessageLabelLinksTest, ALinkToAClosedFolderDoesNotCount)
{
    const auto closed = addFolder(QStringLiteral("Old"), QStringLiteral("Old"), 1, true);
    closed->setCurrent(false);
    closed->setObsoletedDate(day(1));
    addFolder(QStringLiteral("Muted"), QStringLiteral("Muted"), 1, false);
    const TDWImapMessage m = message(201, 1, {QStringLiteral("Muted")});
    addMessage(m, {closed});
    save();

    ASSERT_TRUE(syncLinks({m}));
    EXPECT_EQ(savedState(QStringLiteral("201")), std::make_pair(qint64(TDWDocRev::ExcludedByRule), false));
}

TEST_F(MessageLabelLinksTest, ABackedUpRevisionKeepsItsStatus)
{
    addFolder(QStringLiteral("Muted"), QStringLiteral("Muted"), 1, false);
    const TDWImapMessage m = message(301, 1, {QStringLiteral("Muted")});
    const TDWDoc::Ptr doc = addMessage(m, {});
    TDWDocRev::latestForDoc(doc, QDateTime(), *m_moc, nullptr)->setExportStatus(TDWDocRev::BackedUp);
    save();
    ASSERT_TRUE(syncLinks({m}));
    EXPECT_EQ(savedState(QStringLiteral("301")).first, qint64(TDWDocRev::BackedUp));
}

} // namespace
