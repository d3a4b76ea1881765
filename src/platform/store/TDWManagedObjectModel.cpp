#include "platform/store/TDWManagedObjectModel.h"

#include "platform/store/TDWStoreError.h"
#include "platform/store/TDWStoreMetadataKeys.h"
#include "platform/store/TDWStoreSchema.h"

#include <QCryptographicHash>
#include <QSet>

namespace {

QString sha256Hex(const QString &text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
}

bool isValidName(const QString &name)
{
    if (name.isEmpty() || name.size() > 100 || name == QLatin1String("pk") || name.endsWith(QLatin1String("__ci")))
        return false;
    if (!name[0].isLetter() && name[0] != QLatin1Char('_'))
        return false;
    for (QChar c : name)
        if (!(c.isLetterOrNumber() || c == QLatin1Char('_')))
            return false;
    return true;
}

const char *typeName(TDWAttributeType type)
{
    switch (type) {
    case TDWAttributeType::String: return "string";
    case TDWAttributeType::Integer: return "integer";
    case TDWAttributeType::Double: return "double";
    case TDWAttributeType::Boolean: return "boolean";
    case TDWAttributeType::Date: return "date";
    case TDWAttributeType::Binary: return "binary";
    case TDWAttributeType::Json: return "json";
    }
    return "?";
}

} // namespace

TDWManagedObjectModel::TDWManagedObjectModel(QString versionIdentifier)
    : m_versionIdentifier(std::move(versionIdentifier))
{
}

TDWEntityDescription &TDWManagedObjectModel::addEntity(const QString &name, const QStringList &configurations, TDWObjectFactory factory)
{
    Q_ASSERT(!m_finalized);
    m_entities.push_back(std::make_unique<TDWEntityDescription>(name, configurations, std::move(factory)));
    return *m_entities.back();
}

TDWEntityDescription *TDWManagedObjectModel::declaredEntity(const QString &name)
{
    Q_ASSERT(!m_finalized);
    for (const auto &entity : m_entities)
        if (entity->name() == name)
            return entity.get();
    return nullptr;
}

bool TDWManagedObjectModel::finalize(TDWError *error)
{
    if (m_finalized)
        return true;
    for (size_t i = 0; i < m_entities.size(); ++i)
        m_entities[i]->finalizeSlots(int(i));
    if (!validate(error))
        return false;
    for (const auto &entity : m_entities) {
        entity->m_selectListSql = TDWStoreSchema::selectList(*entity, QStringLiteral("t"));
        entity->m_insertSql = TDWStoreSchema::insertSql(*entity);
    }
    m_finalized = true;
    return true;
}

const TDWEntityDescription *TDWManagedObjectModel::entity(const QString &name) const
{
    for (const auto &entity : m_entities)
        if (entity->name() == name)
            return entity.get();
    return nullptr;
}

QList<const TDWEntityDescription *> TDWManagedObjectModel::entitiesForConfiguration(const QString &configuration) const
{
    QList<const TDWEntityDescription *> result;
    for (const auto &entity : m_entities)
        if (entity->belongsToConfiguration(configuration))
            result.append(entity.get());
    return result;
}

QStringList TDWManagedObjectModel::configurations() const
{
    QStringList result;
    for (const auto &entity : m_entities)
        for (const QString &configuration : entity->configurations())
            if (!result.contains(configuration))
                result.append(configuration);
    return result;
}

bool TDWManagedObjectModel::hasConfiguration(const QString &configuration) const
{
    return configuration.isEmpty() || configurations().contains(configuration);
}

QString TDWManagedObjectModel::layoutText(const QString &configuration) const
{
    QStringList entities;
    for (const TDWEntityDescription *entity : entitiesForConfiguration(configuration)) {
        QStringList parts{QStringLiteral("entity %1").arg(entity->name())};
        for (const TDWAttributeDescription &attribute : entity->attributes())
            parts.append(QStringLiteral("attr %1 %2%3").arg(attribute.name, QLatin1String(typeName(attribute.type)),
                                                             attribute.options.caseInsensitiveKey ? QStringLiteral(" ci") : QString()));
        for (const TDWRelationshipDescription &relationship : entity->relationships())
            parts.append(QStringLiteral("rel %1 %2 %3 %4")
                             .arg(relationship.name, relationship.destinationEntity,
                                  relationship.toMany ? QStringLiteral("many") : QStringLiteral("one"), relationship.inverseName));
        parts.sort();
        entities.append(parts.join(QLatin1Char('\n')));
    }
    entities.sort();
    return entities.join(QStringLiteral("\n\n"));
}

QString TDWManagedObjectModel::indexText(const QString &configuration) const
{
    QStringList lines;
    for (const TDWEntityDescription *entity : entitiesForConfiguration(configuration)) {
        for (const TDWAttributeDescription &attribute : entity->attributes())
            if (attribute.options.indexed)
                lines.append(QStringLiteral("%1 %2").arg(entity->name(), attribute.name));
        for (const QStringList &index : entity->indexes())
            lines.append(QStringLiteral("%1 %2").arg(entity->name(), index.join(QLatin1Char(','))));
        for (const TDWRelationshipDescription &relationship : entity->relationships())
            if (!relationship.toMany)
                lines.append(QStringLiteral("%1 fk %2").arg(entity->name(), relationship.name));
    }
    lines.sort();
    return lines.join(QLatin1Char('\n'));
}

QString TDWManagedObjectModel::versionHash(const QString &configuration) const
{
    return sha256Hex(layoutText(configuration));
}

QString TDWManagedObjectModel::indexHash(const QString &configuration) const
{
    return sha256Hex(indexText(configuration));
}

bool TDWManagedObjectModel::isConfigurationCompatibleWithStoreMetadata(const QString &configuration, const QVariantMap &metadata) const
{
    return layoutStateOfStoreMetadata(configuration, metadata) == TDWStoreLayoutState::Current;
}

TDWManagedObjectModel &TDWManagedObjectModel::addEarlierLayout(const QString &configuration, const QString &versionHash, TDWStoreLayoutStep step)
{
    Q_ASSERT(!m_finalized);
    m_earlierLayouts[configuration].append({versionHash, std::move(step)});
    return *this;
}

int TDWManagedObjectModel::layoutVersion(const QString &configuration) const
{
    return int(m_earlierLayouts.value(configuration).size()) + 1;
}

QString TDWManagedObjectModel::versionHashOfLayout(const QString &configuration, int version) const
{
    const QList<EarlierLayout> earlier = m_earlierLayouts.value(configuration);
    if (version == earlier.size() + 1)
        return versionHash(configuration);
    return version >= 1 && version <= earlier.size() ? earlier[version - 1].versionHash : QString();
}

const TDWStoreLayoutStep *TDWManagedObjectModel::layoutStepFrom(const QString &configuration, int version) const
{
    const auto it = m_earlierLayouts.constFind(configuration);
    if (it == m_earlierLayouts.constEnd() || version < 1 || version > it->size())
        return nullptr;
    return &(*it)[version - 1].step;
}

TDWStoreLayoutState TDWManagedObjectModel::layoutStateOfStoreMetadata(const QString &configuration, const QVariantMap &metadata,
                                                                      int *fileVersion) const
{
    if (fileVersion)
        *fileVersion = 0;
    if (metadata.value(TDWStoreMetadataKeys::Configuration).toString() != configuration)
        return TDWStoreLayoutState::Unknown;
    const int current = layoutVersion(configuration);
    const QString hash = metadata.value(TDWStoreMetadataKeys::VersionHash).toString();
    int version = 0;
    if (metadata.contains(TDWStoreMetadataKeys::LayoutVersion)) {
        bool ok = false;
        version = metadata.value(TDWStoreMetadataKeys::LayoutVersion).toInt(&ok);
        if (!ok || version < 1)
            return TDWStoreLayoutState::Unknown;
        // A later number than ours: whatever its hash, this program cannot know that layout.
        if (version > current) {
            if (fileVersion)
                *fileVersion = version;
            return TDWStoreLayoutState::Newer;
        }
        if (versionHashOfLayout(configuration, version) != hash)
            return TDWStoreLayoutState::Unknown;
    } else {
        // Written before layouts were numbered: told by the hash alone.
        for (int candidate = 1; candidate <= current && version == 0; ++candidate)
            if (versionHashOfLayout(configuration, candidate) == hash)
                version = candidate;
        if (version == 0)
            return TDWStoreLayoutState::Unknown;
    }
    if (fileVersion)
        *fileVersion = version;
    return version == current ? TDWStoreLayoutState::Current : TDWStoreLayoutState::Older;
}

bool TDWManagedObjectModel::validate(TDWError *error) const
{
    auto fail = [error](const QString &text) {
        tdwSetError(error, TDWStoreError::make(TDWStoreError::InvalidModel, text));
        return false;
    };
    QSet<QString> entityNames;
    for (const auto &entity : m_entities) {
        if (!isValidName(entity->name()) || entity->name().startsWith(QLatin1String("sqlite_"), Qt::CaseInsensitive)
            || entity->name().startsWith(QLatin1String("tdw_"), Qt::CaseInsensitive))
            return fail(QStringLiteral("Invalid entity name \"%1\"").arg(entity->name()));
        if (entityNames.contains(entity->name()))
            return fail(QStringLiteral("Duplicate entity \"%1\"").arg(entity->name()));
        entityNames.insert(entity->name());
    }
    for (auto it = m_earlierLayouts.constBegin(); it != m_earlierLayouts.constEnd(); ++it) {
        if (!hasConfiguration(it.key()) || it.key().isEmpty())
            return fail(QStringLiteral("Earlier layouts of unknown configuration \"%1\"").arg(it.key()));
        QSet<QString> hashes{versionHash(it.key())};
        for (const EarlierLayout &layout : it.value()) {
            // Two layouts with one hash could not be told apart by files written before numbering.
            if (hashes.contains(layout.versionHash) || !layout.step.apply)
                return fail(QStringLiteral("Earlier layout %1 of \"%2\" repeats a hash or has no step").arg(layout.versionHash, it.key()));
            hashes.insert(layout.versionHash);
        }
    }
    for (const auto &entity : m_entities) {
        QSet<QString> keys;
        auto addKey = [&](const QString &key) {
            if (!isValidName(key))
                return fail(QStringLiteral("Invalid property name \"%1.%2\"").arg(entity->name(), key));
            if (keys.contains(key))
                return fail(QStringLiteral("Duplicate property \"%1.%2\"").arg(entity->name(), key));
            keys.insert(key);
            return true;
        };
        for (const TDWAttributeDescription &attribute : entity->attributes()) {
            if (!addKey(attribute.name))
                return false;
            if (attribute.options.caseInsensitiveKey && attribute.type != TDWAttributeType::String)
                return fail(QStringLiteral("Case-insensitive key on non-string \"%1.%2\"").arg(entity->name(), attribute.name));
        }
        for (const TDWRelationshipDescription &relationship : entity->relationships()) {
            if (!addKey(relationship.name))
                return false;
            const TDWEntityDescription *destination = this->entity(relationship.destinationEntity);
            if (!destination)
                return fail(QStringLiteral("Unknown destination of \"%1.%2\"").arg(entity->name(), relationship.name));
            // A row only points at rows of its own store, so every store that can hold
            // the source must be able to hold the destination as well.
            for (const QString &configuration : entity->configurations())
                if (!destination->belongsToConfiguration(configuration))
                    return fail(QStringLiteral("\"%1.%2\" crosses configurations").arg(entity->name(), relationship.name));
            if (relationship.inverseName.isEmpty()) {
                if (relationship.toMany)
                    return fail(QStringLiteral("To-many \"%1.%2\" needs a to-one inverse").arg(entity->name(), relationship.name));
                continue;
            }
            const TDWRelationshipDescription *inverse = destination->relationship(relationship.inverseName);
            if (!inverse || inverse->inverseName != relationship.name || inverse->destinationEntity != entity->name())
                return fail(QStringLiteral("Inverse of \"%1.%2\" does not match").arg(entity->name(), relationship.name));
            if (inverse->toMany == relationship.toMany)
                return fail(QStringLiteral("\"%1.%2\" and its inverse must be one to-one and one to-many")
                                .arg(entity->name(), relationship.name));
        }
        for (const QStringList &index : entity->indexes()) {
            if (index.isEmpty())
                return fail(QStringLiteral("Empty index on \"%1\"").arg(entity->name()));
            for (QString key : index) {
                if (key == QLatin1String("pk"))
                    continue;
                const bool folded = key.endsWith(QLatin1String("[c]"));
                if (folded)
                    key.chop(3);
                const TDWAttributeDescription *attribute = entity->attribute(key);
                const TDWRelationshipDescription *relationship = entity->relationship(key);
                if ((!attribute && !(relationship && !relationship->toMany))
                    || (folded && !(attribute && attribute->options.caseInsensitiveKey)))
                    return fail(QStringLiteral("Index key \"%1.%2\" is not a stored key").arg(entity->name(), key));
            }
        }
    }
    return true;
}
