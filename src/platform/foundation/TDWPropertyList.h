#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/foundation/TDWPropertyListError.h"
#include "platform/foundation/TDWSafeFile.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

// XML property lists (version 1.0), the format of our settings, the service
// table and the small dictionaries stored beside backed-up files.
//
// Value mapping: <dict> QVariantMap, <array> QVariantList, <string> QString,
// <integer> qint64 (qulonglong above the signed range), <real> double,
// <true/>/<false/> bool, <date> QDateTime in UTC, <data> QByteArray.
//
// Reading never loads a DTD, never touches the network and refuses entity
// declarations, so hostile documents fail cleanly instead of expanding.
namespace TDWPropertyList {

// An invalid QVariant and an error when `data` is not a property list.
QVariant read(const QByteArray &data, TDWError *error);
QVariant readFile(const QString &path, TDWError *error);

// The XML document for `value`; empty, with an error, when some value inside
// has no property-list form (an invalid QVariant, an unknown type, a string
// with characters XML cannot carry). Dictionary keys are written sorted.
QByteArray write(const QVariant &value, TDWError *error);

// Writes atomically: the old file stays whole until the new one replaces it.
// `mode` as TDWSafeFile takes it.
bool writeFile(const QVariant &value, const QString &path, TDWError *error, int mode = TDWSafeFile::DefaultMode);

} // namespace TDWPropertyList
