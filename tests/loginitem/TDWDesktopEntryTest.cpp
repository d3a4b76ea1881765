#include "loginitem/TDWDesktopEntry.h"

#include "AutostartFolder.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

TDWDesktopEntry parsed(const QByteArray &text)
{
    const std::optional<TDWDesktopEntry> entry = TDWDesktopEntry::parse(text);
    EXPECT_TRUE(entry.has_value()) << text.toStdString();
    return entry.value_or(TDWDesktopEntry());
}

} // namespace

// A program path with every character that Exec quoting or the string escapes
// treat specially reads back unchanged, and the line passes the reference validator.
TEST(TDWDesktopEntry, QuotedProgramReadsBackAndValidates)
{
    const QString folder = tdwtest::freshDir(QStringLiteral("exec"));
    const QString paths[] = {
        QStringLiteral("/usr/bin/tidewell-loginitem"),
        QStringLiteral("/opt/My Apps/tidewell-loginitem"),
        QStringLiteral("/opt/say \"hi\"/tidewell-loginitem"),
        QStringLiteral("/opt/back\\slash/tidewell-loginitem"),
        QStringLiteral("/opt/$HOME and `date`/tidewell-loginitem"),
        QStringLiteral("/opt/100% sure/%U/tidewell-loginitem"),
        QStringLiteral("/opt/it's; a | b & c > d/tidewell-loginitem"),
        QStringLiteral("/opt/Привет мир/tidewell-loginitem"),
    };
    for (const QString &path : paths) {
        const QString exec = TDWDesktopEntry::execValueForArgument(path);
        ASSERT_FALSE(exec.isEmpty()) << path.toStdString();
        const QByteArray text = "[Desktop Entry]\nType=Application\nName=Tidewell\nExec=" + exec.toUtf8() + "\n";
        EXPECT_EQ(parsed(text).execArguments(), QStringList{path}) << exec.toStdString();

        const QString file = QDir(folder).filePath(QStringLiteral("entry.desktop"));
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(text);
        out.close();
        EXPECT_EQ(desktopFileComplaints(file), QString()) << exec.toStdString();
    }
}

TEST(TDWDesktopEntry, ControlCharactersCannotBeQuoted)
{
    EXPECT_EQ(TDWDesktopEntry::execValueForArgument(QStringLiteral("/opt/a\nb/tidewell-loginitem")), QString());
    EXPECT_EQ(TDWDesktopEntry::execValueForArgument(QStringLiteral("/opt/a\tb")), QString());
}

TEST(TDWDesktopEntry, SplitsExecLines)
{
    struct Row
    {
        const char *line;
        std::optional<QStringList> arguments;
    };
    const Row rows[] = {
        {"Exec=tidewell", QStringList{"tidewell"}},
        {"Exec=  /usr/bin/tidewell   --hidden %U  ", QStringList{"/usr/bin/tidewell", "--hidden", "%U"}},
        {"Exec = \"/opt/My Apps/Tidewell\" -x", QStringList{"/opt/My Apps/Tidewell", "-x"}},
        {"Exec=\"/opt/a\\\\\\\\b/Tidewell\"", QStringList{"/opt/a\\b/Tidewell"}},
        {"Exec=\"/opt/\\\\$x/Tidewell\"", QStringList{"/opt/$x/Tidewell"}},
        {"Exec=/opt/a\"b c\"d/Tidewell", QStringList{"/opt/ab cd/Tidewell"}},
        {"Exec=/opt/50%%/Tidewell", QStringList{"/opt/50%/Tidewell"}},
        // The string escapes are undone before the line is split.
        {"Exec=/opt/tide\\swell", QStringList{"/opt/tide", "well"}},
        {"Exec=\"/opt/unterminated/Tidewell", std::nullopt},
        {"Exec=", std::nullopt},
        {"Exec=\"\" tidewell", std::nullopt},
        {"Name=No program here", std::nullopt},
    };
    for (const Row &row : rows) {
        const QByteArray text = QByteArray("[Desktop Entry]\n") + row.line + "\n";
        EXPECT_EQ(parsed(text).execArguments(), row.arguments) << row.line;
    }
}

TEST(TDWDesktopEntry, TellsWhetherTheSessionStartsIt)
{
    struct Row
    {
        const char *body;
        bool enabled;
    };
    const Row rows[] = {
        {"Exec=tidewell\n", true},
        {"Hidden=false\n", true},
        {"Hidden=true\n", false},
        {"Hidden = true\r\n", false},
        {"Hidden=1\n", false},
        {"X-GNOME-Autostart-enabled=false\n", false},
        {"X-GNOME-Autostart-enabled=true\n", true},
        {"Hidden[de]=true\n", true},
        {"Hidden=true\nHidden=false\n", true}, // the last value wins
        {"\n[Desktop Action quit]\nHidden=true\n", true},
        {"# Hidden=true\n", true},
    };
    for (const Row &row : rows) {
        const QByteArray text = QByteArray("[Desktop Entry]\nExec=tidewell\n") + row.body;
        EXPECT_EQ(parsed(text).isEnabled(), row.enabled) << row.body;
    }
}

TEST(TDWDesktopEntry, NeedsTheDesktopEntryGroup)
{
    EXPECT_FALSE(TDWDesktopEntry::parse("Exec=tidewell\n").has_value());
    EXPECT_FALSE(TDWDesktopEntry::parse("[Other]\nExec=tidewell\n").has_value());
    EXPECT_FALSE(TDWDesktopEntry::parse(QByteArray()).has_value());
    EXPECT_FALSE(TDWDesktopEntry::read(QDir(tdwtest::freshDir()).filePath(QStringLiteral("missing.desktop"))).has_value());
    EXPECT_EQ(parsed("# comment\n[Desktop Entry]\nName=A\\sB\n").value(QStringLiteral("Name")), QStringLiteral("A B"));
}
