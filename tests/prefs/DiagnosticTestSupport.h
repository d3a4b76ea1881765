#pragma once

#include "FakeGoogleServer.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace diagtest {

// A report with what changes from run to run replaced: curl's times, the
// unique part of the temporary file names, the fake's ports, and the date and
// server lines of its answers.
QString normalized(const QString &report);

// Compares the normalised report with tests/prefs/golden/<name>.txt; with
// TDW_UPDATE_GOLDEN=1 in the environment, writes the file instead.
void expectGolden(const QString &report, const QString &name);

// Requests the fake logged that carried an Authorization header where only
// an https Google host on the default port may get one, as "scheme host path".
QStringList tokenLeaks(tdwtest::FakeGoogleServer &fake);

// Calls `look` with the command line and environment of every running
// /usr/bin/curl until `done` answers true; how many curls it saw.
int watchCurls(const std::function<void(const QByteArray &cmdline, const QByteArray &environ)> &look, const std::function<bool()> &done);

// With TDW_SCREENSHOT_DIR set, saves a picture of the window there as <name>.png.
void saveScreenshot(QWidget *window, const QString &name);

// The diagnostics' temporary files in the program's temporary folder.
QStringList curlTempFiles();

} // namespace diagtest
