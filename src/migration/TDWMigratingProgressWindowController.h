#pragma once

#include "migration/TDWUpgradeResult.h"

#include <QObject>

#include <memory>

class QLabel;
class QProgressBar;
class QWidget;

// The upgrade window: shown at start-up when the master store must be migrated
// from an older model or stored passwords must be converted to OAuth
// credentials, and once for a new user with nothing to do. It does its work,
// then reports finished() or failed() on the main thread.
//
// Neither job exists on Linux yet (no older store or password was ever
// written here): a window asked to do one reports failed(), so the
// application stops instead of reading a store it does not understand.
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

signals:
    void finished(const TDWUpgradeResult &result);
    void failed();

private:
    void startMigration();

    const bool m_updateDatabase;
    const bool m_updateOauth;
    std::unique_ptr<QWidget> m_window;
    QLabel *m_label = nullptr;
    QProgressBar *m_progressIndicator = nullptr;
};
