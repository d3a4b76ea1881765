// The shipped service table, read back by Python's plistlib (an independent
// property-list reader) and checked for the structure the program relies on.
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

QString resourcePath()
{
    return QDir(qEnvironmentVariable("TIDEWELL_RESOURCES")).filePath(QStringLiteral("Config.plist"));
}

struct CheckResult
{
    int exitCode = -1;
    QString output;
};

CheckResult runChecker(const QString &plistPath)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("python3"), {tdwtest::sourcePath(QStringLiteral("tests/app/check_config_plist.py")), plistPath});
    if (!process.waitForFinished(60000))
        return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, QString::fromUtf8(process.readAll())};
}

QByteArray shippedBytes()
{
    QFile file(resourcePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST(ConfigResource, ShippedTableHasTheStructureTheProgramReads)
{
    const CheckResult result = runChecker(resourcePath());
    EXPECT_EQ(result.exitCode, 0) << result.output.toStdString();
    EXPECT_TRUE(result.output.isEmpty()) << result.output.toStdString();
}

// Each row breaks the shipped table in one way; the checker must notice, so a
// passing run above means something.
TEST(ConfigResource, CheckerRejectsBrokenTables)
{
    struct Row
    {
        const char *what;
        const char *from;
        const char *to;
        const char *expected;
    };
    const Row rows[] = {
        {"duplicate service id", "<string>picasaweb</string>", "<string>mail</string>", "are not the seven services"},
        {"default throttle level missing", "<key>moderate</key>", "<key>medium</key>", "moderate is missing"},
        {"export type without description", "\t\t<key>word</key>\n\t\t<dict>\n\t\t\t<key>description", "\t\t<key>worde</key>\n\t\t<dict>\n\t\t\t<key>description", "word is not in exporttypes"},
        {"list folder removed at launch", "<string>readerlists</string>", "<string>readerlistxml</string>", "uses for something else"},
        {"endpoint off Google", "https://www.googleapis.com/drive/v2/about", "https://example.com/drive/v2/about", "not an https URL on a Google host"},
        {"month missing", "<string>December</string>", "", "Months: needs 13 strings"},
        {"document type missing", "<string>calendarmeta</string>", "<string>calendar-meta</string>", "calendarmeta is missing"},
        {"All Mail not required", "<string>All Mail</string>\n\t\t\t<key>required</key>\n\t\t\t<true/>", "<string>All Mail</string><key>required</key><false/>", "AllMail]: must be required"},
        {"not a property list", "</plist>", "", "unreadable"},
    };
    const QByteArray shipped = shippedBytes();
    ASSERT_FALSE(shipped.isEmpty());
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        QByteArray broken = shipped;
        ASSERT_TRUE(broken.contains(row.from));
        broken.replace(row.from, row.to);
        const QString path = QDir(tdwtest::freshDir(QStringLiteral("config"))).filePath(QStringLiteral("Config.plist"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(broken);
        file.close();

        const CheckResult result = runChecker(path);
        EXPECT_EQ(result.exitCode, 1) << result.output.toStdString();
        EXPECT_TRUE(result.output.contains(QLatin1String(row.expected))) << result.output.toStdString();
    }
}
