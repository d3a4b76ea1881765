#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/store/TDWEntityDescription.h"
#include "platform/store/TDWStoreLayoutStep.h"

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <QHash>

#include <memory>
#include <vector>

// How a store file's layout stands to the model's layout of its configuration.
enum class TDWStoreLayoutState {
    Current, // written with this layout
    Older,   // an earlier layout the model knows: the file can be brought forward
    Newer,   // a later layout than the model's: written by a newer program
    Unknown, // another configuration, or a layout the model does not know
};

// The description of everything a store holds: entities, their attributes and
// relationships, and the configurations (kinds of store file) each entity lives in.
// The entity layer declares it in code, calls finalize(), and shares it read-only
// (std::shared_ptr<const TDWManagedObjectModel>) with every coordinator.
//
// Each configuration has a version hash over the stored layout of its entities; a
// store file records the hash it was written with, so a file of another model
// version is recognised and refused instead of misread. Beside the hash, each
// configuration's layouts are numbered: the model keeps the hashes of the
// earlier layouts, oldest first, each with the step to the next, so an older
// file is brought forward and a newer one is told from an unknown one.
class TDWManagedObjectModel
{
public:
    explicit TDWManagedObjectModel(QString versionIdentifier);
    TDWManagedObjectModel(const TDWManagedObjectModel &) = delete;
    TDWManagedObjectModel &operator=(const TDWManagedObjectModel &) = delete;

    // Declares an entity; factory makes objects of its class (TDWManagedObject when empty).
    TDWEntityDescription &addEntity(const QString &name, const QStringList &configurations, TDWObjectFactory factory = {});

    // An entity declared earlier, to declare more on it (before finalize()); null when there is none.
    TDWEntityDescription *declaredEntity(const QString &name);

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

    // Declares the next earlier layout of a configuration (call oldest first): its
    // version hash and the step from it to the layout after it (the next earlier
    // one declared, or the current layout).
    TDWManagedObjectModel &addEarlierLayout(const QString &configuration, const QString &versionHash, TDWStoreLayoutStep step);
    // The number of the current layout of a configuration: 1 + its earlier layouts.
    int layoutVersion(const QString &configuration) const;
    // How the layout of a file with this metadata stands to the model's, and its
    // number (0 when unknown).
    TDWStoreLayoutState layoutStateOfStoreMetadata(const QString &configuration, const QVariantMap &metadata, int *fileVersion = nullptr) const;
    // The step from layout `version` to the next; null for the current layout.
    const TDWStoreLayoutStep *layoutStepFrom(const QString &configuration, int version) const;
    // The version hash of layout `version` (1 = the oldest known).
    QString versionHashOfLayout(const QString &configuration, int version) const;

private:
    bool validate(TDWError *error) const;
    QString layoutText(const QString &configuration) const;
    QString indexText(const QString &configuration) const;

    struct EarlierLayout
    {
        QString versionHash;
        TDWStoreLayoutStep step;
    };

    QString m_versionIdentifier;
    QHash<QString, QList<EarlierLayout>> m_earlierLayouts; // by configuration, oldest first
    std::vector<std::unique_ptr<TDWEntityDescription>> m_entities;
    bool m_finalized = false;
};
