#include "DataObjectsTestSupport.h"

#include "TestSupport.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWAccountServiceSetting.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWMasterStore.h"

#include <gtest/gtest.h>

namespace {

using dotest::at;

const QString Alice = QStringLiteral("alice@example.com");
// Every service of the service table, in table order; "reader" and "picasaweb" are marked disabled there.
const QStringList AllServices{QStringLiteral("mail"),     QStringLiteral("docs"),   QStringLiteral("contacts"), QStringLiteral("calendar"),
                              QStringLiteral("tasks"),    QStringLiteral("reader"), QStringLiteral("picasaweb")};

class TDWAccountTest : public ::testing::Test
{
protected:
    TDWAccount::Ptr alice() { return TDWAccount::byUsername(Alice, *stack.moc, nullptr); }

    QMap<QString, bool> enabledByService(const TDWAccount::Ptr &account)
    {
        QMap<QString, bool> enabled;
        for (const auto &setting : account->serviceSettings())
            enabled.insert(setting->service(), setting->enabled());
        return enabled;
    }

    dotest::MetadataStack stack;
};

TEST_F(TDWAccountTest, AddCreatesOneSettingPerServiceAndTheStatusFollowsCountedServices)
{
    struct Case
    {
        QStringList enabled;
        qint64 lastStatus;
    };
    const QList<Case> cases{
        {{QStringLiteral("mail"), QStringLiteral("docs")}, 7},
        {{}, TDWAccount::NoServiceEnabledStatus},
        // A service the table marks disabled is enabled but does not count.
        {{QStringLiteral("reader")}, TDWAccount::NoServiceEnabledStatus},
    };
    int n = 0;
    for (const Case &c : cases) {
        const QString username = QStringLiteral("user%1@example.com").arg(++n);
        ASSERT_TRUE(TDWAccount::addAccountWithUsername(username, {}, 7, c.enabled, true, *stack.moc));
        stack.moc->reset();
        const auto account = TDWAccount::byUsername(username, *stack.moc, nullptr);
        ASSERT_TRUE(account);
        EXPECT_EQ(account->lastStatus(), c.lastStatus) << username.toStdString();
        const QMap<QString, bool> enabled = enabledByService(account);
        EXPECT_EQ(account->serviceSettings().size(), AllServices.size());
        for (const QString &service : AllServices) {
            ASSERT_TRUE(enabled.contains(service)) << service.toStdString();
            EXPECT_EQ(enabled.value(service), c.enabled.contains(service)) << service.toStdString();
        }
        EXPECT_TRUE(account->backupUnlabeled());
        EXPECT_TRUE(account->autoAddNewLabels());
        EXPECT_TRUE(account->limitGoogleDocs());
        EXPECT_TRUE(account->lockedDownKeychain());
        EXPECT_EQ(account->dirPath(), TDWAccount::dirPathForUsername(username));
    }
}

TEST_F(TDWAccountTest, AddingAnExistingUserNameChangesNothing)
{
    stack.addAccount(Alice, {QStringLiteral("mail")});
    tdwtest::LogCapture log;
    EXPECT_FALSE(TDWAccount::addAccountWithUsername(Alice, {}, 3, {QStringLiteral("docs")}, true, *stack.moc));
    EXPECT_TRUE(log.lines().isEmpty());
    EXPECT_FALSE(stack.moc->hasChanges());
    EXPECT_EQ(TDWAccount::count(*stack.moc, nullptr), 1);
    EXPECT_TRUE(alice()->enabledForService(QStringLiteral("mail")));
    EXPECT_FALSE(alice()->limitGoogleDocs());
}

TEST_F(TDWAccountTest, UpdateSetsServicesStatusAndLimitAndCountsDisabledServices)
{
    stack.addAccount(Alice, {QStringLiteral("mail")});
    ASSERT_TRUE(TDWAccount::updateAccountWithUsername(Alice, {}, 9, {QStringLiteral("reader")}, true, *stack.moc));
    stack.moc->reset();
    EXPECT_EQ(alice()->lastStatus(), 9);
    EXPECT_TRUE(alice()->limitGoogleDocs());
    EXPECT_EQ(enabledByService(alice()).value(QStringLiteral("mail")), false);
    EXPECT_EQ(enabledByService(alice()).value(QStringLiteral("reader")), true);

    ASSERT_TRUE(TDWAccount::updateAccountWithUsername(Alice, {}, 9, {}, false, *stack.moc));
    EXPECT_EQ(alice()->lastStatus(), TDWAccount::NoServiceEnabledStatus);

    tdwtest::LogCapture log;
    EXPECT_FALSE(TDWAccount::updateAccountWithUsername(QStringLiteral("nobody@example.com"), {}, 1, {}, false, *stack.moc));
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: in updateAccount -- getAccountByUseranme returned nil")));
}

TEST_F(TDWAccountTest, SettingsAreMadeOnFirstNeedAndRefreshedFromTheStore)
{
    auto account = TDWAccount::newWithMoc(*stack.moc);
    account->setUsername(Alice);
    EXPECT_FALSE(account->enabledForService(QStringLiteral("mail")));
    ASSERT_EQ(stack.moc->insertedObjects().size(), 2); // the account and its new, unsaved setting
    ASSERT_TRUE(stack.moc->save(nullptr));

    auto other = TDWMasterStore::shared().newMoc();
    auto setting = TDWAccountServiceSetting::byAccountUsername(Alice, QStringLiteral("mail"), *other);
    ASSERT_TRUE(setting);
    setting->setNumDownloadsPending(12);
    ASSERT_TRUE(other->save(nullptr));
    EXPECT_EQ(account->settingForService(QStringLiteral("mail"))->numDownloadsPending(), 12);
    EXPECT_FALSE(TDWAccountServiceSetting::byAccountUsername(Alice, QStringLiteral("docs"), *other));
}

TEST_F(TDWAccountTest, DuplicateSettingsAreRefusedWithALogLine)
{
    stack.addAccount(Alice);
    auto duplicate = TDWAccountServiceSetting::newWithMoc(*stack.moc);
    duplicate->setAccount(alice());
    duplicate->setService(QStringLiteral("mail"));
    ASSERT_TRUE(stack.moc->save(nullptr));
    tdwtest::LogCapture log;
    EXPECT_FALSE(TDWAccountServiceSetting::byAccountUsername(Alice, QStringLiteral("mail"), *stack.moc));
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Multiple accountservice records for the same username/service combination.")));
}

TEST_F(TDWAccountTest, LookupByUserNameIsExactAndReportsDuplicates)
{
    stack.addAccount(Alice);
    TDWError error;
    EXPECT_TRUE(TDWAccount::byUsername(Alice, *stack.moc, &error));
    EXPECT_FALSE(TDWAccount::byUsername(QStringLiteral("Alice@Example.com"), *stack.moc, &error));
    EXPECT_TRUE(error.isNull());

    auto twin = TDWAccount::newWithMoc(*stack.moc);
    twin->setUsername(Alice);
    ASSERT_TRUE(stack.moc->save(nullptr));
    EXPECT_FALSE(TDWAccount::byUsername(Alice, *stack.moc, &error));
    EXPECT_EQ(error.localizedDescription(), QStringLiteral("Multiple account results for username \u201c%1\u201d").arg(Alice));
    EXPECT_EQ(error.domain(), QStringLiteral("Brackenmoor Software"));

    stack.addAccount(QStringLiteral("bob@example.com"));
    const auto all = TDWAccount::all(*stack.moc, nullptr);
    ASSERT_TRUE(all);
    QStringList names;
    for (const auto &account : *all)
        names << account->username();
    EXPECT_EQ(names, (QStringList{Alice, Alice, QStringLiteral("bob@example.com")}));
}

TEST_F(TDWAccountTest, LastListIterationKeepsTheFirstStartTime)
{
    stack.addAccount(Alice, {QStringLiteral("reader")});
    auto first = TDWBackupIteration::newWithMoc(*stack.moc);
    first->setIterationStartTime(at(1));
    auto second = TDWBackupIteration::newWithMoc(*stack.moc);
    second->setIterationStartTime(at(2));
    auto account = alice();
    account->setLastListIteration(first, QStringLiteral("reader"));
    account->setLastListIteration(second, QStringLiteral("reader"));
    ASSERT_TRUE(stack.moc->save(nullptr));
    stack.moc->reset();
    account = alice();
    EXPECT_EQ(account->lastListIterationForService(QStringLiteral("reader"))->iterationStartTime(), at(2));
    EXPECT_EQ(account->settingForService(QStringLiteral("reader"))->firstIterationStartTime(), at(1));
    EXPECT_EQ(account->deprecatedReaderItemsReinstatedDate(), at(1));
}

TEST_F(TDWAccountTest, PasswordsGoToTheInstalledCacheOnly)
{
    QStringList cached;
    TDWAccount::setPasswordCache([&cached](const QString &password, const QString &username) { cached << username + QLatin1Char('=') + password; });
    EXPECT_TRUE(TDWAccount::addAccountWithUsername(Alice, QStringLiteral("secret"), 1, {}, false, *stack.moc));
    EXPECT_TRUE(TDWAccount::updateAccountWithUsername(Alice, {}, 1, {}, false, *stack.moc));
    TDWAccount::setPasswordCache({});
    EXPECT_EQ(cached, QStringList{Alice + QStringLiteral("=secret")});
}

TEST_F(TDWAccountTest, AccountsWhoseAddressesSpellOneFolderNameGetFoldersOfTheirOwn)
{
    // Each pair spells one folder name, the second differing only in case.
    const QStringList usernames{QStringLiteral("o'brien@x.com"), QStringLiteral("o_brien@x.com"), QStringLiteral("o+brien@x.com"),
                                QStringLiteral("O_Brien@x.com"), QStringLiteral("@"), QStringLiteral("_")};
    for (const QString &username : usernames)
        stack.addAccount(username, {});
    QStringList dirPaths;
    for (const QString &username : usernames)
        dirPaths.append(TDWAccount::byUsername(username, *stack.moc, nullptr)->dirPath());
    EXPECT_EQ(dirPaths, (QStringList{QStringLiteral("o_brien at x dot com"), QStringLiteral("o_brien at x dot com 2"),
                                     QStringLiteral("o_brien at x dot com 3"), QStringLiteral("O_Brien at x dot com 4"),
                                     QStringLiteral(" at "), QStringLiteral("_")}));
    // What was saved reads back after a restart.
    stack.reopen();
    EXPECT_EQ(TDWAccount::byUsername(QStringLiteral("o_brien@x.com"), *stack.moc, nullptr)->dirPath(), QStringLiteral("o_brien at x dot com 2"));
}

TEST_F(TDWAccountTest, DisableTurnsEveryServiceOffAndMarksTheStatus)
{
    stack.addAccount(Alice, {QStringLiteral("mail"), QStringLiteral("docs")});
    TDWAccount::Ptr account = alice();
    // A setting the account never had is made, switched off.
    stack.moc->deleteObject(account->settingForService(QStringLiteral("calendar")));
    ASSERT_TRUE(stack.moc->save(nullptr));

    account->disable();
    ASSERT_TRUE(stack.moc->save(nullptr));
    stack.reopen();

    account = alice();
    EXPECT_EQ(account->lastStatus(), TDWAccount::NoServiceEnabledStatus);
    QMap<QString, bool> expected;
    for (const QString &service : AllServices)
        expected.insert(service, false);
    EXPECT_EQ(enabledByService(account), expected);
}

TEST(TDWAccountDirPath, SpellsOutAtAndDotAndReplacesTheRest)
{
    const QList<QPair<QString, QString>> cases{
        {QStringLiteral("john.smith@gmail.com"), QStringLiteral("john dot smith at gmail dot com")},
        {QStringLiteral("a+b_c-d@x.org"), QStringLiteral("a_b_c-d at x dot org")},
        {QStringLiteral("jürgen@bücher.de"), QStringLiteral("jürgen at bücher dot de")},
        {QStringLiteral("a/b\\c@x"), QStringLiteral("a_b_c at x")},
        {QString::fromUtf8("\xF0\x9D\x90\x80@x"), QString::fromUtf8("\xF0\x9D\x90\x80 at x")}, // a letter outside the basic plane
    };
    for (const auto &[username, dirPath] : cases)
        EXPECT_EQ(TDWAccount::dirPathForUsername(username), dirPath);
}

} // namespace
