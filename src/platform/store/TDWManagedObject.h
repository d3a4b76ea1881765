#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/predicate/TDWPredicateSubject.h"
#include "platform/store/TDWManagedObjectID.h"
#include "platform/store/TDWPersistentStore.h"

#include <QBitArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <memory>

class TDWEntityDescription;
class TDWManagedObjectContext;
class TDWManagedObject;

using TDWManagedObjectPtr = std::shared_ptr<TDWManagedObject>;

// The base of every entity class: one stored object as seen by one context, used on
// that context's thread only. Entity classes add typed accessors over the generic
// ones, e.g. `QString TDWDoc::docId() const { return stringValue("docId"); }`.
//
// An object fetched as a target of a relationship starts as a fault (no values
// loaded) and loads its row on first access. Values are QVariants of the attribute's
// type (QString, qlonglong, double, bool, QDateTime, QByteArray; a null QVariant when
// absent); to-one values are the destination's identifier.
class TDWManagedObject : public std::enable_shared_from_this<TDWManagedObject>, public TDWPredicateSubject
{
public:
    TDWManagedObject();
    virtual ~TDWManagedObject();
    TDWManagedObject(const TDWManagedObject &) = delete;
    TDWManagedObject &operator=(const TDWManagedObject &) = delete;

    const TDWEntityDescription &entity() const { return *m_entity; }
    TDWManagedObjectID objectID() const { return m_id; }
    // Null once the context is reset or destroyed, or the object's insert was rolled back.
    TDWManagedObjectContext *managedObjectContext() const { return m_context; }
    // The store the object lives in (or is assigned to); null for an unassigned insert.
    TDWPersistentStorePtr persistentStore() const { return m_store; }

    bool isInserted() const { return m_inserted; }
    bool isUpdated() const;
    bool isDeleted() const { return m_deleted; }
    bool isFault() const { return m_fault; }
    bool hasChanges() const { return m_inserted || m_deleted || isUpdated(); }

    // Attribute and to-one values by key (a to-one value is a TDWManagedObjectID).
    QVariant value(const QString &key) const;
    void setValue(const QString &key, const QVariant &value);

    QString stringValue(const QString &key) const;
    qint64 integerValue(const QString &key, qint64 absent = 0) const;
    double doubleValue(const QString &key, double absent = 0) const;
    bool boolValue(const QString &key, bool absent = false) const;
    QDateTime dateValue(const QString &key) const;
    QByteArray dataValue(const QString &key) const;

    // To-one relationships.
    TDWManagedObjectPtr objectValue(const QString &key) const;
    TDWManagedObjectID objectIDValue(const QString &key) const;
    void setObjectValue(const QString &key, const TDWManagedObjectPtr &object);

    // To-many relationships: the objects whose inverse to-one points here, including
    // unsaved changes of this context, in row order then insertion order.
    QList<TDWManagedObjectPtr> objectsValue(const QString &key) const;
    void addObject(const QString &key, const TDWManagedObjectPtr &object);
    void removeObject(const QString &key, const TDWManagedObjectPtr &object);

    // Values of the keys changed since the object was loaded or last saved.
    QVariantMap changedValues() const;
    // Values as last loaded from or saved to the store, for the given keys (all
    // attribute and to-one keys when empty). Empty for an unsaved insert.
    QVariantMap committedValues(const QStringList &keys = {}) const;

    // For predicates evaluated in memory: attributes as scalars, relationships as objects.
    TDWPredicateValue valueForKey(const QString &key) const override;
    // The stored identity; null while the object has a temporary identifier.
    TDWPredicateObjectRef objectRef() const override;

    // By stored slot (TDWEntityDescription::slotForKey), for hot paths.
    QVariant valueAtSlot(int slot) const;
    void setValueAtSlot(int slot, const QVariant &value);

protected:
    // Called once, right after the object was inserted into a context.
    virtual void awakeFromInsert() {}
    // Called after the object's values were loaded from the store.
    virtual void awakeFromFetch() {}
    // Called on inserted, updated and deleted objects just before they are written;
    // values set here are written in the same save.
    virtual void willSave() {}
    virtual void didSave() {}
    // Called when the object's values are dropped (refresh without merging, reset).
    virtual void didTurnIntoFault() {}

private:
    friend class TDWManagedObjectContext;
    friend class TDWFetchExecutor;
    friend class TDWSaveTransaction;

    void fireFault() const;
    int requireSlot(const QString &key, bool toOne) const;
    void storeSlot(int slot, const QVariant &value);
    bool slotChanged(int slot) const { return m_changed.size() > slot && m_changed.testBit(slot); }
    void clearChanges();

    TDWManagedObjectContext *m_context = nullptr;
    const TDWEntityDescription *m_entity = nullptr;
    TDWManagedObjectID m_id;
    TDWPersistentStorePtr m_store;
    QList<QVariant> m_values;
    // Values as committed, kept only while the object has unsaved changes.
    std::unique_ptr<QList<QVariant>> m_committed;
    QBitArray m_changed;
    // Destinations of to-one relationships, by slot, once resolved (or prefetched).
    mutable QList<TDWManagedObjectPtr> m_destinations;
    qint64 m_insertOrder = 0;
    bool m_fault = true;
    bool m_inserted = false;
    bool m_deleted = false;
};

Q_DECLARE_METATYPE(TDWManagedObjectPtr)
