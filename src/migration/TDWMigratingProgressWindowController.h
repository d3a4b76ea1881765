#pragma once

#include "migration/TDWUpgradeResult.h"

#include <QObject>

#include <memory>

class QLabel;
class QProgressBar;
class QWidget;
class TDWManagedObjectContext;
class TDWOperationQueue;

// The upgrade window: shown at start-up when the stores were written with an
// earlier layout of the model, or on the first start since sign-in moved to
// OAuth, and once for a new user with nothing to do. On a worker thread it
// migrates the stores (keeping a dated copy of the master store) and, for the
// sign-in, lists the accounts whose keyring holds no credential, showing the
// migration's progress as it goes. It then reports finished() or, when the
// store work failed, failed(), both on the main thread.
class TDWMigratingProgressWindowController : public QObject
{
    Q_OBJECT

public:
    TDWMigratingProgressWindowController(bool updateDatabase, bool updateOauth, QObject *parent = nullptr);
    ~TDWMigratingProgressWindowController() override;

    // Shows the window and starts the work; returns at once.
    void showWindow();
    void close();

    QWidget *window() const { return m_window.get(); }
    QString labelText() const;
    QProgressBar *progressIndicator() const { return m_progressIndicator; }

    // A context for the work after the migration, owned by the caller: on the
    // migrated stores when there are, else on the application's.
    static std::unique_ptr<TDWManagedObjectContext> newMoc(const std::shared_ptr<TDWPersistentStoreCoordinator> &destPsc);

signals:
    void finished(const TDWUpgradeResult &result);
    void failed();

private:
    void startMigration();
    // The work, on the worker thread.
    void work();
    // The migration's fraction, on the main thread.
    void showProgress(float progress);

    const bool m_updateDatabase;
    const bool m_updateOauth;
    std::unique_ptr<QWidget> m_window;
    QLabel *m_label = nullptr;
    QProgressBar *m_progressIndicator = nullptr;
    std::unique_ptr<TDWOperationQueue> m_workQueue;
};
