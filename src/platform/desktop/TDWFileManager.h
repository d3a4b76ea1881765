#pragma once

#include <QDBusConnection>
#include <QString>

// The desktop's file manager: shows a file or folder selected in its parent
// folder, through the freedesktop FileManager1 interface on the session bus;
// where no file manager answers there, the parent folder is opened with the
// desktop's handler for folders. The call is asynchronous: nothing waits for
// a file manager that is slow to start.
class TDWFileManager
{
public:
    static inline const QString Service = QStringLiteral("org.freedesktop.FileManager1");
    static inline const QString Path = QStringLiteral("/org/freedesktop/FileManager1");

    static void revealItem(const QString &path, const QDBusConnection &bus = QDBusConnection::sessionBus());
};
