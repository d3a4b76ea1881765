#include "platform/store/TDWStoreSchema.h"

#include "platform/store/TDWManagedObjectModel.h"
#include "platform/store/TDWSqlValueCodec.h"
#include "platform/store/TDWSqliteConnection.h"
#include "platform/store/TDWStoreMetadataKeys.h"

namespace {

const char *columnType(TDWAttributeType type)
{
    switch (type) {
    case TDWAttributeType::String:
    case TDWAttributeType::Json:
        return "TEXT";
    case TDWAttributeType::Integer:
    case TDWAttributeType::Boolean:
        return "INTEGER";
    case TDWAttributeType::Double:
    case TDWAttributeType::Date:
        return "REAL";
    case TDWAttributeType::Binary:
        return "BLOB";
    }
    return "";
}

QString indexColumn(const TDWEntityDescription &entity, QString key, QString *namePart)
{
    if (key == QLatin1String("pk")) {
        *namePart = key;
        return key;
    }
    if (key.endsWith(QLatin1String("[c]"))) {
        key.chop(3);
        *namePart = key + QStringLiteral("__ci");
        return TDWStoreSchema::quoted(entity.attribute(key)->caseInsensitiveColumn());
    }
    *namePart = key;
    return TDWStoreSchema::quoted(key);
}

} // namespace

QString TDWStoreSchema::quoted(const QString &identifier)
{
    // Model names are validated to letters, digits and "_", so no escaping is needed.
    return QLatin1Char('"') + identifier + QLatin1Char('"');
}

QString TDWStoreSchema::tableName(const TDWEntityDescription &entity)
{
    return quoted(entity.name());
}

QString TDWStoreSchema::selectList(const TDWEntityDescription &entity, const QString &alias)
{
    QString sql = alias + QStringLiteral(".pk");
    for (int slot = 0; slot < entity.slotCount(); ++slot)
        sql += QStringLiteral(", ") + alias + QLatin1Char('.') + quoted(entity.columnForSlot(slot));
    return sql;
}

QStringList TDWStoreSchema::columnsForSlot(const TDWEntityDescription &entity, int slot)
{
    QStringList columns{quoted(entity.columnForSlot(slot))};
    const int attribute = entity.slot(slot).attribute;
    if (attribute >= 0 && entity.attributes()[attribute].options.caseInsensitiveKey)
        columns.append(quoted(entity.attributes()[attribute].caseInsensitiveColumn()));
    return columns;
}

QString TDWStoreSchema::insertSql(const TDWEntityDescription &entity)
{
    QStringList columns{QStringLiteral("pk")};
    for (int slot = 0; slot < entity.slotCount(); ++slot)
        columns.append(columnsForSlot(entity, slot));
    const QStringList marks(columns.size(), QStringLiteral("?"));
    return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)").arg(tableName(entity), columns.join(QStringLiteral(", ")), marks.join(QLatin1Char(',')));
}

QVariantMap TDWStoreSchema::readMetadata(TDWSqliteConnection &connection, TDWError *error)
{
    TDWSqliteStatement exists =
        connection.prepare(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'tdw_metadata'"), error);
    if (!exists.isValid())
        return {};
    const TDWSqliteStatement::StepResult found = exists.step(error);
    if (found == TDWSqliteStatement::Failed)
        return {};
    if (found == TDWSqliteStatement::Done)
        return {};
    TDWSqliteStatement select = connection.prepare(QStringLiteral("SELECT key, value FROM tdw_metadata"), error);
    if (!select.isValid())
        return {};
    QVariantMap metadata;
    for (;;) {
        const TDWSqliteStatement::StepResult result = select.step(error);
        if (result == TDWSqliteStatement::Failed)
            return {};
        if (result == TDWSqliteStatement::Done)
            break;
        metadata.insert(select.textAt(0), select.storageValueAt(1));
    }
    return metadata;
}

bool TDWStoreSchema::writeMetadata(TDWSqliteConnection &connection, const QVariantMap &metadata, TDWError *error)
{
    TDWSqliteStatement upsert = connection.prepare(QStringLiteral("INSERT OR REPLACE INTO tdw_metadata (key, value) VALUES (?, ?)"), error);
    TDWSqliteStatement remove = connection.prepare(QStringLiteral("DELETE FROM tdw_metadata WHERE key = ?"), error);
    if (!upsert.isValid() || !remove.isValid())
        return false;
    for (auto it = metadata.constBegin(); it != metadata.constEnd(); ++it) {
        TDWSqliteStatement &statement = it.value().isNull() ? remove : upsert;
        statement.bindText(1, it.key());
        if (!it.value().isNull())
            statement.bindValue(2, it.value());
        if (!statement.execute(error))
            return false;
    }
    return true;
}

bool TDWStoreSchema::isEmpty(TDWSqliteConnection &connection, bool *empty, TDWError *error)
{
    TDWSqliteStatement count = connection.prepare(QStringLiteral("SELECT count(*) FROM sqlite_master"), error);
    if (!count.isValid() || count.step(error) != TDWSqliteStatement::Row)
        return false;
    *empty = count.int64At(0) == 0;
    return true;
}

QStringList TDWStoreSchema::indexStatements(const TDWManagedObjectModel &model, const QString &configuration, QStringList *names)
{
    QStringList statements;
    auto add = [&](const TDWEntityDescription &entity, const QStringList &keys) {
        QStringList nameParts{entity.name()};
        QStringList columns;
        for (const QString &key : keys) {
            QString part;
            columns.append(indexColumn(entity, key, &part));
            nameParts.append(part);
        }
        const QString name = nameParts.join(QLatin1Char('_'));
        if (names->contains(name))
            return;
        names->append(name);
        statements.append(QStringLiteral("CREATE INDEX %1 ON %2 (%3)").arg(quoted(name), tableName(entity), columns.join(QStringLiteral(", "))));
    };
    for (const TDWEntityDescription *entity : model.entitiesForConfiguration(configuration)) {
        for (const QStringList &index : entity->indexes())
            add(*entity, index);
        for (const TDWAttributeDescription &attribute : entity->attributes())
            if (attribute.options.indexed)
                add(*entity, {attribute.name});
        // Every to-one column is searched by its to-many inverse and by the foreign-key
        // check when a destination row is deleted; a compound index that starts with
        // the column serves as well.
        for (const TDWRelationshipDescription &relationship : entity->relationships()) {
            if (relationship.toMany)
                continue;
            bool covered = false;
            for (const QStringList &index : entity->indexes())
                covered = covered || index.first() == relationship.name;
            if (!covered)
                add(*entity, {relationship.name});
        }
    }
    return statements;
}

bool TDWStoreSchema::create(TDWSqliteConnection &connection, const TDWManagedObjectModel &model, const QString &configuration,
                            const QString &storeIdentifier, TDWError *error)
{
    QStringList statements{QStringLiteral("CREATE TABLE tdw_metadata (key TEXT PRIMARY KEY, value)")};
    for (const TDWEntityDescription *entity : model.entitiesForConfiguration(configuration)) {
        QStringList columns{QStringLiteral("pk INTEGER PRIMARY KEY AUTOINCREMENT")};
        for (const TDWAttributeDescription &attribute : entity->attributes()) {
            columns.append(quoted(attribute.column()) + QLatin1Char(' ') + QLatin1String(columnType(attribute.type)));
            if (attribute.options.caseInsensitiveKey)
                columns.append(quoted(attribute.caseInsensitiveColumn()) + QStringLiteral(" TEXT"));
        }
        for (const TDWRelationshipDescription &relationship : entity->relationships()) {
            if (relationship.toMany)
                continue;
            // Deferred, so rows of one save may be written in any order; a save that
            // would leave a row pointing at a deleted row fails instead of dangling.
            columns.append(QStringLiteral("%1 INTEGER REFERENCES %2(pk) DEFERRABLE INITIALLY DEFERRED")
                               .arg(quoted(relationship.column()), quoted(relationship.destinationEntity)));
        }
        statements.append(QStringLiteral("CREATE TABLE %1 (%2)").arg(tableName(*entity), columns.join(QStringLiteral(", "))));
        // The sequence row exists from the start so row ids can be reserved before the first insert.
        statements.append(QStringLiteral("INSERT INTO sqlite_sequence (name, seq) VALUES ('%1', 0)").arg(entity->name()));
    }
    QStringList indexNames;
    statements.append(indexStatements(model, configuration, &indexNames));
    for (const QString &statement : std::as_const(statements))
        if (!connection.exec(statement, error))
            return false;
    const QVariantMap metadata{
        {TDWStoreMetadataKeys::Configuration, configuration},
        {TDWStoreMetadataKeys::StoreIdentifier, storeIdentifier},
        {TDWStoreMetadataKeys::ModelVersion, model.versionIdentifier()},
        {TDWStoreMetadataKeys::VersionHash, model.versionHash(configuration)},
        {TDWStoreMetadataKeys::IndexHash, model.indexHash(configuration)},
        {TDWStoreMetadataKeys::LayoutVersion, model.layoutVersion(configuration)},
    };
    return writeMetadata(connection, metadata, error);
}

bool TDWStoreSchema::rebuildIndexes(TDWSqliteConnection &connection, const TDWManagedObjectModel &model, const QString &configuration,
                                    TDWError *error)
{
    QStringList existing;
    {
        TDWSqliteStatement list = connection.prepare(
            QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'index' AND sql IS NOT NULL"), error);
        if (!list.isValid())
            return false;
        for (;;) {
            const TDWSqliteStatement::StepResult result = list.step(error);
            if (result == TDWSqliteStatement::Failed)
                return false;
            if (result == TDWSqliteStatement::Done)
                break;
            existing.append(list.textAt(0));
        }
    }
    for (const QString &name : std::as_const(existing))
        if (!connection.exec(QStringLiteral("DROP INDEX %1").arg(quoted(name)), error))
            return false;
    QStringList names;
    for (const QString &statement : indexStatements(model, configuration, &names))
        if (!connection.exec(statement, error))
            return false;
    return writeMetadata(connection, {{TDWStoreMetadataKeys::IndexHash, model.indexHash(configuration)}}, error);
}

bool TDWStoreSchema::addAttributeColumns(TDWSqliteConnection &connection, const TDWEntityDescription &entity,
                                         const TDWAttributeDescription &attribute, TDWError *error)
{
    if (!connection.exec(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3")
                             .arg(tableName(entity), quoted(attribute.column()), QLatin1String(columnType(attribute.type))),
                         error))
        return false;
    if (attribute.options.defaultValue.isValid()) {
        TDWSqliteStatement fill = connection.prepare(QStringLiteral("UPDATE %1 SET %2 = ?").arg(tableName(entity), quoted(attribute.column())), error);
        if (!fill.isValid())
            return false;
        fill.bindAttributeValue(1, attribute.options.defaultValue, attribute.type);
        if (!fill.execute(error))
            return false;
    }
    return !attribute.options.caseInsensitiveKey || addFoldedColumn(connection, entity, attribute, error);
}

bool TDWStoreSchema::addFoldedColumn(TDWSqliteConnection &connection, const TDWEntityDescription &entity, const TDWAttributeDescription &attribute,
                                     TDWError *error)
{
    const QString table = tableName(entity);
    if (!connection.exec(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 TEXT").arg(table, quoted(attribute.caseInsensitiveColumn())), error))
        return false;
    // Folded the way saves fold them (not by SQL's lower()), so lookups match.
    TDWSqliteStatement rows = connection.prepare(
        QStringLiteral("SELECT pk, %1 FROM %2 WHERE %1 IS NOT NULL").arg(quoted(attribute.column()), table), error);
    TDWSqliteStatement update =
        connection.prepare(QStringLiteral("UPDATE %1 SET %2 = ? WHERE pk = ?").arg(table, quoted(attribute.caseInsensitiveColumn())), error);
    if (!rows.isValid() || !update.isValid())
        return false;
    for (;;) {
        const TDWSqliteStatement::StepResult result = rows.step(error);
        if (result == TDWSqliteStatement::Failed)
            return false;
        if (result == TDWSqliteStatement::Done)
            return true;
        update.bindText(1, TDWSqlValueCodec::caseFolded(rows.textAt(1)));
        update.bindInt64(2, rows.int64At(0));
        if (!update.execute(error))
            return false;
    }
}
