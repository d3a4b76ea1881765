#include "platform/store/TDWEntityDescription.h"

#include "platform/store/TDWManagedObject.h"

TDWEntityDescription::TDWEntityDescription(QString name, QStringList configurations, TDWObjectFactory factory)
    : m_name(std::move(name))
    , m_configurations(std::move(configurations))
    , m_factory(std::move(factory))
{
}

TDWEntityDescription &TDWEntityDescription::addAttribute(const QString &name, TDWAttributeType type, const TDWAttributeOptions &options)
{
    m_attributes.append(TDWAttributeDescription{name, type, options, -1});
    return *this;
}

TDWEntityDescription &TDWEntityDescription::addToOne(const QString &name, const QString &destination, const QString &inverse,
                                                     TDWDeleteRule rule)
{
    m_relationships.append(TDWRelationshipDescription{name, destination, false, inverse, rule, -1});
    return *this;
}

TDWEntityDescription &TDWEntityDescription::addToMany(const QString &name, const QString &destination, const QString &inverse,
                                                      TDWDeleteRule rule)
{
    m_relationships.append(TDWRelationshipDescription{name, destination, true, inverse, rule, -1});
    return *this;
}

TDWEntityDescription &TDWEntityDescription::addIndex(const QStringList &keys)
{
    m_indexes.append(keys);
    return *this;
}

bool TDWEntityDescription::belongsToConfiguration(const QString &configuration) const
{
    return configuration.isEmpty() || m_configurations.contains(configuration);
}

const TDWAttributeDescription *TDWEntityDescription::attribute(const QString &name) const
{
    for (const TDWAttributeDescription &attribute : m_attributes)
        if (attribute.name == name)
            return &attribute;
    return nullptr;
}

const TDWRelationshipDescription *TDWEntityDescription::relationship(const QString &name) const
{
    for (const TDWRelationshipDescription &relationship : m_relationships)
        if (relationship.name == name)
            return &relationship;
    return nullptr;
}

QString TDWEntityDescription::keyForSlot(int slot) const
{
    const Slot &s = m_slots[slot];
    return s.attribute >= 0 ? m_attributes[s.attribute].name : m_relationships[s.relationship].name;
}

QString TDWEntityDescription::columnForSlot(int slot) const
{
    return keyForSlot(slot);
}

std::shared_ptr<TDWManagedObject> TDWEntityDescription::newObject() const
{
    return m_factory ? m_factory() : std::make_shared<TDWManagedObject>();
}

void TDWEntityDescription::finalizeSlots(int entityIndex)
{
    m_index = entityIndex;
    m_slots.clear();
    m_slotByKey.clear();
    for (int i = 0; i < m_attributes.size(); ++i) {
        m_attributes[i].slot = m_slots.size();
        m_slotByKey.insert(m_attributes[i].name, m_slots.size());
        m_slots.append(Slot{i, -1});
    }
    for (int i = 0; i < m_relationships.size(); ++i) {
        if (m_relationships[i].toMany)
            continue;
        m_relationships[i].slot = m_slots.size();
        m_slotByKey.insert(m_relationships[i].name, m_slots.size());
        m_slots.append(Slot{-1, i});
    }
}
