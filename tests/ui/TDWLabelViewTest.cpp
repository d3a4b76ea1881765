// The account sheet's Gmail label step against the fake Gmail server: what it
// starts with for a new and for a stored account, what Continue stores, the
// refresh of the label list and its failures.
#include "AccountSheetFixture.h"

#include "FakeGoogleServer.h"
#include "TestSupport.h"

#include "common/TDWServiceTable.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWMailFolder.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "mail/TDWImapConnectionMgr.h"
#include "mail/TDWMailUtils.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/imap/TDWImapSession.h"
#include "platform/store/TDWManagedObjectContext.h"
#include "ui/TDWAccountFlowController.h"
#include "ui/TDWLabelViewController.h"

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

class TDWLabelViewTest : public AccountSheetFixture
{
protected:
    void TearDown() override
    {
        AccountSheetFixture::TearDown();
        TDWClock::setDurationScale(1.0);
    }

    // The check boxes of the label table's rows, in row order.
    QList<QCheckBox *> rowBoxes() const
    {
        QList<QCheckBox *> boxes;
        const QTableWidget *table = control<QTableWidget>("labelTable");
        for (int row = 0; table && row < table->rowCount(); ++row)
            boxes << table->cellWidget(row, 0)->findChild<QCheckBox *>();
        return boxes;
    }

    // The row's check box titled `title`.
    QCheckBox *box(const QString &title) const
    {
        for (QCheckBox *checkbox : rowBoxes())
            if (checkbox->text() == title)
                return checkbox;
        ADD_FAILURE() << "no row " << title.toStdString();
        return nullptr;
    }

    // The titles of the user label rows that are checked, in row order.
    QStringList checkedLabels() const
    {
        QStringList checked;
        for (QCheckBox *checkbox : rowBoxes())
            if (checkbox->objectName() == QLatin1String("label") && checkbox->isChecked())
                checked << checkbox->text();
        return checked;
    }

    // The Gmail account's folder list as the fake server gives it now.
    static TDWFoldersWithFlags serverFolders()
    {
        const auto session = TDWImapConnectionMgr::imapSessionForUsername(MailUser, OtherMailToken);
        const auto request = session->fetchAllFoldersOperation();
        std::optional<TDWFoldersWithFlags> folders;
        request->start([&folders](const TDWError &error, const QList<TDWImapFolder> &list) {
            EXPECT_TRUE(error.isNull()) << error.localizedDescription().toStdString();
            folders = TDWMailUtils::foldersWithFlagsFrom(list);
        });
        EXPECT_TRUE(tdwtest::waitUntil([&folders] { return folders.has_value(); }));
        return folders.value_or(TDWFoldersWithFlags());
    }

    // Stores the Gmail account with mail on, its folder records from the
    // server's list without "Work", and these choices.
    static void storeMailAccount(const QSet<QString> &includedUserLabels, bool autoAddNewLabels, bool backupUnlabeled)
    {
        TDWFoldersWithFlags folders = serverFolders();
        ASSERT_TRUE(folders.remove(QStringLiteral("Work")));
        const auto moc = TDWMasterStore::shared().newMoc();
        ASSERT_TRUE(TDWAccount::addAccountWithUsername(MailUser, {}, 1, {QStringLiteral("mail")}, false, *moc));
        const TDWAccount::Ptr account = TDWAccount::byUsername(MailUser, *moc, nullptr);
        ASSERT_TRUE(account);
        account->setAutoAddNewLabels(autoAddNewLabels);
        account->setBackupUnlabeled(backupUnlabeled);
        ASSERT_TRUE(TDWMailUtils::updateAccount(*account, folders, includedUserLabels, TDWClock::now()));
        ASSERT_TRUE(moc->save(nullptr));
    }

    // The stored user labels that are backed up, sorted; the account's two flags.
    static QStringList storedBackedUpLabels(bool *autoAddNewLabels = nullptr, bool *backupUnlabeled = nullptr)
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        const TDWAccount::Ptr account = TDWAccount::byUsername(MailUser, *moc, nullptr);
        if (!account)
            return {QStringLiteral("(no account)")};
        if (autoAddNewLabels)
            *autoAddNewLabels = account->autoAddNewLabels();
        if (backupUnlabeled)
            *backupUnlabeled = account->backupUnlabeled();
        const auto store = TDWMasterStore::shared().storeMgr()->storeForAccountUsername(MailUser, QStringLiteral("mail"));
        QStringList labels;
        for (const TDWMailFolder::Ptr &folder : TDWMailFolder::byStore(store, QDateTime(), *moc, nullptr).value_or(QList<TDWMailFolder::Ptr>()))
            if (folder->folderType() == TDWMailFolder::LabelFolderType && folder->backup())
                labels << folder->folderPath();
        labels.sort();
        return labels;
    }

    // The stored Gmail account's label step, opened from its account view's button.
    void openStoredLabels()
    {
        makeFlow(MailUser).populate();
        control<QPushButton>("labels")->click();
        ASSERT_TRUE(showsLabelView());
    }

    bool refreshing() const { return control<QPushButton>("refreshLabels")->isHidden(); }

    void expectIdle() const
    {
        EXPECT_FALSE(control<QPushButton>("refreshLabels")->isHidden());
        EXPECT_TRUE(control<QProgressBar>("refreshing")->isHidden());
        EXPECT_TRUE(control<QPushButton>("continue")->isEnabled());
        EXPECT_TRUE(control<QPushButton>("back")->isEnabled());
    }
};

TEST_F(TDWLabelViewTest, ANewAccountStartsWithEverythingChosenAndContinueStoresIt)
{
    nextSignInGives(MailUser, OtherMailToken);
    makeFlow().populate();
    typeAddress(MailUser);
    setServices({QStringLiteral("mail")});
    pressContinue();
    answerConsent(QStringLiteral("allow"));
    ASSERT_TRUE(tdwtest::waitUntil([this] { return showsLabelView(); }));
    // The user labels of the fake's generated mailbox, sorted as the view lists them.
    const QStringList serverLabels = TDWMailUtils::userLabelsBasedOnFoldersWithFlags(*flow->foldersWithFlags());
    ASSERT_TRUE(serverLabels.contains(QStringLiteral("Work")));

    EXPECT_TRUE(control<QLabel>("titleField")->text().contains(MailUser));
    const QList<TDWSpecialMailLabel> forced = TDWServiceTable::shared().forcedMailLabels();
    EXPECT_EQ(control<QTableWidget>("labelTable")->rowCount(), forced.size() + 2 + serverLabels.size());
    for (const TDWSpecialMailLabel &label : forced) {
        EXPECT_TRUE(box(label.label)->isChecked());
        EXPECT_FALSE(box(label.label)->isEnabled());
    }
    EXPECT_EQ(checkedLabels(), serverLabels);
    EXPECT_EQ(box(QStringLiteral("Custom Labels"))->checkState(), Qt::Checked);
    EXPECT_TRUE(box(QStringLiteral("Unlabeled"))->isChecked());
    EXPECT_TRUE(control<QCheckBox>("autoAddNewLabels")->isChecked());
    // The first-run window's sheet cannot go back from the account view: Back hides, Cancel stays.
    EXPECT_TRUE(control<QPushButton>("back")->isHidden());
    EXPECT_FALSE(control<QPushButton>("cancel")->isHidden());

    // "Custom Labels" shows the labels' state and, clicked, moves only between on and off.
    box(QStringLiteral("Work"))->click();
    EXPECT_EQ(box(QStringLiteral("Custom Labels"))->checkState(), Qt::PartiallyChecked);
    box(QStringLiteral("Custom Labels"))->click();
    EXPECT_EQ(box(QStringLiteral("Custom Labels"))->checkState(), Qt::Checked);
    EXPECT_EQ(checkedLabels(), serverLabels);
    box(QStringLiteral("Custom Labels"))->click();
    EXPECT_EQ(box(QStringLiteral("Custom Labels"))->checkState(), Qt::Unchecked);
    EXPECT_EQ(checkedLabels(), QStringList());
    box(QStringLiteral("Work"))->click();
    box(QStringLiteral("Entwürfe"))->click();
    box(QStringLiteral("Unlabeled"))->click();

    pressContinue();
    EXPECT_EQ(delegate.done, 1);
    bool autoAdd = false;
    bool unlabeled = true;
    EXPECT_EQ(storedBackedUpLabels(&autoAdd, &unlabeled), (QStringList{QStringLiteral("Entwürfe"), QStringLiteral("Work")}));
    EXPECT_TRUE(autoAdd);
    EXPECT_FALSE(unlabeled);
    // The notices are queued to the event loop.
    tdwtest::waitUntil([&] { return postedLabelChanges().size() >= 2; }, std::chrono::seconds(5));
    EXPECT_EQ(postedLabelChanges(), (QList<Posted>{{QStringLiteral("mailfolderlistchanged"), MailUser},
                                                   {QStringLiteral("mailfolderselectionschanged"), MailUser}}));
}

// Opened with the folder list of the account view's own check, a stored
// account shows its stored choices, its flags included, and Continue keeps them.
TEST_F(TDWLabelViewTest, AStoredAccountKeepsItsStoredChoices)
{
    const struct {
        bool autoAdd;
        bool unlabeled;
        QStringList checked;
    } cases[] = {
        {false, false, {QStringLiteral("Entwürfe")}},
        // Auto-add on: "Work", new to the records, starts chosen.
        {true, false, {QStringLiteral("Entwürfe"), QStringLiteral("Work")}},
        {false, true, {QStringLiteral("Entwürfe")}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message() << "autoAdd " << c.autoAdd << " unlabeled " << c.unlabeled);
        TearDown();
        SetUp();
        delegate = RecordingFlowDelegate();
        storeMailAccount({QStringLiteral("Entwürfe")}, c.autoAdd, c.unlabeled);
        storeCredential(MailUser, OtherMailToken, {QStringLiteral("mail")});
        makeFlow(MailUser).populate();
        pressContinue();
        ASSERT_TRUE(tdwtest::waitUntil([this] { return showsLabelView() || errorShown(); }));
        ASSERT_TRUE(showsLabelView()) << statusText().toStdString();
        ASSERT_TRUE(flow->foldersWithFlags());

        EXPECT_EQ(checkedLabels(), c.checked);
        EXPECT_EQ(control<QCheckBox>("autoAddNewLabels")->isChecked(), c.autoAdd);
        EXPECT_EQ(box(QStringLiteral("Unlabeled"))->isChecked(), c.unlabeled);

        pressContinue();
        EXPECT_EQ(delegate.done, 1);
        bool autoAdd = !c.autoAdd;
        bool unlabeled = !c.unlabeled;
        EXPECT_EQ(storedBackedUpLabels(&autoAdd, &unlabeled), c.checked);
        EXPECT_EQ(autoAdd, c.autoAdd);
        EXPECT_EQ(unlabeled, c.unlabeled);
    }
}

// A refresh brings the labels new to the records, chosen as the stored
// auto-add says, and keeps the choices not saved yet of the labels listed.
TEST_F(TDWLabelViewTest, RefreshAddsNewLabelsAndKeepsUnsavedChoices)
{
    storeMailAccount({QStringLiteral("Entwürfe"), QStringLiteral("Personal/Family")}, true, true);
    storeCredential(MailUser, OtherMailToken, {QStringLiteral("mail")});
    delegate.canGoBack = true;
    openStoredLabels();
    EXPECT_EQ(checkedLabels(), (QStringList{QStringLiteral("Entwürfe"), QStringLiteral("Personal/Family")}));
    EXPECT_FALSE(control<QPushButton>("back")->isHidden());

    box(QStringLiteral("Entwürfe"))->click();
    control<QPushButton>("refreshLabels")->click();
    EXPECT_TRUE(refreshing());
    EXPECT_FALSE(control<QPushButton>("continue")->isEnabled());
    EXPECT_FALSE(control<QPushButton>("back")->isEnabled());
    ASSERT_TRUE(tdwtest::waitUntil([this] { return !refreshing(); }));
    expectIdle();
    EXPECT_EQ(alertsShown(), QStringList());
    EXPECT_EQ(checkedLabels(), (QStringList{QStringLiteral("Personal/Family"), QStringLiteral("Work")}));
    EXPECT_EQ(box(QStringLiteral("Custom Labels"))->checkState(), Qt::PartiallyChecked);
    // The refresh recorded the new label; the choices wait for Continue.
    EXPECT_EQ(storedBackedUpLabels(), (QStringList{QStringLiteral("Entwürfe"), QStringLiteral("Personal/Family"), QStringLiteral("Work")}));

    control<QPushButton>("back")->click();
    EXPECT_TRUE(showsAccountView());
    control<QPushButton>("labels")->click();
    ASSERT_TRUE(showsLabelView());
    pressContinue();
    EXPECT_EQ(delegate.done, 1);
    EXPECT_EQ(storedBackedUpLabels(), (QStringList{QStringLiteral("Personal/Family"), QStringLiteral("Work")}));
}

// The server never answers: after the (shortened) wait the user is told once,
// the view is usable again, and the request is given up, so that neither its
// failure nor a late answer reaches the user or the store afterwards.
TEST_F(TDWLabelViewTest, ARefreshThatTimesOutIsGivenUpAndSaidOnce)
{
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    QList<QTcpSocket *> connections;
    int closed = 0;
    QObject::connect(&silent, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *socket = silent.nextPendingConnection()) {
            connections << socket;
            QObject::connect(socket, &QTcpSocket::disconnected, [&closed] { ++closed; });
        }
    });
    storeMailAccount({QStringLiteral("Entwürfe")}, true, true);
    TDWUserDefaults::standard()->setString(QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()), QStringLiteral("Hostname"));
    // The session gives up on its own soon after the view's time-out; a token
    // of this test alone makes a session with that shorter limit.
    TDWClock::setDurationScale(0.01);
    storeCredential(MailUser, QStringLiteral("at-silent-server"), {QStringLiteral("mail")});
    openStoredLabels();
    flow->labelViewController()->setRefreshTimeoutInterval(20ms);
    const QStringList before = storedBackedUpLabels();

    control<QPushButton>("refreshLabels")->click();
    ASSERT_TRUE(tdwtest::waitUntil([this] { return !alertsShown().isEmpty(); }));
    EXPECT_EQ(alertsShown(), QStringList{QStringLiteral("Request for list of labels timed out.")});
    expectIdle();
    ASSERT_TRUE(tdwtest::waitUntil([&] { return !connections.isEmpty() && closed == connections.size(); }));
    EXPECT_FALSE(tdwtest::waitUntil([this] { return alertsShown().size() > 1; }, 2s)) << alertsShown().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(storedBackedUpLabels(), before);
}

// The records cannot take the new list (the account is gone): the user is
// told, and the view does not stay refreshing with Back and Continue off.
TEST_F(TDWLabelViewTest, ARefreshThatCannotBeSavedRestoresTheControlsAndSaysSo)
{
    storeMailAccount({QStringLiteral("Entwürfe")}, true, true);
    storeCredential(MailUser, OtherMailToken, {QStringLiteral("mail")});
    delegate.canGoBack = true;
    openStoredLabels();
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        moc->deleteObject(TDWAccount::byUsername(MailUser, *moc, nullptr));
        ASSERT_TRUE(moc->save(nullptr));
    }
    tdwtest::LogCapture log;
    control<QPushButton>("refreshLabels")->click();
    ASSERT_TRUE(tdwtest::waitUntil([this] { return !alertsShown().isEmpty(); }));
    EXPECT_EQ(alertsShown(), QStringList{QStringLiteral("Unable to save the updated list of labels.")});
    expectIdle();
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to save updated list of labels in TDWLabelViewController startLabelRefresh.")));
}

// Another account's folder-list update, or the view's own announcement,
// leaves the view as it is; a backup's update of its own account reloads it.
TEST_F(TDWLabelViewTest, TheViewFollowsOnlyItsOwnAccountsFolderListUpdates)
{
    storeMailAccount({QStringLiteral("Entwürfe")}, true, true);
    openStoredLabels();
    box(QStringLiteral("Personal/Family"))->click();
    {
        const auto moc = TDWMasterStore::shared().newMoc();
        const TDWAccount::Ptr account = TDWAccount::byUsername(MailUser, *moc, nullptr);
        ASSERT_TRUE(TDWMailUtils::updateAccount(*account, serverFolders(), std::nullopt, TDWClock::now()));
        ASSERT_TRUE(moc->save(nullptr));
    }
    const QStringList shown = checkedLabels();
    for (const QVariantMap &userInfo : {QVariantMap{{QStringLiteral("accountUsername"), QStringLiteral("other@example.com")}},
                                        QVariantMap{{QStringLiteral("accountUsername"), MailUser}, {QStringLiteral("setnew"), true}}}) {
        TDWNotificationCenter::defaultCenter().post(QStringLiteral("mailfolderlistchanged"), nullptr, userInfo);
        EXPECT_EQ(checkedLabels(), shown);
    }
    TDWNotificationCenter::defaultCenter().post(QStringLiteral("mailfolderlistchanged"), nullptr,
                                                {{QStringLiteral("accountUsername"), MailUser}});
    EXPECT_EQ(checkedLabels(), (QStringList{QStringLiteral("Entwürfe"), QStringLiteral("Personal/Family"), QStringLiteral("Work")}));
}

} // namespace
