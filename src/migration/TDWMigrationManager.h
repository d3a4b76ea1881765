#pragma once

#include "platform/store/TDWPersistentStoreCoordinator.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

class TDWManagedObjectModel;
class TDWStoreLayoutMigrator;

// Brings the metadata stores written with an earlier layout of the model to the
// current one: the master store, then every account-and-service store the master
// names, each file step by step in place (TDWStoreLayoutMigrator). Runs
// synchronously on the upgrade window's thread, before anything else opens those
// stores. Every file is looked at before any is changed, so a file of a newer or
// unknown layout stops the migration with nothing touched; the first failure
// stops everything after it, the file it happened in left as it was.
class TDWMigrationManager : public QObject
{
    Q_OBJECT

public:
    // The model to migrate to: the application's (TDWMasterStore) when null.
    explicit TDWMigrationManager(std::shared_ptr<const TDWManagedObjectModel> model = nullptr);
    ~TDWMigrationManager() override;

    // Migrates the master store at dataPath and the stores it names. The
    // coordinator holding the master store of the current model, or null on
    // failure (logged).
    std::shared_ptr<TDWPersistentStoreCoordinator> migrateFrom(const QString &dataPath);

    // Whether the master store at dataPath or a store it names has another layout
    // than the model's current one: an earlier one to migrate, or one to refuse
    // through the upgrade's failure. Files that cannot be read are not counted.
    bool storesNeedMigration(const QString &dataPath);

    // Steps to run over all files, and steps run so far.
    qint64 numRecordsTotal() const { return m_numRecordsTotal; }
    qint64 numRecordsMigrated() const { return m_numRecordsMigrated; }
    // From 0 to 1; only ever rises.
    float tdwMigrationProgress() const { return m_progress; }

signals:
    // Emitted on the migrating thread each time the fraction rises.
    void tdwMigrationProgressChanged(float progress);

private:
    // Every file to look at, the master store first; empty when the master cannot be read.
    QList<std::shared_ptr<TDWStoreLayoutMigrator>> storeMigrators(const QString &dataPath);
    void stepDone();

    std::shared_ptr<const TDWManagedObjectModel> m_model;
    qint64 m_numRecordsTotal = 0;
    qint64 m_numRecordsMigrated = 0;
    std::atomic<float> m_progress = 0;
};
