#include "platform/store/TDWManagedObject.h"

#include "platform/foundation/TDWLog.h"
#include "platform/store/TDWEntityDescription.h"
#include "platform/store/TDWManagedObjectContext.h"
#include "platform/store/TDWSqlValueCodec.h"

TDWManagedObject::TDWManagedObject() = default;

TDWManagedObject::~TDWManagedObject()
{
    if (m_context)
        m_context->objectDestroyed(this);
}

bool TDWManagedObject::isUpdated() const
{
    return !m_inserted && !m_deleted && m_changed.count(true) > 0;
}

void TDWManagedObject::fireFault() const
{
    if (!m_fault)
        return;
    auto *self = const_cast<TDWManagedObject *>(this);
    TDWError error;
    if (!m_context || !m_context->fulfillFault(self, &error)) {
        // The row is gone (or the context with it): the object reads as empty rather
        // than as stale or half-loaded values.
        tdwLog(QStringLiteral("ERROR: Unable to load %1: %2")
                   .arg(m_id.uriRepresentation().toString(), error.isNull() ? QStringLiteral("no context") : error.localizedDescription()));
        self->m_values = QList<QVariant>(m_entity->slotCount());
        self->m_fault = false;
    }
}

int TDWManagedObject::requireSlot(const QString &key, bool toOne) const
{
    const int slot = m_entity->slotForKey(key);
    const bool isToOne = slot >= 0 && m_entity->slot(slot).relationship >= 0;
    if (slot < 0 || isToOne != toOne) {
        tdwLog(QStringLiteral("ERROR: %1 has no %2 \"%3\"")
                   .arg(m_entity->name(), toOne ? QStringLiteral("to-one relationship") : QStringLiteral("attribute"), key));
        return -1;
    }
    return slot;
}

QVariant TDWManagedObject::valueAtSlot(int slot) const
{
    fireFault();
    return m_values.value(slot);
}

QVariant TDWManagedObject::value(const QString &key) const
{
    const int slot = m_entity->slotForKey(key);
    if (slot < 0) {
        tdwLog(QStringLiteral("ERROR: %1 has no key \"%2\"").arg(m_entity->name(), key));
        return {};
    }
    return valueAtSlot(slot);
}

void TDWManagedObject::setValue(const QString &key, const QVariant &value)
{
    const int slot = requireSlot(key, false);
    if (slot >= 0)
        setValueAtSlot(slot, value);
}

void TDWManagedObject::setValueAtSlot(int slot, const QVariant &value)
{
    const TDWEntityDescription::Slot &description = m_entity->slot(slot);
    QVariant stored = value;
    if (description.attribute >= 0) {
        const TDWAttributeDescription &attribute = m_entity->attributes()[description.attribute];
        bool ok = true;
        stored = TDWSqlValueCodec::coerce(value, attribute.type, &ok);
        if (!ok) {
            tdwLog(QStringLiteral("ERROR: %1.%2 cannot hold a value of type %3").arg(m_entity->name(), attribute.name, QLatin1String(value.typeName())));
            return;
        }
    } else if (!value.isNull() && value.metaType() != QMetaType::fromType<TDWManagedObjectID>()) {
        tdwLog(QStringLiteral("ERROR: %1.%2 holds object identifiers only").arg(m_entity->name(), m_entity->keyForSlot(slot)));
        return;
    }
    fireFault();
    storeSlot(slot, stored);
}

void TDWManagedObject::storeSlot(int slot, const QVariant &value)
{
    if (m_context)
        m_context->objectWillChange(this);
    if (m_inserted) {
        // Every column of an insert is written anyway: no change to track.
        m_values[slot] = value;
        if (m_destinations.size() > slot)
            m_destinations[slot].reset();
        return;
    }
    if (m_values[slot] == value && m_values[slot].isNull() == value.isNull())
        return;
    if (!m_committed)
        m_committed = std::make_unique<QList<QVariant>>(m_values);
    m_values[slot] = value;
    if (m_destinations.size() > slot)
        m_destinations[slot].reset();
    if (m_changed.size() < m_values.size())
        m_changed.resize(m_values.size());
    const QVariant &committed = (*m_committed)[slot];
    m_changed.setBit(slot, !(committed == value && committed.isNull() == value.isNull()));
    if (m_context)
        m_context->objectDidChange(this);
}

QString TDWManagedObject::stringValue(const QString &key) const
{
    return value(key).toString();
}

qint64 TDWManagedObject::integerValue(const QString &key, qint64 absent) const
{
    const QVariant v = value(key);
    return v.isNull() ? absent : v.toLongLong();
}

double TDWManagedObject::doubleValue(const QString &key, double absent) const
{
    const QVariant v = value(key);
    return v.isNull() ? absent : v.toDouble();
}

bool TDWManagedObject::boolValue(const QString &key, bool absent) const
{
    const QVariant v = value(key);
    return v.isNull() ? absent : v.toBool();
}

QDateTime TDWManagedObject::dateValue(const QString &key) const
{
    return value(key).toDateTime();
}

QByteArray TDWManagedObject::dataValue(const QString &key) const
{
    return value(key).toByteArray();
}

TDWManagedObjectID TDWManagedObject::objectIDValue(const QString &key) const
{
    const int slot = requireSlot(key, true);
    return slot < 0 ? TDWManagedObjectID() : valueAtSlot(slot).value<TDWManagedObjectID>();
}

TDWManagedObjectPtr TDWManagedObject::objectValue(const QString &key) const
{
    const int slot = requireSlot(key, true);
    if (slot < 0)
        return nullptr;
    if (m_destinations.size() > slot && m_destinations[slot])
        return m_destinations[slot];
    const TDWManagedObjectID id = valueAtSlot(slot).value<TDWManagedObjectID>();
    if (id.isNull() || !m_context)
        return nullptr;
    TDWManagedObjectPtr destination = m_context->objectWithID(id);
    if (m_destinations.size() < m_values.size())
        m_destinations.resize(m_values.size());
    m_destinations[slot] = destination;
    return destination;
}

void TDWManagedObject::setObjectValue(const QString &key, const TDWManagedObjectPtr &object)
{
    const int slot = requireSlot(key, true);
    if (slot < 0)
        return;
    const TDWRelationshipDescription &relationship = m_entity->relationships()[m_entity->slot(slot).relationship];
    if (object && (object->m_context != m_context || object->entity().name() != relationship.destinationEntity)) {
        tdwLog(QStringLiteral("ERROR: %1.%2 cannot point at %3 of another context or entity")
                   .arg(m_entity->name(), relationship.name, object->entity().name()));
        return;
    }
    fireFault();
    storeSlot(slot, object ? QVariant::fromValue(object->objectID()) : QVariant());
    if (object) {
        if (m_destinations.size() < m_values.size())
            m_destinations.resize(m_values.size());
        m_destinations[slot] = object;
    }
}

QList<TDWManagedObjectPtr> TDWManagedObject::objectsValue(const QString &key) const
{
    const TDWRelationshipDescription *relationship = m_entity->relationship(key);
    if (!relationship || !relationship->toMany) {
        tdwLog(QStringLiteral("ERROR: %1 has no to-many relationship \"%2\"").arg(m_entity->name(), key));
        return {};
    }
    if (!m_context)
        return {};
    return m_context->toManyObjects(this, *relationship);
}

void TDWManagedObject::addObject(const QString &key, const TDWManagedObjectPtr &object)
{
    const TDWRelationshipDescription *relationship = m_entity->relationship(key);
    if (!relationship || !relationship->toMany || !object) {
        tdwLog(QStringLiteral("ERROR: %1 has no to-many relationship \"%2\"").arg(m_entity->name(), key));
        return;
    }
    // The to-many side is read through the inverse, so setting the inverse is the change.
    object->setObjectValue(relationship->inverseName, const_cast<TDWManagedObject *>(this)->shared_from_this());
}

void TDWManagedObject::removeObject(const QString &key, const TDWManagedObjectPtr &object)
{
    const TDWRelationshipDescription *relationship = m_entity->relationship(key);
    if (!relationship || !relationship->toMany || !object) {
        tdwLog(QStringLiteral("ERROR: %1 has no to-many relationship \"%2\"").arg(m_entity->name(), key));
        return;
    }
    if (object->objectIDValue(relationship->inverseName) == m_id)
        object->setObjectValue(relationship->inverseName, nullptr);
}

QVariantMap TDWManagedObject::changedValues() const
{
    QVariantMap result;
    for (int slot = 0; slot < m_values.size(); ++slot)
        if (m_inserted || slotChanged(slot))
            result.insert(m_entity->keyForSlot(slot), m_values[slot]);
    return result;
}

QVariantMap TDWManagedObject::committedValues(const QStringList &keys) const
{
    if (m_inserted)
        return {};
    fireFault();
    const QList<QVariant> &committed = m_committed ? *m_committed : m_values;
    QVariantMap result;
    for (int slot = 0; slot < committed.size(); ++slot) {
        const QString key = m_entity->keyForSlot(slot);
        if (keys.isEmpty() || keys.contains(key))
            result.insert(key, committed[slot]);
    }
    return result;
}

TDWPredicateValue TDWManagedObject::valueForKey(const QString &key) const
{
    const int slot = m_entity->slotForKey(key);
    if (slot >= 0) {
        if (m_entity->slot(slot).attribute >= 0)
            return TDWPredicateValue::fromScalar(valueAtSlot(slot));
        return TDWPredicateValue::fromObject(objectValue(key));
    }
    const TDWRelationshipDescription *relationship = m_entity->relationship(key);
    if (!relationship)
        return {};
    QList<std::shared_ptr<const TDWPredicateSubject>> objects;
    for (const TDWManagedObjectPtr &object : objectsValue(key))
        objects.append(object);
    return TDWPredicateValue::fromObjects(objects);
}

TDWPredicateObjectRef TDWManagedObject::objectRef() const
{
    return m_id.predicateObjectRef();
}

void TDWManagedObject::clearChanges()
{
    m_committed.reset();
    m_changed.clear();
}
