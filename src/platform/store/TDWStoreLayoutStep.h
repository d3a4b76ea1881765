#pragma once

#include "platform/foundation/TDWError.h"

#include <QString>
#include <QStringList>

#include <functional>

class TDWManagedObjectModel;
class TDWSqliteConnection;

// What turns a store file of one layout version of a configuration into the
// next. The model keeps one per earlier layout (see
// TDWManagedObjectModel::addEarlierLayout); TDWStoreLayoutMigrator runs them in
// order.
//
// An in-place step runs in one transaction of the file itself, with foreign-key
// enforcement off (so a table may be rebuilt) and the foreign-key check run
// before the commit: a kill or a failure leaves the file at its old version.
// A rebuild step is for changes SQLite cannot make inside a transaction (VACUUM,
// page size): it runs, outside any transaction, on a copy of the file that then
// replaces the file in one rename.
struct TDWStoreLayoutStep
{
    using Apply = std::function<bool(TDWSqliteConnection &connection, const TDWManagedObjectModel &model, TDWError *error)>;

    Apply apply;
    bool rebuild = false;

    // The common step: attributes the current model declares on an entity are added
    // as columns (with their case-folded column where they keep one), existing rows
    // getting the attribute's default value and their folded texts.
    static TDWStoreLayoutStep addingAttributes(const QString &entity, const QStringList &attributes);
    // A folded column for an existing string attribute that now keeps one, filled
    // from the stored texts.
    static TDWStoreLayoutStep addingFoldedColumn(const QString &entity, const QString &attribute);
};
