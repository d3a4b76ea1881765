#include "AccountDeletionFixture.h"

#include "common/TDWFileMgr.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWAccountServiceSetting.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "platform/notify/TDWNotificationCenter.h"
#include "prefs/TDWAccountDeleteConfirmationWindowController.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString Alice = QStringLiteral("alice@example.com");
const QString Bob = QStringLiteral("bob@example.com");

struct Posted
{
    QString name;
    QString username;
    bool operator==(const Posted &) const = default;
};

void PrintTo(const Posted &posted, std::ostream *out)
{
    *out << posted.name.toStdString() << " " << posted.username.toStdString();
}

class TDWAccountDeleteConfirmationWindowControllerTest : public AccountDeletionFixture
{
protected:
    void SetUp() override
    {
        AccountDeletionFixture::SetUp();
        window.show();
        m_observer = TDWNotificationCenter::defaultCenter().addObserver({}, [this](const TDWNotification &n) {
            if (n.name() == QLatin1String("deletedAccount") || n.name() == QLatin1String("accountUpdate"))
                posted.append({n.name(), n.userInfo().value(QStringLiteral("accountUsername")).toString()});
        });
    }

    void TearDown() override
    {
        TDWNotificationCenter::defaultCenter().removeObserver(m_observer);
        AccountDeletionFixture::TearDown();
    }

    // Clicks Delete and waits for the sheet to close and for what it posts.
    void deleteWithSheet(TDWAccountDeleteConfirmationWindowController &sheet)
    {
        QSignalSpy finished(&sheet, &QDialog::finished);
        sheet.open();
        sheet.deleteButton()->click();
        EXPECT_TRUE(sheet.deletingLabel()->isVisible());
        EXPECT_FALSE(sheet.deleteButton()->isVisible());
        EXPECT_EQ(sheet.deletingLabel()->text(), QStringLiteral("Deleting \u201calice@example.com\u201d account and backups\u2026"));
        ASSERT_TRUE(finished.count() == 1 || finished.wait(60000));
        QCoreApplication::processEvents();
    }

    QWidget window;
    QList<Posted> posted;

private:
    TDWNotificationCenter::Token m_observer;
};

TEST_F(TDWAccountDeleteConfirmationWindowControllerTest, DeleteRemovesEverythingOfTheAccountAndPostsDeletedAccount)
{
    addAccountWithData(Alice);
    addAccountWithData(Bob);
    const QStringList stores = TDWStoreMgr::storeFilenames(*TDWAccount::byUsername(Alice, *stack.moc, nullptr));
    const QStringList folders = accountFolders(dirPathOf(Alice));
    const QStringList bobFolders = accountFolders(dirPathOf(Bob));
    TDWAccountDeleteConfirmationWindowController sheet(Alice, true, &window);

    deleteWithSheet(sheet);

    EXPECT_EQ(posted, (QList<Posted>{{QStringLiteral("deletedAccount"), Alice}}));
    EXPECT_EQ(accountRows(Alice), QStringLiteral("0"));
    for (const QString &name : stores)
        EXPECT_FALSE(storeFiles().contains(name)) << name.toStdString();
    EXPECT_EQ(existing(folders), QStringList());
    EXPECT_FALSE(hasCredential(Alice));
    EXPECT_EQ(existing(bobFolders), bobFolders);
    EXPECT_TRUE(hasCredential(Bob));
    EXPECT_TRUE(window.findChildren<QMessageBox *>().isEmpty());
}

TEST_F(TDWAccountDeleteConfirmationWindowControllerTest, AFailedDeletionTellsTheUserAndPostsNothing)
{
    addAccountWithData(Alice);
    const QStringList stores = TDWStoreMgr::storeFilenames(*TDWAccount::byUsername(Alice, *stack.moc, nullptr));
    const QStringList folders = accountFolders(dirPathOf(Alice));
    refuseAccountDeletion();
    TDWAccountDeleteConfirmationWindowController sheet(Alice, true, &window);

    deleteWithSheet(sheet);

    EXPECT_TRUE(posted.isEmpty());
    const QList<QMessageBox *> alerts = window.findChildren<QMessageBox *>();
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts.first()->text(), QStringLiteral("Unable to delete the account entry."));
    EXPECT_EQ(accountRows(Alice), QStringLiteral("1"));
    for (const QString &name : stores)
        EXPECT_TRUE(storeFiles().contains(name)) << name.toStdString();
    EXPECT_EQ(existing(folders), folders);
    EXPECT_TRUE(hasCredential(Alice));
}

TEST_F(TDWAccountDeleteConfirmationWindowControllerTest, DisableTurnsEveryServiceOffKeepsTheDataAndPostsAccountUpdate)
{
    addAccountWithData(Alice);
    const QStringList folders = accountFolders(dirPathOf(Alice));
    TDWAccountDeleteConfirmationWindowController sheet(Alice, true, &window);
    sheet.open();
    ASSERT_TRUE(sheet.disableButton()->isVisible());

    sheet.disableButton()->click();
    QCoreApplication::processEvents();

    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(posted, (QList<Posted>{{QStringLiteral("accountUpdate"), Alice}}));
    EXPECT_EQ(dotest::sqlite(TDWFileMgr::dataFilePath(), QStringLiteral("SELECT lastStatus FROM Account WHERE username = '%1'").arg(Alice)),
              QStringLiteral("-2"));
    EXPECT_EQ(dotest::sqlite(TDWFileMgr::dataFilePath(), QStringLiteral("SELECT count(*) FROM AccountServiceSetting WHERE enabled != 0")),
              QStringLiteral("0"));
    EXPECT_EQ(existing(folders), folders);
    EXPECT_TRUE(hasCredential(Alice));
}

TEST_F(TDWAccountDeleteConfirmationWindowControllerTest, ADisabledAccountCanOnlyBeDeletedOrKept)
{
    TDWAccountDeleteConfirmationWindowController sheet(Alice, false, &window);
    sheet.open();
    EXPECT_FALSE(sheet.disableButton()->isVisible());
    EXPECT_TRUE(sheet.deleteButton()->isVisible());
    EXPECT_TRUE(sheet.cancelButton()->isVisible());
    EXPECT_EQ(sheet.warningTextLabel()->text(),
              QStringLiteral("Deleting the account will delete both the account information and associated backups.  This is not undoable."));
    sheet.cancelButton()->click();
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_TRUE(posted.isEmpty());
}

// Escape is Cancel; while the deletion runs, when the sheet offers no Cancel,
// it neither closes the sheet nor ends it twice.
TEST_F(TDWAccountDeleteConfirmationWindowControllerTest, EscapeIsCancelAndWaitsForARunningDeletion)
{
    addAccountWithData(Alice);
    {
        TDWAccountDeleteConfirmationWindowController sheet(Alice, true, &window);
        QSignalSpy finished(&sheet, &QDialog::finished);
        sheet.open();
        QTest::keyClick(&sheet, Qt::Key_Escape);
        EXPECT_FALSE(sheet.isVisible());
        EXPECT_EQ(finished.count(), 1);
        EXPECT_EQ(sheet.result(), int(QDialog::Rejected));
        EXPECT_TRUE(posted.isEmpty());
        EXPECT_EQ(accountRows(Alice), QStringLiteral("1"));
    }

    TDWAccountDeleteConfirmationWindowController sheet(Alice, true, &window);
    QSignalSpy finished(&sheet, &QDialog::finished);
    sheet.open();
    sheet.deleteButton()->click();
    QTest::keyClick(&sheet, Qt::Key_Escape);
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(finished.count(), 0);
    ASSERT_TRUE(finished.wait(60000));
    QCoreApplication::processEvents();
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(sheet.result(), int(QDialog::Accepted));
    EXPECT_EQ(posted, (QList<Posted>{{QStringLiteral("deletedAccount"), Alice}}));
}

TEST_F(TDWAccountDeleteConfirmationWindowControllerTest, DeletingAnAccountAlreadyGoneEndsAsDeleted)
{
    TDWAccountDeleteConfirmationWindowController sheet(Alice, true, &window);
    deleteWithSheet(sheet);
    EXPECT_EQ(posted, (QList<Posted>{{QStringLiteral("deletedAccount"), Alice}}));
    EXPECT_TRUE(window.findChildren<QMessageBox *>().isEmpty());
}

} // namespace
