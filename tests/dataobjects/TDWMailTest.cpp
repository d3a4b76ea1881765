#include "DataObjectsTestSupport.h"

#include "TestSupport.h"
#include "dataobjects/TDWBackupSettingHistory.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWMailFolder.h"
#include "dataobjects/TDWMailItem.h"

#include <gtest/gtest.h>

namespace {

using dotest::at;

const QString Alice = QStringLiteral("alice@example.com");

class TDWMailTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        stack.addAccount(Alice, {QStringLiteral("mail")});
        mail = stack.store(Alice, QStringLiteral("mail"));
        ASSERT_TRUE(mail);
    }

    TDWMailFolder::Ptr folder(const QString &path, bool current = true, qint64 type = TDWMailFolder::LabelFolderType)
    {
        auto folder = TDWMailFolder::newWithMoc(*stack.moc, mail);
        folder->setFolderPath(path);
        folder->setCurrent(current);
        folder->setFolderType(type);
        folder->setFirstSeenDate(at(1));
        return folder;
    }

    TDWMailItem::Ptr item(const TDWMailFolder::Ptr &folder, int sequence, bool current = true)
    {
        auto message = TDWDoc::newWithMoc(*stack.moc, mail);
        message->setDocId(QStringLiteral("m%1").arg(sequence));
        auto item = TDWMailItem::newWithMoc(*stack.moc, mail);
        item->setMailFolder(folder);
        item->setMessageDoc(message);
        item->setSequenceNumber(sequence);
        item->setSequenceGroup(sequence / 10);
        item->setCurrent(current);
        return item;
    }

    static QList<qint64> sequences(const std::optional<QList<TDWMailItem::Ptr>> &items)
    {
        QList<qint64> result;
        for (const auto &item : items.value_or(QList<TDWMailItem::Ptr>()))
            result << item->sequenceNumber();
        std::sort(result.begin(), result.end());
        return result;
    }

    dotest::MetadataStack stack;
    TDWPersistentStorePtr mail;
};

TEST_F(TDWMailTest, SequenceRangesAndCounts)
{
    const auto inbox = folder(QStringLiteral("INBOX"));
    const auto old = folder(QStringLiteral("Old"), false);
    for (int sequence = 8; sequence <= 21; ++sequence)
        item(inbox, sequence, sequence != 15);
    item(old, 12);
    ASSERT_TRUE(stack.moc->save(nullptr));

    EXPECT_EQ(sequences(TDWMailItem::currentByMailFolder(inbox, 10, 20, *stack.moc, nullptr)),
              (QList<qint64>{10, 11, 12, 13, 14, 16, 17, 18, 19}));
    EXPECT_EQ(sequences(TDWMailItem::currentByMailFolderWithSequenceHigherThan(inbox, 19, *stack.moc, nullptr)), (QList<qint64>{20, 21}));
    EXPECT_EQ(sequences(TDWMailItem::currentByMailFolder(inbox, qint64(1), mail, *stack.moc)), (QList<qint64>{10, 11, 12, 13, 14, 16, 17, 18, 19}));
    EXPECT_EQ(TDWMailItem::currentWithHighestSequenceForMailFolder(inbox, *stack.moc, nullptr)->sequenceNumber(), 21);
    EXPECT_EQ(TDWMailItem::currentByMailFolder(inbox, 12, *stack.moc, nullptr)->mailFolder(), inbox);
    EXPECT_FALSE(TDWMailItem::currentByMailFolder(inbox, 15, *stack.moc, nullptr));
    // Only current items of current folders.
    EXPECT_EQ(TDWMailItem::currentCountByStore(mail, *stack.moc, nullptr), 13);

    item(inbox, 12);
    tdwtest::LogCapture log;
    EXPECT_FALSE(TDWMailItem::currentByMailFolder(inbox, 12, *stack.moc, nullptr));
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: More than one entry in byMailFolder:sequenceNumber:...")));
}

TEST_F(TDWMailTest, ItemsByMessage)
{
    const auto inbox = folder(QStringLiteral("INBOX"));
    const auto work = folder(QStringLiteral("Work"));
    const auto first = item(inbox, 1);
    first->setGmailMessageId(QStringLiteral("77"));
    const auto message = first->messageDoc();
    auto second = TDWMailItem::newWithMoc(*stack.moc, mail);
    second->setMailFolder(work);
    second->setMessageDoc(message);
    second->setCurrent(true);
    ASSERT_TRUE(stack.moc->save(nullptr));

    const auto folders = TDWMailItem::currentByMessageDoc(message, mail, *stack.moc);
    ASSERT_TRUE(folders);
    EXPECT_EQ(folders->size(), 2);
    EXPECT_EQ(TDWMailItem::currentByMailFolder(work, message, mail, *stack.moc), second);
    EXPECT_EQ(TDWMailItem::currentByGmailMessageId(QStringLiteral("77"), mail, *stack.moc, nullptr)->size(), 1);
    EXPECT_EQ(message->mailItems().size(), 2);
}

TEST_F(TDWMailTest, FolderViewsAndDuplicates)
{
    auto allMail = folder(QStringLiteral("[Gmail]/All Mail"), true, TDWMailFolder::AllMailFolderType);
    auto closed = folder(QStringLiteral("closed"), false);
    closed->setObsoletedDate(at(3));
    folder(QStringLiteral("Zebra"));
    folder(QStringLiteral("apple"));
    ASSERT_TRUE(stack.moc->save(nullptr));

    auto paths = [this](const QDateTime &snapshot) {
        QStringList result;
        for (const auto &folder : TDWMailFolder::byStore(mail, snapshot, *stack.moc, nullptr).value_or(QList<TDWMailFolder::Ptr>()))
            result << folder->folderPath();
        return result;
    };
    EXPECT_EQ(paths({}), (QStringList{QStringLiteral("[Gmail]/All Mail"), QStringLiteral("apple"), QStringLiteral("Zebra")}));
    EXPECT_TRUE(paths(at(2)).contains(QStringLiteral("closed")));
    EXPECT_FALSE(paths(at(3)).contains(QStringLiteral("closed"))); // obsoleted exactly at S
    EXPECT_EQ(TDWMailFolder::currentAllMailFolderByStore(mail, *stack.moc), allMail);
    EXPECT_EQ(TDWMailFolder::obsoletedSinceBefore(at(4), mail, *stack.moc)->size(), 1);
    EXPECT_EQ(TDWMailFolder::currentByStore(mail, QStringLiteral("apple"), *stack.moc, nullptr)->folderPath(), QStringLiteral("apple"));

    folder(QStringLiteral("apple"));
    tdwtest::LogCapture log;
    EXPECT_FALSE(TDWMailFolder::currentByStore(mail, QStringLiteral("apple"), *stack.moc, nullptr));
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: multiple results in TDWMailFolder byAccount:folderPath:...")));
}

TEST_F(TDWMailTest, SettingHistoryOpensAndClosesRecords)
{
    const QString name = QStringLiteral("backupunlabeled");
    TDWBackupSettingHistory::recordSetting(mail, name, true, at(1), *stack.moc);
    TDWBackupSettingHistory::recordSetting(mail, name, true, at(2), *stack.moc); // unchanged: no new record
    TDWBackupSettingHistory::recordSetting(mail, name, false, at(3), *stack.moc);
    ASSERT_TRUE(stack.moc->save(nullptr));

    const QList<QPair<int, QVariant>> cases{{0, QVariant()}, {1, true}, {2, true}, {3, false}, {9, false}};
    for (const auto &[hour, expected] : cases) {
        const auto record = TDWBackupSettingHistory::currentForStore(mail, name, at(hour), *stack.moc);
        EXPECT_EQ(record ? QVariant(record->backupEnabled()) : QVariant(), expected) << hour;
    }
    EXPECT_FALSE(TDWBackupSettingHistory::currentForStore(mail, name, {}, *stack.moc)->backupEnabled());
    EXPECT_EQ(TDWBackupSettingHistory::obsoletedByStore(mail, at(4), *stack.moc)->size(), 1);

    // Two current records: the first is still given, and the duplicate logged.
    auto twin = TDWBackupSettingHistory::newWithMoc(*stack.moc, mail);
    twin->setSettingName(name);
    twin->setCurrent(true);
    twin->setBackupEnabled(true);
    ASSERT_TRUE(stack.moc->save(nullptr));
    tdwtest::LogCapture log;
    const auto first = TDWBackupSettingHistory::currentForStore(mail, name, *stack.moc);
    ASSERT_TRUE(first);
    EXPECT_FALSE(first->backupEnabled());
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Found more than one backup history setting for backupunlabeled")));
}

} // namespace
