#pragma once

#include "platform/foundation/TDWError.h"

#include <QString>
#include <QStringList>
#include <QVariantMap>

class TDWManagedObjectModel;
class TDWEntityDescription;
struct TDWAttributeDescription;
class TDWSqliteConnection;

// The SQL layout of a store file: one table per entity of its configuration (row
// id "pk" INTEGER PRIMARY KEY AUTOINCREMENT, one column per attribute and to-one
// relationship, a hidden case-folded column per attribute that asks for one), the
// indexes, and the metadata table "tdw_metadata" (configuration, store identifier,
// model version, layout and index hashes, and the caller's own keys).
class TDWStoreSchema
{
public:
    static QString quoted(const QString &identifier);
    static QString tableName(const TDWEntityDescription &entity);
    // "t.pk, t."a", t."b", ..." in slot order, for the given table alias.
    static QString selectList(const TDWEntityDescription &entity, const QString &alias);
    // Columns written for a slot: its own, and the case-folded copy of a string that keeps one.
    static QStringList columnsForSlot(const TDWEntityDescription &entity, int slot);
    // INSERT of a whole row: the row id, then the columns of every slot in order.
    static QString insertSql(const TDWEntityDescription &entity);

    // Reads tdw_metadata; an empty map with no error when the file has no such table.
    static QVariantMap readMetadata(TDWSqliteConnection &connection, TDWError *error);
    // Writes keys into tdw_metadata inside the caller's transaction.
    static bool writeMetadata(TDWSqliteConnection &connection, const QVariantMap &metadata, TDWError *error);
    // Whether the file holds no table at all (a new, empty file).
    static bool isEmpty(TDWSqliteConnection &connection, bool *empty, TDWError *error);

    // Creates tables, indexes and metadata of a configuration inside the caller's transaction.
    static bool create(TDWSqliteConnection &connection, const TDWManagedObjectModel &model, const QString &configuration,
                       const QString &storeIdentifier, TDWError *error);
    // Replaces our indexes with the ones the model now declares (inside the caller's transaction).
    static bool rebuildIndexes(TDWSqliteConnection &connection, const TDWManagedObjectModel &model, const QString &configuration,
                               TDWError *error);

    // Adds the column of an attribute to the entity's table, and its folded column
    // when it keeps one; existing rows get the attribute's default value (inside the
    // caller's transaction).
    static bool addAttributeColumns(TDWSqliteConnection &connection, const TDWEntityDescription &entity,
                                    const TDWAttributeDescription &attribute, TDWError *error);
    // Adds the folded column of an existing string attribute and fills it from the stored texts.
    static bool addFoldedColumn(TDWSqliteConnection &connection, const TDWEntityDescription &entity, const TDWAttributeDescription &attribute,
                                TDWError *error);

private:
    static QStringList indexStatements(const TDWManagedObjectModel &model, const QString &configuration, QStringList *names);
};
