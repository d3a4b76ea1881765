#pragma once

#include "platform/store/TDWAttributeDescription.h"
#include "platform/store/TDWRelationshipDescription.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class TDWManagedObject;

using TDWObjectFactory = std::function<std::shared_ptr<TDWManagedObject>()>;

// One entity of a model: its attributes, relationships, extra indexes, the
// configurations (store kinds) it lives in and the class its objects are made of.
// Declared through TDWManagedObjectModel::addEntity and read-only once the model
// is finalised.
class TDWEntityDescription
{
public:
    // What a stored slot of an object holds: an attribute or a to-one relationship.
    struct Slot
    {
        int attribute = -1;    // index into attributes(), or -1
        int relationship = -1; // index into relationships(), or -1
    };

    TDWEntityDescription(QString name, QStringList configurations, TDWObjectFactory factory);

    TDWEntityDescription &addAttribute(const QString &name, TDWAttributeType type, const TDWAttributeOptions &options = {});
    TDWEntityDescription &addToOne(const QString &name, const QString &destination, const QString &inverse = {},
                                   TDWDeleteRule rule = TDWDeleteRule::Nullify);
    TDWEntityDescription &addToMany(const QString &name, const QString &destination, const QString &inverse,
                                    TDWDeleteRule rule = TDWDeleteRule::Nullify);
    // A compound index over attribute or to-one keys; "title[c]" names the
    // case-folded copy of a string attribute declared with caseInsensitiveKey.
    TDWEntityDescription &addIndex(const QStringList &keys);

    const QString &name() const { return m_name; }
    int index() const { return m_index; }
    const QStringList &configurations() const { return m_configurations; }
    // The empty configuration name stands for every entity of the model.
    bool belongsToConfiguration(const QString &configuration) const;

    const QList<TDWAttributeDescription> &attributes() const { return m_attributes; }
    const QList<TDWRelationshipDescription> &relationships() const { return m_relationships; }
    const QList<QStringList> &indexes() const { return m_indexes; }
    const TDWAttributeDescription *attribute(const QString &name) const;
    const TDWRelationshipDescription *relationship(const QString &name) const;

    // Stored slots: attributes first, then to-one relationships, in declaration order.
    int slotCount() const { return m_slots.size(); }
    const Slot &slot(int index) const { return m_slots[index]; }
    // Slot of an attribute or to-one key, or -1.
    int slotForKey(const QString &key) const { return m_slotByKey.value(key, -1); }
    QString keyForSlot(int slot) const;
    QString columnForSlot(int slot) const;

    std::shared_ptr<TDWManagedObject> newObject() const;

    // "t.pk, t."a", t."b", ..." in slot order for the table alias "t": every row
    // load reads it, so it is built once, when the model is finalised.
    const QString &rowColumnsForAliasT() const { return m_rowColumnsForAliasT; }

private:
    friend class TDWManagedObjectModel;
    void finalizeSlots(int entityIndex);

    QString m_name;
    QStringList m_configurations;
    TDWObjectFactory m_factory;
    QList<TDWAttributeDescription> m_attributes;
    QList<TDWRelationshipDescription> m_relationships;
    QList<QStringList> m_indexes;
    QList<Slot> m_slots;
    QHash<QString, int> m_slotByKey;
    QString m_rowColumnsForAliasT;
    int m_index = -1;
};
