#include "DiagnosticTestSupport.h"

#include "TestSupport.h"

#include "common/TDWFileMgr.h"
#include "services/TDWCurlOutputFiles.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QPixmap>
#include <QWidget>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

#include <gtest/gtest.h>

namespace diagtest {

QString normalized(const QString &report)
{
    QString text = report;
    const QList<QPair<QString, QString>> rules = {
        {QStringLiteral("Time to execute curl: [0-9.]+ seconds"), QStringLiteral("Time to execute curl: N seconds")},
        {QStringLiteral("\\.(headers|data)\\.[A-Za-z0-9]{6}\\.tmp"), QStringLiteral(".\\1.XXXXXX.tmp")},
        {QStringLiteral("(127\\.0\\.0\\.1|localhost):[0-9]+"), QStringLiteral("\\1:PORT")},
        {QStringLiteral("(?m)^Date: [A-Z][a-z]{2}, .*$"), QStringLiteral("Date: DATE")},
        {QStringLiteral("(?m)^Server: .*$"), QStringLiteral("Server: SERVER")},
        {QStringLiteral("timed out after [0-9]+ milliseconds"), QStringLiteral("timed out after N milliseconds")},
        // The fake stamps calendar events with the time of its start, and their etags follow.
        {QStringLiteral("\"(created|updated)\": \"[0-9T:.Z-]+\""), QStringLiteral("\"\\1\": \"TIME\"")},
        {QStringLiteral("(?m)^ETag: .*$"), QStringLiteral("ETag: ETAG")},
        {QStringLiteral("\"etag\": \"\\\\\"[0-9a-f]+\\\\\"\""), QStringLiteral("\"etag\": \"ETAG\"")},
    };
    for (const auto &[pattern, replacement] : rules)
        text.replace(QRegularExpression(pattern), replacement);
    return text;
}

void expectGolden(const QString &report, const QString &name)
{
    const QString path = tdwtest::sourcePath(QStringLiteral("tests/prefs/golden/%1.txt").arg(name));
    const QString text = normalized(report);
    if (qEnvironmentVariableIntValue("TDW_UPDATE_GOLDEN") == 1) {
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(text.toUtf8());
        return;
    }
    QFile in(path);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly)) << path.toStdString();
    EXPECT_EQ(text.toStdString(), QString::fromUtf8(in.readAll()).toStdString()) << name.toStdString();
}

QStringList tokenLeaks(tdwtest::FakeGoogleServer &fake)
{
    const QSet<QString> google = {QStringLiteral("www.googleapis.com"), QStringLiteral("www.google.com"), QStringLiteral("docs.google.com"),
                                  QStringLiteral("picasaweb.google.com")};
    QStringList leaks;
    for (const QJsonValue &value : fake.requests()) {
        const QJsonObject request = value.toObject();
        if (!request[QStringLiteral("headers")].toObject().contains(QStringLiteral("authorization")))
            continue;
        const QString scheme = request[QStringLiteral("scheme")].toString();
        const QString host = request[QStringLiteral("host")].toString();
        if (scheme != QLatin1String("https") || !google.contains(host))
            leaks << QStringLiteral("%1 %2 %3").arg(scheme, host, request[QStringLiteral("path")].toString());
    }
    return leaks;
}

int watchCurls(const std::function<void(const QByteArray &, const QByteArray &)> &look, const std::function<bool()> &done)
{
    QSet<QString> seen;
    tdwtest::waitUntil([&] {
        for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
            if (!cmdline.open(QIODevice::ReadOnly))
                continue;
            const QByteArray arguments = cmdline.readAll();
            if (!arguments.startsWith("/usr/bin/curl"))
                continue;
            QFile environ(QStringLiteral("/proc/%1/environ").arg(pid));
            const QByteArray environment = environ.open(QIODevice::ReadOnly) ? environ.readAll() : QByteArray();
            seen.insert(pid);
            look(arguments, environment);
        }
        return done();
    }, std::chrono::seconds(60));
    return int(seen.size());
}

void saveScreenshot(QWidget *window, const QString &name)
{
    const QString folder = qEnvironmentVariable("TDW_SCREENSHOT_DIR");
    if (folder.isEmpty())
        return;
    window->show();
    EXPECT_TRUE(window->grab().save(QDir(folder).filePath(name + QStringLiteral(".png"))));
}

QStringList curlTempFiles()
{
    return QDir(TDWFileMgr::tempPath()).entryList({TDWCurlOutputFiles::DiagnosticStem + QStringLiteral("*")}, QDir::Files | QDir::Hidden);
}

} // namespace diagtest
