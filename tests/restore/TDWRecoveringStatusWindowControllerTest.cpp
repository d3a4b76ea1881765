// The status window of a restore: when it shows, what it says, its buttons,
// and a picture of it.
#include "PinnedZoneAndLocale.h"
#include "RestoreFixture.h"

#include "TestSupport.h"

#include "platform/foundation/TDWOperationQueue.h"
#include "restore/TDWRecoveringStatusWindowController.h"
#include "restore/TDWRecoveryUserOperation.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QWidget>

namespace {

using State = TDWRecoveryProgress::State;

class RecoveringStatusWindow : public RestoreFixture
{
protected:
    // A request with its window, as the application starts one.
    QPointer<TDWRecoveringStatusWindowController> start(const QList<TDWQueuedRecovery> &items, const QString &dest, bool multipleTopLevel,
                                                        const QString &title = {})
    {
        m_request = std::make_shared<TDWRecoveryUserOperation>(items, dest, multipleTopLevel, title, false, QString());
        auto *controller = new TDWRecoveringStatusWindowController(m_request);
        m_queue.addOperation(m_request);
        return controller;
    }

    bool requestOver() const { return m_request->isFinished() && m_request->progress()->state() != State::InProgress; }

    // The window as it looks now, saved for a person to look at.
    static void savePicture(QWidget *window, const QString &name)
    {
        const QString path = QDir(tdwtest::freshDir(QStringLiteral("pictures"))).filePath(name);
        EXPECT_TRUE(window->grab().save(path));
        if (const QByteArray folder = qgetenv("TDW_PICTURE_DIR"); !folder.isEmpty()) {
            window->grab().save(QDir(QString::fromLocal8Bit(folder)).filePath(name));
        }
    }

    std::shared_ptr<TDWRecoveryUserOperation> m_request;
    TDWOperationQueue m_queue;
};

TEST_F(RecoveringStatusWindow, AFastCompleteRestoreNeverShowsIt)
{
    const QPointer<TDWRecoveringStatusWindowController> controller = start({queued(addFile(QStringLiteral("Lease"), "lease"))},
                                                                           m_dest + QStringLiteral("/Lease.pdf"), false, QStringLiteral("Lease"));
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return requestOver(); }, 30000));
    EXPECT_EQ(m_request->progress()->state(), State::Finished);
    // A machine too busy to copy one file in half a second shows the window for a moment, which is right too.
    if (clock.elapsed() < TDWRecoveringStatusWindowController::ShowDelayMs - 100) {
        EXPECT_FALSE(controller && controller->window());
    }
    // Past the half second, the controller has ended without a window.
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller.isNull(); }, 5000));
}

TEST_F(RecoveringStatusWindow, ItemsNotBackedUpShowTheOutcomeWithOK)
{
    const PinnedZoneAndLocale pinned("UTC", "en_US");
    const QList<TDWManagedObjectID> never = addItem(Docs, QStringLiteral("file"), QStringLiteral("Budget"), QStringLiteral("xlsx"),
                                                    {{"", TDWDocRev::DownloadFailed, false}});
    const QPointer<TDWRecoveringStatusWindowController> controller = start({queued(never.last())}, m_dest + QStringLiteral("/Budget.xlsx"), false,
                                                                           QStringLiteral("Budget"));
    // Shown as the outcome is known, without waiting for the half second.
    ASSERT_TRUE(QTest::qWaitFor([&] { return requestOver(); }, 30000));
    ASSERT_TRUE(controller && controller->window() && controller->window()->isVisible());
    EXPECT_EQ(controller->text()->text(), QStringLiteral("Unable to restore “Budget” because it is not backed up."));
    EXPECT_TRUE(controller->okButton()->isVisible());
    EXPECT_FALSE(controller->cancelButton()->isVisible());
    EXPECT_FALSE(controller->progressIndicator()->isVisible());
    savePicture(controller->window(), QStringLiteral("restore-not-backed-up.png"));
    controller->okButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller.isNull(); }, 5000));
}

TEST_F(RecoveringStatusWindow, ARestoreStillRunningShowsRestoringWithCancel)
{
    QList<TDWQueuedRecovery> items;
    for (int i = 0; i < 3; ++i)
        items << queued(addFile(QStringLiteral("file %1").arg(i), "x"));
    // Made but held back from the queue: it is still under way when the half second is over.
    m_request = std::make_shared<TDWRecoveryUserOperation>(items, m_dest, true, QString(), false, QString());
    const QPointer<TDWRecoveringStatusWindowController> controller = new TDWRecoveringStatusWindowController(m_request);
    QTest::qWait(TDWRecoveringStatusWindowController::ShowDelayMs / 2);
    EXPECT_FALSE(controller->window()) << "not before the half second";
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller->window() && controller->window()->isVisible(); }, 5000));
    EXPECT_EQ(controller->text()->text(), QStringLiteral("Restoring…"));
    EXPECT_TRUE(controller->cancelButton()->isVisible());
    EXPECT_FALSE(controller->okButton()->isVisible());
    EXPECT_EQ(controller->progressIndicator()->maximum(), 0) << "busy until the first file";
    savePicture(controller->window(), QStringLiteral("restore-in-progress.png"));

    controller->cancelButton()->click();
    EXPECT_TRUE(m_request->isCancelled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller.isNull(); }, 5000));
    m_queue.addOperation(m_request);
    m_queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(entriesUnder(m_dest).isEmpty());
}

TEST_F(RecoveringStatusWindow, AFailureWhileHiddenShowsItAtOnce)
{
    const TDWManagedObjectID file = addFile(QStringLiteral("Report"), "new");
    QFile existing(m_dest + QStringLiteral("/Report.txt"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.close();
    const QPointer<TDWRecoveringStatusWindowController> controller = start({queued(file)}, m_dest, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return requestOver(); }, 30000));
    ASSERT_TRUE(controller && controller->window() && controller->window()->isVisible());
    EXPECT_EQ(controller->text()->text(), QStringLiteral("Unable to restore items."));
    EXPECT_TRUE(controller->okButton()->isVisible());
    EXPECT_FALSE(controller->cancelButton()->isVisible());
    savePicture(controller->window(), QStringLiteral("restore-failed.png"));
    controller->okButton()->click();
}

} // namespace
