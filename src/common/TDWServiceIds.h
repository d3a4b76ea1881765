#pragma once

#include <QString>

// The ids of the services, as the service table, the stores and the settings
// name them. Code that singles out one service compares against these.
namespace TDWServiceIds {

inline const QString Mail = QStringLiteral("mail");
inline const QString Docs = QStringLiteral("docs");
inline const QString Contacts = QStringLiteral("contacts");
inline const QString Calendar = QStringLiteral("calendar");
inline const QString Tasks = QStringLiteral("tasks");
inline const QString Reader = QStringLiteral("reader");
inline const QString PicasaWeb = QStringLiteral("picasaweb");

} // namespace TDWServiceIds
