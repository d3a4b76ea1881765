#include "platform/foundation/TDWResources.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

// Sets an environment variable for one scope and restores it afterwards.
class EnvOverride
{
public:
    EnvOverride(const char *name, const QByteArray *value) : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
        value ? qputenv(name, *value) : qunsetenv(name);
    }
    ~EnvOverride() { m_had ? qputenv(m_name, m_old) : qunsetenv(m_name); }

private:
    const char *m_name;
    bool m_had;
    QByteArray m_old;
};

TEST(TDWResources, FindsFilesByNameAndTypeInTheOverriddenFolder)
{
    const QString dir = tdwtest::freshDir();
    for (const char *name : {"Config.plist", "LICENSE"}) {
        QFile file(QDir(dir).filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    QDir(dir).mkdir(QStringLiteral("folder.plist"));
    const QByteArray value = QFile::encodeName(dir);
    EnvOverride env("TIDEWELL_RESOURCES", &value);

    EXPECT_EQ(TDWResources::directory(), dir);
    const struct
    {
        const char *name;
        const char *type;
        QString expected;
    } rows[] = {
        {"Config", "plist", QDir(dir).filePath(QStringLiteral("Config.plist"))},
        {"LICENSE", "", QDir(dir).filePath(QStringLiteral("LICENSE"))},
        {"Config", "html", QString()},
        {"Missing", "plist", QString()},
        {"folder", "plist", QString()},
        {"", "plist", QString()},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(QStringLiteral("%1.%2").arg(QString::fromLatin1(row.name), QString::fromLatin1(row.type)).toStdString());
        EXPECT_EQ(TDWResources::path(QString::fromLatin1(row.name), QString::fromLatin1(row.type)), row.expected);
    }
}

TEST(TDWResources, FallsBackToTheSourceTreeWhenRunFromTheBuildFolder)
{
    // The test binary has no ../share/tidewell beside it, as for any build folder.
    EnvOverride env("TIDEWELL_RESOURCES", nullptr);
    EXPECT_EQ(TDWResources::directory(), QDir::cleanPath(tdwtest::sourcePath(QStringLiteral("resources"))));
}

} // namespace
