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
    // case-folded copy of a string attribute declared with caseInsensitiveKey, and
    // "pk" the row id. Fetches break ties of their order by row id, so an index meant
    // to serve an order lists "pk" right after the sort keys (then SQLite reads the
    // rows in index order and sorts nothing).
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

    // SQL made once when the model is finalised: the select list of the entity's
    // table under the alias "t" (row id, then the slots), and the INSERT of a whole row.
    const QString &selectListSql() const { return m_selectListSql; }
    const QString &insertSql() const { return m_insertSql; }

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
    int m_index = -1;
    QString m_selectListSql;
    QString m_insertSql;
};
