#pragma once

#include <QString>

// Keys of the metadata every store file carries in its table "tdw_metadata".
// Callers may add keys of their own; these are written by the store itself.
namespace TDWStoreMetadataKeys {

inline const QString Configuration = QStringLiteral("configuration");
inline const QString StoreIdentifier = QStringLiteral("storeIdentifier");
inline const QString ModelVersion = QStringLiteral("modelVersion");
inline const QString VersionHash = QStringLiteral("versionHash");
inline const QString IndexHash = QStringLiteral("indexHash");
// The number of the layout among the configuration's known layouts (1 = the
// first); files written before numbers were kept have none and are told by
// their version hash.
inline const QString LayoutVersion = QStringLiteral("layoutVersion");

} // namespace TDWStoreMetadataKeys
