// Gmail's folder and label rules: the flag table, decoding, the labels a user
// may choose, and the mailbox folders written for restores.
#include "mail/TDWMailUtils.h"

#include "MailTestSupport.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>

#include <gtest/gtest.h>

#include <optional>

namespace {

QString u8(const char *text)
{
    return QString::fromUtf8(text);
}

TEST(TDWMailUtils, FolderFlagsBecomeFlagNames)
{
    using F = TDWImapFolderFlag;
    struct Case
    {
        const char *path;
        int flags;
        std::optional<QSet<QString>> expected;   // nullopt: left out of the table
    };
    const std::vector<Case> cases = {
        {"INBOX", F::TDWImapFolderFlagHasNoChildren, QSet<QString>{"Inbox"}},
        {"Inbox", F::TDWImapFolderFlagInbox, QSet<QString>{"Inbox"}},   // XLIST's name for it
        {"inbox", 0, QSet<QString>{"Inbox"}},
        {"[Gmail]/All Mail", F::TDWImapFolderFlagAllMail, QSet<QString>{"AllMail"}},
        {"[Gmail]/Sent Mail", F::TDWImapFolderFlagSent, QSet<QString>{"Sent"}},
        {"[Gmail]/Drafts", F::TDWImapFolderFlagDrafts, QSet<QString>{"Drafts"}},
        {"[Gmail]/Spam", F::TDWImapFolderFlagSpam, QSet<QString>{"Spam"}},
        {"[Gmail]/Starred", F::TDWImapFolderFlagStarred, QSet<QString>{"Starred"}},
        {"[Google Mail]/Trash", F::TDWImapFolderFlagTrash, QSet<QString>{"Trash"}},
        {"Odd", F::TDWImapFolderFlagSent | F::TDWImapFolderFlagStarred, QSet<QString>{"Sent", "Starred"}},
        {"[Gmail]/Important", F::TDWImapFolderFlagImportant, QSet<QString>{}},
        {"Work", F::TDWImapFolderFlagHasNoChildren, QSet<QString>{}},
        {"Entw&APw-rfe", 0, QSet<QString>{}},
        {"[Gmail]", F::TDWImapFolderFlagNoSelect | F::TDWImapFolderFlagHasChildren, std::nullopt},
        {"[Gmail]", 0, std::nullopt},
        {"[Google Mail]", 0, std::nullopt},
        {"Personal", F::TDWImapFolderFlagNoSelect, std::nullopt},
        {"[Gmail]/All Mail", F::TDWImapFolderFlagAllMail | F::TDWImapFolderFlagNoSelect, std::nullopt},
        {"\\Sent", 0, std::nullopt},
        {"\\Sent", F::TDWImapFolderFlagSent, QSet<QString>{"Sent"}},
        {"\\Draft", 0, std::nullopt},
        {"\\Draft", F::TDWImapFolderFlagDrafts, QSet<QString>{"Drafts"}},
        {"\\Inbox", F::TDWImapFolderFlagInbox, std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.path) + " flags " + std::to_string(c.flags));
        const TDWFoldersWithFlags table = TDWMailUtils::foldersWithFlagsFrom({TDWImapFolder{u8(c.path), QChar('/'), c.flags}});
        if (!c.expected) {
            EXPECT_TRUE(table.isEmpty());
            continue;
        }
        ASSERT_EQ(table.keys(), QStringList{u8(c.path)});
        EXPECT_EQ(mailtest::sortedNames(table.value(u8(c.path))), mailtest::sortedNames(*c.expected));
    }
    EXPECT_TRUE(TDWMailUtils::foldersWithFlagsFrom({}).isEmpty());
}

TEST(TDWMailUtils, DecodesFolderPaths)
{
    const std::vector<std::pair<const char *, const char *>> cases = {
        {"INBOX", "INBOX"},
        {"Entw&APw-rfe", "Entwürfe"},
        {"&AGEAYgBj-", "abc"},
        {"A&-B", "A&B"},
        {"&-&-", "&&"},
        {"[Gmail]/Entw&APw-rfe/&AMQ-", "[Gmail]/Entwürfe/Ä"},
        {"&ZeVnLIqe-", "日本語"},
        // No closing "-": nothing to decode there.
        {"Tom&Jerry", "Tom&Jerry"},
        {"&AGEAYgBj-&more", "abc&more"},
        // A run that is not modified base64 leaves the whole name as it was.
        {"Bad&!!-", "Bad&!!-"},
        {"&AGEA-", "&AGEA-"},
        {"&AGEAYgBj-x&!-", "&AGEAYgBj-x&!-"},
        {"&AGEAYgBj-/&2D0-", "&AGEAYgBj-/&2D0-"},
    };
    for (const auto &[encoded, decoded] : cases)
        EXPECT_EQ(TDWMailUtils::decodedFolderPath(u8(encoded)), u8(decoded)) << encoded;
}

TEST(TDWMailUtils, UserLabelsLeaveOutSpecialFoldersAndChats)
{
    const TDWFoldersWithFlags table = {
        {"INBOX", {"Inbox"}},
        {"[Gmail]/All Mail", {"AllMail"}},
        {"[Gmail]/Starred", {"Starred"}},
        {"Flagged Too", {"Starred"}},
        {"[Gmail]/Chats", {}},
        {"[Google Mail]/Chats", {}},
        {"[Gmail]/Important", {}},
        {"work", {}},
        {"Work/Chats", {}},
        {"Entw&APw-rfe", {}},
        {"zebra", {}},
        {"Alpha", {}},
        {"alpha", {}},
        {"Bad&!-", {}},
        // Not UTF-16: two labels, not two "?".
        {"&2D0-", {}},
        {"&3gA-", {}},
    };
    // Case folds to lower case, so "[" comes before the letters.
    const QStringList expected = {"&2D0-", "&3gA-", "[Gmail]/Important", "Alpha", "alpha", "Bad&!-", u8("Entwürfe"), "work", "Work/Chats", "zebra"};
    EXPECT_EQ(TDWMailUtils::userLabelsBasedOnFoldersWithFlags(table), expected);
    EXPECT_TRUE(TDWMailUtils::userLabelsBasedOnFoldersWithFlags({}).isEmpty());
}

TEST(TDWMailUtils, TellsUserLabelsFromSystemFolders)
{
    const std::vector<std::pair<const char *, bool>> cases = {
        {"Work", true},
        {"Entw&APw-rfe", true},
        {"Projects/[Gmail]", true},
        {"INBOX", false},
        {"Inbox", false},
        {"[Gmail]", false},
        {"[Gmail]/Sent Mail", false},
        {"[Google Mail]", false},
        {"[Google Mail]/Sent Mail", false},
        {"[Google Mail]/Chats", false},
    };
    for (const auto &[path, isLabel] : cases)
        EXPECT_EQ(TDWMailUtils::folderPathIsGmailLabel(u8(path)), isLabel) << path;
}

// The "MailboxName" of each folder's Info.plist, read by Python's own reader, not ours.
QStringList mailboxNamesWrittenIn(const QStringList &folders)
{
    QStringList files;
    for (const QString &folder : folders)
        files.append(QDir(folder).filePath(QStringLiteral("Info.plist")));
    QProcess python;
    python.start(QStringLiteral("python3"),
                 QStringList{QStringLiteral("-c"),
                             QStringLiteral("import json, plistlib, sys\n"
                                            "print(json.dumps([plistlib.load(open(f, 'rb'))['MailboxName'] for f in sys.argv[1:]]))")}
                     + files);
    python.waitForFinished(60000);
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    QStringList names;
    for (const QJsonValue &name : QJsonDocument::fromJson(python.readAllStandardOutput()).array())
        names.append(name.toString());
    return names;
}

TEST(TDWMailUtils, WritesMailboxFoldersNamedAfterTheFolder)
{
    const QString root = tdwtest::freshDir(QStringLiteral("mailboxes"));
    const std::vector<std::pair<QString, QString>> cases = {
        {"Work.mbox", "Work"},
        {"nested/deeper/Q1.2024.mbox", "Q1.2024"},
        {"Trailing.mbox/", "Trailing"},
        {u8("Entwürfe"), u8("Entwürfe")},
        {".mbox", ".mbox"},
    };
    QStringList folders;
    QStringList expected;
    for (const auto &[relative, name] : cases) {
        folders.append(root + QLatin1Char('/') + relative);
        expected.append(name);
        ASSERT_TRUE(TDWMailUtils::createMailboxDirectoryAtPath(folders.last(), QStringLiteral("5A4C1B52-0000-4000-8000-000000000001")))
            << relative.toStdString();
    }
    EXPECT_EQ(mailboxNamesWrittenIn(folders), expected);
}

TEST(TDWMailUtils, PlacesMessagesUnderTheirDigitPath)
{
    const QString uuid = QStringLiteral("5A4C1B52-0000-4000-8000-000000000001");
    const std::pair<qint64, QString> rows[] = {
        {1, QStringLiteral("0/Messages/1.emlx")},         {999, QStringLiteral("0/Messages/999.emlx")},
        {1000, QStringLiteral("1/Messages/1000.emlx")},   {9999, QStringLiteral("9/Messages/9999.emlx")},
        {10000, QStringLiteral("0/1/Messages/10000.emlx")}, {12345, QStringLiteral("2/1/Messages/12345.emlx")},
        {100000, QStringLiteral("0/0/1/Messages/100000.emlx")},
    };
    for (const auto &[number, path] : rows) {
        SCOPED_TRACE(number);
        EXPECT_EQ(TDWMailUtils::mailboxMessagePath(uuid, number), uuid + QStringLiteral("/Data/") + path);
        EXPECT_EQ(TDWMailUtils::mailboxMessagePath(QString(), number), path);
        EXPECT_EQ(TDWMailUtils::mailboxMessageFolder(uuid, number), uuid + QStringLiteral("/Data/") + path.section(QLatin1Char('/'), 0, -2));
    }
}

TEST(TDWMailUtils, NamesALabelsMailboxSafely)
{
    EXPECT_EQ(TDWMailUtils::mailboxFolderName(QStringLiteral("Work Projects")), QStringLiteral("Work Projects.mbox"));
    EXPECT_EQ(TDWMailUtils::mailboxFolderName(QStringLiteral("Clients/Acme")), QStringLiteral("ClientsAcme.mbox"));
    EXPECT_EQ(TDWMailUtils::mailboxFolderName(QStringLiteral("..")), QStringLiteral("_...mbox"));
    EXPECT_EQ(TDWMailUtils::mailboxFolderName(QStringLiteral("Inbox.mbox")), QStringLiteral("Inbox.mbox"));
}

TEST(TDWMailUtils, ReportsAMailboxFolderThatCannotBeMade)
{
    const QString root = tdwtest::freshDir(QStringLiteral("blocked"));
    QFile blocker(root + QStringLiteral("/file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    tdwtest::LogCapture log;
    EXPECT_FALSE(TDWMailUtils::createMailboxDirectoryAtPath(root + QStringLiteral("/file/Work.mbox"), QString()));
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to create directory at “%1/file/Work.mbox”").arg(root)));
}

} // namespace
