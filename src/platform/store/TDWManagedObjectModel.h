#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/store/TDWEntityDescription.h"

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <vector>

// The description of everything a store holds: entities, their attributes and
// relationships, and the configurations (kinds of store file) each entity lives in.
// The entity layer declares it in code, calls finalize(), and shares it read-only
// (std::shared_ptr<const TDWManagedObjectModel>) with every coordinator.
//
// Each configuration has a version hash over the stored layout of its entities; a
// store file records the hash it was written with, so a file of another model
// version is recognised and refused instead of misread.
class TDWManagedObjectModel
{
public:
    explicit TDWManagedObjectModel(QString versionIdentifier);
    TDWManagedObjectModel(const TDWManagedObjectModel &) = delete;
    TDWManagedObjectModel &operator=(const TDWManagedObjectModel &) = delete;

    // Declares an entity; factory makes objects of its class (TDWManagedObject when empty).
    TDWEntityDescription &addEntity(const QString &name, const QStringList &configurations, TDWObjectFactory factory = {});

    // Checks the declarations (names, destinations, inverses, indexes) and fixes the
    // layout. Nothing may be added afterwards.
    bool finalize(TDWError *error);
    bool isFinalized() const { return m_finalized; }

    // The caller's name for this model version, e.g. "v12".
    const QString &versionIdentifier() const { return m_versionIdentifier; }

    const TDWEntityDescription *entity(const QString &name) const;
    int entityCount() const { return int(m_entities.size()); }
    // Entities of a configuration; the empty name stands for all entities.
    QList<const TDWEntityDescription *> entitiesForConfiguration(const QString &configuration) const;
    QStringList configurations() const;
    bool hasConfiguration(const QString &configuration) const;

    // Hash over the stored layout (tables and columns) of a configuration.
    QString versionHash(const QString &configuration) const;
    // Hash over the index declarations of a configuration (indexes can change
    // without making old files unreadable; they are rebuilt when it differs).
    QString indexHash(const QString &configuration) const;

    // Whether a store file with this metadata was written with this model's layout
    // of the given configuration.
    bool isConfigurationCompatibleWithStoreMetadata(const QString &configuration, const QVariantMap &metadata) const;

private:
    bool validate(TDWError *error) const;
    QString layoutText(const QString &configuration) const;
    QString indexText(const QString &configuration) const;

    QString m_versionIdentifier;
    std::vector<std::unique_ptr<TDWEntityDescription>> m_entities;
    bool m_finalized = false;
};
