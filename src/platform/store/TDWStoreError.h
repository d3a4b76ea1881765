#pragma once

#include "platform/foundation/TDWError.h"

// Errors of the object store, in the domain "TDWStoreErrorDomain".
namespace TDWStoreError {

inline const QString Domain = QStringLiteral("TDWStoreErrorDomain");

enum Code : qint64 {
    Sqlite = 1,               // SQLite reported a failure; userInfo "sqliteCode" holds its extended code
    IncompatibleVersion = 2,  // the file was written with another model layout or configuration
    NotAStore = 3,            // the file is not one of our stores
    InvalidModel = 4,         // the model declarations are inconsistent
    UnknownConfiguration = 5, // the configuration is not part of the model
    StoreNotFound = 6,        // no store of the coordinator holds the object or entity
    ObjectNotFound = 7,       // the object's row does not exist (deleted, or never saved)
    Validation = 8,           // a save was refused: delete rule Deny, objects of different stores linked, ...
    ReadOnly = 9,             // a write was attempted on a store opened read-only
    StoreRemoved = 10,        // the store has been removed from its coordinator
    FileOperation = 11,       // a store file could not be deleted or created
    InvalidArgument = 12,     // a key, entity or identifier that does not exist
    OlderLayout = 13,         // the file has an earlier layout of the model: migrate it before opening
    NewerLayout = 14,         // the file was written with a later layout, by a newer program; it is left as it is
};

inline TDWError make(Code code, const QString &description, QVariantMap userInfo = {})
{
    return TDWError::withDescription(Domain, code, description, std::move(userInfo));
}

} // namespace TDWStoreError
