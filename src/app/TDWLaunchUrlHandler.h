#pragma once

#include <QString>

// Makes this program the desktop's handler of the launch URL scheme, which
// the login launcher and a restart open to start or bring forward the
// application: the user's mimeapps.list names the installed handler entry as
// the scheme's default.
class TDWLaunchUrlHandler
{
public:
    static inline const QString Scheme = QStringLiteral("org.tidewell.Tidewell.launch");
    static inline const QString DesktopEntry = QStringLiteral("org.tidewell.Tidewell.launch.desktop");

    // True when the default is set (or already was); false, logged, when the
    // handler entry is not installed or the list cannot be written.
    static bool registerAsDefault();

    // The list with the scheme's default set to the handler entry, every
    // other line kept as it was.
    static QByteArray withDefaultHandler(const QByteArray &mimeAppsList);
};
