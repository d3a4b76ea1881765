// The account's folder records brought in line with the IMAP folder list:
// new, seen again, vanished and reappearing folders, the special folders,
// the labels chosen for backup, and a list that lacks a required folder.
#include "mail/TDWMailUtils.h"

#include "MailStoreFixture.h"
#include "MailTestSupport.h"
#include "TestSupport.h"

#include "dataobjects/TDWMasterStore.h"

#include <gtest/gtest.h>

namespace {

using Row = MailFolderRow;

const TDWFoldersWithFlags GmailList = {
    {"INBOX", {"Inbox"}},
    {"[Gmail]/All Mail", {"AllMail"}},
    {"[Gmail]/Sent Mail", {"Sent"}},
    {"[Gmail]/Drafts", {"Drafts"}},
    {"[Gmail]/Spam", {"Spam"}},
    {"[Gmail]/Starred", {"Starred"}},
    {"[Gmail]/Trash", {"Trash"}},
    {"[Gmail]/Important", {}},
    {"[Gmail]/Chats", {}},
    {"[Google Mail]/Chats", {}},
    {"Work", {}},
    {"Entw&APw-rfe", {}},
};

class TDWMailUtilsFolderRecordsTest : public MailStoreFixture
{
protected:
    // The list minus some folders, plus others.
    static TDWFoldersWithFlags listWith(const QStringList &without, const TDWFoldersWithFlags &extra = {})
    {
        TDWFoldersWithFlags list = GmailList;
        for (const QString &path : without)
            list.remove(path);
        list.insert(extra);
        return list;
    }
};

TEST_F(TDWMailUtilsFolderRecordsTest, RecordsTheFoldersOfAFirstList)
{
    struct Case
    {
        const char *name;
        std::optional<QSet<QString>> includedUserLabels;
        bool autoAddNewLabels;
        bool workBackedUp, entwuerfeBackedUp, importantBackedUp;
    };
    const std::vector<Case> cases = {
        {"new labels added", std::nullopt, true, true, true, true},
        {"new labels left out", std::nullopt, false, false, false, false},
        {"labels chosen", QSet<QString>{"Work", QString::fromUtf8("Entwürfe")}, true, true, true, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        m_account->setAutoAddNewLabels(c.autoAddNewLabels);
        ASSERT_TRUE(TDWMailUtils::updateAccount(*m_account, GmailList, c.includedUserLabels, day(2)));
        save();

        const QDateTime d = day(2);
        const QMap<QString, Row> expected = {
            {"INBOX", {"INBOX", 2, true, "\\Inbox", d, d, -1}},
            {"[Gmail]/All Mail", {"[Gmail]/All Mail", 5, false, "-----allmail-----", d, d, -1}},
            {"[Gmail]/Sent Mail", {"[Gmail]/Sent Mail", 3, true, "\\Sent", d, d, -1}},
            {"[Gmail]/Drafts", {"[Gmail]/Drafts", 4, true, "\\Draft", d, d, -1}},
            {"[Gmail]/Important", {"[Gmail]/Important", 1, c.importantBackedUp, "[Gmail]/Important", d, d, -1}},
            {"Work", {"Work", 1, c.workBackedUp, "Work", d, d, -1}},
            {QString::fromUtf8("Entwürfe"), {"Entw&APw-rfe", 1, c.entwuerfeBackedUp, "Entw&APw-rfe", d, d, -1}},
        };
        // Spam, Starred and Trash get no record; neither do the chat folders.
        EXPECT_EQ(savedCurrentFolders(), expected);
    }
}

TEST_F(TDWMailUtilsFolderRecordsTest, FoldersStayOpenWhileListedAndCloseWhenGone)
{
    m_account->setAutoAddNewLabels(true);
    ASSERT_TRUE(TDWMailUtils::updateAccount(*m_account, listWith({}, {{"Old", {}}}), std::nullopt, day(1)));
    save();
    const auto old = TDWMailFolder::currentByStore(m_mailStore, QStringLiteral("Old"), *m_moc, nullptr);
    const auto work = TDWMailFolder::currentByStore(m_mailStore, QStringLiteral("Work"), *m_moc, nullptr);
    ASSERT_TRUE(old && work);
    work->setBackup(false);   // the user's choice, kept while no labels are given
    const auto onlyInOld = addMessageIn(QStringLiteral("m1"), {old});
    const auto alsoInWork = addMessageIn(QStringLiteral("m2"), {old, work});
    save();

    tdwtest::LogCapture log;
    ASSERT_TRUE(TDWMailUtils::updateAccount(*m_account, GmailList, std::nullopt, day(2)));
    save();
    QMap<QString, Row> folders = savedCurrentFolders();
    EXPECT_FALSE(folders.contains(QStringLiteral("Old")));
    EXPECT_EQ(folders.value(QStringLiteral("Work")), (Row{"Work", 1, false, "Work", day(1), day(2), -1}));
    EXPECT_EQ(old->obsoletedDate(), day(2));
    EXPECT_TRUE(onlyInOld->isUnlabeledMessage());
    EXPECT_FALSE(alsoInWork->isUnlabeledMessage());
    EXPECT_FALSE(log.contains(QStringLiteral("ERROR")));

    // A folder that comes back is a new record; the closed one keeps its dates.
    ASSERT_TRUE(TDWMailUtils::updateAccount(*m_account, listWith({}, {{"Old", {}}}), std::nullopt, day(3)));
    save();
    folders = savedCurrentFolders();
    EXPECT_EQ(folders.value(QStringLiteral("Old")), (Row{"Old", 1, true, "Old", day(3), day(3), -1}));
    EXPECT_EQ(savedRecordCount(QStringLiteral("Old")), 2);
    EXPECT_FALSE(old->current());
}

TEST_F(TDWMailUtilsFolderRecordsTest, ChosenLabelsSetTheBackupOfUserLabelsOnly)
{
    ASSERT_TRUE(TDWMailUtils::updateAccount(*m_account, listWith({}, {{"Play", {}}}), std::nullopt, day(1)));
    save();

    ASSERT_TRUE(TDWMailUtils::updateAccount(*m_account, listWith({}, {{"Play", {}}}), QSet<QString>{"Play"}, day(2)));
    save();
    QMap<QString, Row> folders = savedCurrentFolders();
    EXPECT_TRUE(folders.value(QStringLiteral("Play")).backup);
    EXPECT_FALSE(folders.value(QStringLiteral("Work")).backup);
    EXPECT_TRUE(folders.value(QStringLiteral("INBOX")).backup);
    EXPECT_FALSE(folders.value(QStringLiteral("[Gmail]/All Mail")).backup);

    // The label view's own update: the same rule, on the records as they are, unsaved.
    ASSERT_TRUE(TDWMailUtils::updateAccount(*m_account, QSet<QString>{"Work", "[Gmail]/All Mail"}));
    EXPECT_EQ(savedCurrentFolders(), folders);
    save();
    folders = savedCurrentFolders();
    EXPECT_FALSE(folders.value(QStringLiteral("Play")).backup);
    EXPECT_TRUE(folders.value(QStringLiteral("Work")).backup);
    EXPECT_TRUE(folders.value(QStringLiteral("INBOX")).backup);
    EXPECT_FALSE(folders.value(QStringLiteral("[Gmail]/All Mail")).backup);
}

TEST_F(TDWMailUtilsFolderRecordsTest, ARequiredFolderMissingClosesNothing)
{
    ASSERT_TRUE(TDWMailUtils::updateAccount(*m_account, GmailList, std::nullopt, day(1)));
    save();

    tdwtest::LogCapture log;
    EXPECT_FALSE(TDWMailUtils::updateAccount(*m_account, listWith({"[Gmail]/All Mail", "Work"}), std::nullopt, day(2)));
    save();
    EXPECT_TRUE(log.contains(QStringLiteral(
        "ERROR: Unable to back up mail for alice@example.com because Tidewell was unable to find the All Mail folder via IMAP.")));
    const QMap<QString, Row> folders = savedCurrentFolders();
    EXPECT_TRUE(folders.contains(QStringLiteral("[Gmail]/All Mail")));
    EXPECT_TRUE(folders.contains(QStringLiteral("Work")));
    EXPECT_EQ(folders.value(QStringLiteral("INBOX")).lastSeenDate, day(2));
}

TEST_F(TDWMailUtilsFolderRecordsTest, ExistingRecordsFollowTheNamingRules)
{
    // Written by an earlier version: Inbox under XLIST's name, a label never decoded.
    addFolder(QStringLiteral("Inbox"), QStringLiteral("Inbox"), 2, true);
    addFolder(QStringLiteral("Entw&APw-rfe"), QStringLiteral("Entw&APw-rfe"), 1, true);
    save();

    ASSERT_TRUE(TDWMailUtils::updateAccount(*m_account, GmailList, std::nullopt, day(2)));
    save();
    const QMap<QString, Row> folders = savedCurrentFolders();
    EXPECT_EQ(folders.value(QStringLiteral("INBOX")), (Row{"INBOX", 2, true, "Inbox", day(1), day(2), -1}));
    EXPECT_EQ(folders.value(QString::fromUtf8("Entwürfe")), (Row{"Entw&APw-rfe", 1, true, "Entw&APw-rfe", day(1), day(2), -1}));
    EXPECT_EQ(savedRecordCount(QStringLiteral("INBOX")), 1);
    EXPECT_EQ(savedRecordCount(QString::fromUtf8("Entwürfe")), 1);
}

TEST_F(TDWMailUtilsFolderRecordsTest, FindsTheCurrentAllMailFolder)
{
    EXPECT_TRUE(TDWMailUtils::allMailPathForAccountUsername(Alice).isNull());
    ASSERT_TRUE(TDWMailUtils::updateAccount(*m_account, {{"INBOX", {"Inbox"}}, {"[Google Mail]/All Mail", {"AllMail"}}}, std::nullopt, day(1)));
    save();
    EXPECT_EQ(TDWMailUtils::allMailPathForAccountUsername(Alice), QStringLiteral("[Google Mail]/All Mail"));
    EXPECT_TRUE(TDWMailUtils::allMailPathForAccountUsername(QStringLiteral("nobody@example.com")).isNull());
}

} // namespace
