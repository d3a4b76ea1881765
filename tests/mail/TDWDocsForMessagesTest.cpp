// Which stored message items a batch of fetched messages already has.
#include "mail/TDWDocsForMessages.h"

#include "MailStoreFixture.h"

#include <QSet>

#include <gtest/gtest.h>

namespace {

using TDWDocsForMessagesTest = MailStoreFixture;

TEST_F(TDWDocsForMessagesTest, MessageLookupByGmailIdThenAllMailKey)
{
    auto message = [this](const QString &docId, const QString &allMailUid, const QString &gmailId) {
        auto doc = TDWDoc::newWithMoc(*m_moc, m_mailStore);
        doc->setDocId(docId);
        doc->setAllMailUid(allMailUid);
        doc->setGmailMessageId(gmailId);
        return doc;
    };
    // Made by an earlier version: found through its All Mail key. UID validity 3000000000 prints negative.
    const auto old = message(QStringLiteral("msg:-1294967296-5"), QStringLiteral("-1294967296-5"), {});
    // Found by its Gmail id even though its UID changed.
    const auto moved = message(QStringLiteral("1234567890123"), QStringLiteral("-1294967296-6"), QStringLiteral("1234567890123"));
    // No All Mail key at all: found by its Gmail id alone, and still one of the batch's items.
    const auto keyless = message(QStringLiteral("333"), QString(), QStringLiteral("333"));
    ASSERT_TRUE(m_moc->save(nullptr));

    auto imap = [](quint32 uid, quint64 gmailId) {
        TDWImapMessage m;
        m.uid = uid;
        m.gmailMessageID = gmailId;
        return m;
    };
    const QList<TDWImapMessage> batch{imap(5, 111), imap(60, 1234567890123ULL), imap(7, 222), imap(8, 333)};
    const auto lookup = TDWDocsForMessages::forMessages(batch, 3000000000U, m_mailStore, *m_moc);
    ASSERT_TRUE(lookup);
    EXPECT_EQ(lookup->docForMessage(batch[0]), old);
    EXPECT_EQ(lookup->docForMessage(batch[1]), moved);
    EXPECT_FALSE(lookup->docForMessage(batch[2]));
    EXPECT_EQ(lookup->docForMessage(batch[3]), keyless);
    const QList<TDWDoc::Ptr> all = lookup->allDocs();
    EXPECT_EQ(QSet<TDWDoc::Ptr>(all.cbegin(), all.cend()), (QSet<TDWDoc::Ptr>{old, moved, keyless}));
    EXPECT_EQ(all.size(), 3);

    const auto empty = TDWDocsForMessages::forMessages({}, 1, m_mailStore, *m_moc);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->allDocs().isEmpty());
}

} // namespace
