#include "app/TDWLaunchUrlHandler.h"

#include "common/TDWSettingsKeys.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWSafeFile.h"
#include "platform/foundation/TDWUserDefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace {
const QByteArray DefaultsGroup = QByteArrayLiteral("[Default Applications]");
}

QByteArray TDWLaunchUrlHandler::withDefaultHandler(const QByteArray &mimeAppsList)
{
    const QByteArray key = "x-scheme-handler/" + Scheme.toUtf8();
    const QByteArray entry = key + '=' + DesktopEntry.toUtf8();
    QList<QByteArray> lines = mimeAppsList.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();

    qsizetype group = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].trimmed() == DefaultsGroup) {
            group = i;
            break;
        }
    }
    if (group < 0) {
        if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
            lines.append(QByteArray());
        lines.append(DefaultsGroup);
        lines.append(entry);
        return lines.join('\n') + '\n';
    }
    qsizetype end = group + 1;
    while (end < lines.size() && !lines[end].trimmed().startsWith('['))
        ++end;
    for (qsizetype i = group + 1; i < end; ++i) {
        const QByteArray line = lines[i].trimmed();
        if (line.startsWith(key) && line.mid(key.size()).trimmed().startsWith('=')) {
            lines[i] = entry;
            return lines.join('\n') + '\n';
        }
    }
    // After the group's last entry, before any blank lines that end it.
    qsizetype insertAt = end;
    while (insertAt > group + 1 && lines[insertAt - 1].trimmed().isEmpty())
        --insertAt;
    lines.insert(insertAt, entry);
    return lines.join('\n') + '\n';
}

bool TDWLaunchUrlHandler::registerAsDefault()
{
    const QString failure = QStringLiteral("ERROR: Unable to set self as default launch protocol handler.");
    // A program run from its build folder has no installed entry to name. That
    // is how it is meant to be, not a failure: noted in the log once for each
    // copy of the program, and kept off the terminal.
    if (QStandardPaths::locate(QStandardPaths::ApplicationsLocation, DesktopEntry).isEmpty()) {
        const QString program = QCoreApplication::applicationFilePath();
        if (TDWUserDefaults::standard()->stringForKey(TDWSettingsKeys::LaunchHandlerNotInstalledNoted) != program) {
            TDWLog::fileLine(QStringLiteral("Unable to set self as default launch protocol handler."));
            TDWUserDefaults::standard()->setString(program, TDWSettingsKeys::LaunchHandlerNotInstalledNoted);
        }
        return false;
    }
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QString path = QDir(config).filePath(QStringLiteral("mimeapps.list"));
    QByteArray current;
    QFile file(path);
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly)) {
            tdwLog(failure);
            return false;
        }
        current = file.readAll();
        file.close();
    }
    const QByteArray updated = withDefaultHandler(current);
    if (updated == current)
        return true;
    TDWError error;
    if (!QDir().mkpath(config) || !TDWSafeFile::write(path, updated, &error)) {
        tdwLog(failure);
        return false;
    }
    return true;
}
