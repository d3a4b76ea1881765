// The text base of the vCard and iCalendar writers: escaping, folding, and
// replacing a file without ever losing the old one.
#include "services/TDWCardCalWriter.h"

#include "FileSizeLimit.h"
#include "TestSupport.h"
#include "WriterTestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

// The base's protected helpers, as its subclasses use them.
class Writer : public TDWCardCalWriter
{
public:
    using TDWCardCalWriter::appendUnfolded;
    using TDWCardCalWriter::replaceBackupFile;
    using TDWCardCalWriter::withoutLineBreaks;
};

QString folded(const QString &line)
{
    Writer writer;
    writer.addLine(line);
    return writer.contents();
}

QString repeated(char c, int count)
{
    return QString(count, QLatin1Char(c));
}

TEST(TDWCardCalWriter, EscapesValuesStepByStep)
{
    struct Case
    {
        QString value, expected;
    };
    const Case cases[] = {
        {QString(), QStringLiteral("")},
        {QStringLiteral("plain"), QStringLiteral("plain")},
        {QStringLiteral("a\\nb"), QStringLiteral("a\\\\nb")},
        {QStringLiteral("a\nb"), QStringLiteral("a\\nb")},
        {QStringLiteral("a\r\nb"), QStringLiteral("a\\nb")},
        {QStringLiteral("a\rb\n\rc"), QStringLiteral("a\\nb\\n\\nc")},
        {QStringLiteral("x;y,z:w"), QStringLiteral("x\\;y\\,z:w")},
        {QStringLiteral("\\;"), QStringLiteral("\\\\\\;")},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Writer::escape(c.value), c.expected) << qPrintable(c.value);
    EXPECT_FALSE(Writer::escape(QString()).isNull());
    EXPECT_FALSE(Writer::valueOrBlank(QString()).isNull());
    EXPECT_EQ(Writer::valueOrBlank(QStringLiteral("v")), QStringLiteral("v"));
}

TEST(TDWCardCalWriter, UnescapedValuesKeepEverythingButLineBreaks)
{
    EXPECT_EQ(Writer::withoutLineBreaks(QStringLiteral("1980-01-02\r\nEND:VCARD\nX;y,z\\")),
              QStringLiteral("1980-01-02\\nEND:VCARD\\nX;y,z\\"));
    EXPECT_EQ(Writer::withoutLineBreaks(QString()), QStringLiteral(""));
}

TEST(TDWCardCalWriter, FoldsAfterSeventyFiveUnitsButNeverAfterABackslash)
{
    const QString a75 = repeated('a', 75), a74 = repeated('a', 74);
    struct Case
    {
        const char *name;
        QString line, expected;
    };
    const Case cases[] = {
        {"empty line", QString(), QStringLiteral("\r\n")},
        {"75 units unfolded", a75, a75 + "\r\n"},
        {"76 units", a75 + "b", a75 + "\r\n b\r\n"},
        {"200 units", repeated('a', 200), a75 + "\r\n " + a75 + "\r\n " + repeated('a', 50) + "\r\n"},
        {"75th is a backslash", a74 + "\\nrest", a74 + "\\n\r\n rest\r\n"},
        {"backslash run", a74 + "\\\\\\x", a74 + "\\\\\\x\r\n"},
        {"backslash run then more", a74 + "\\\\yz", a74 + "\\\\y\r\n z\r\n"},
        {"ends in a backslash at the fold", a74 + "\\\\", a74 + "\\\\\r\n"},
        {"continuations fold too", a75 + a74 + "\\nq", a75 + "\r\n " + a74 + "\\n\r\n q\r\n"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(folded(c.line), c.expected) << c.name;
}

// Each physical line must be text on its own: a pair cut in two is no
// character, and gives no valid UTF-8 in the written file.
TEST(TDWCardCalWriter, FoldsOnCharacterBoundaries)
{
    const QString face = QString::fromUtf8("\xF0\x9F\x98\x80"); // two UTF-16 units
    EXPECT_EQ(folded(repeated('a', 74) + face + "b"), repeated('a', 74) + face + "\r\n b\r\n");

    for (int prefix = 0; prefix < 4; ++prefix) {
        QString line = repeated('a', prefix);
        for (int i = 0; i < 120; ++i)
            line += (i % 3 == 0 ? QStringLiteral("\\") : QString()) + face + QString::fromUtf8("\xC3\xA9");
        const QString text = folded(line);
        ASSERT_TRUE(text.endsWith(QStringLiteral("\r\n")));
        const QStringList physical = text.chopped(2).split(QStringLiteral("\r\n"));
        QString unfolded;
        for (int i = 0; i < physical.size(); ++i) {
            const QString &part = physical[i];
            EXPECT_EQ(QString::fromUtf8(part.toUtf8()), part) << "prefix " << prefix << " line " << i << " splits a pair";
            EXPECT_LE(part.size(), i == 0 ? 77 : 78);
            if (i > 0) {
                ASSERT_TRUE(part.startsWith(u' '));
                EXPECT_GT(part.size(), 1) << "an empty continuation line";
            }
            unfolded += i == 0 ? part : part.mid(1);
        }
        EXPECT_EQ(unfolded, line);
    }
}

TEST(TDWCardCalWriter, UnfoldedTextIsAppendedAsItStands)
{
    Writer writer;
    writer.addLine(QStringLiteral("PHOTO"));
    writer.appendUnfolded(QStringLiteral("  ") + repeated('A', 100) + "\r\n");
    EXPECT_EQ(writer.contents(), QStringLiteral("PHOTO\r\n  ") + repeated('A', 100) + "\r\n");
}

TEST(TDWCardCalWriter, ReplacesAnExistingLockedFile)
{
    const QString folder = tdwtest::freshDir(QStringLiteral("writer"));
    const QString path = QDir(folder).filePath(QStringLiteral("card.vcf"));
    ASSERT_TRUE(writertest::writeFile(path, "old"));
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup));

    Writer writer;
    writer.addLine(QString::fromUtf8("FN:J\xC3\xB6rg"));
    tdwtest::LogCapture log;
    TDWError error;
    ASSERT_TRUE(writer.replaceBackupFile(path, &error)) << qPrintable(error.description());
    EXPECT_EQ(writertest::readAll(path), QByteArray("FN:J\xC3\xB6rg\r\n"));
    EXPECT_TRUE(QFileInfo(path).permissions() & QFileDevice::WriteOwner) << "left locked";
    EXPECT_EQ(log.lines(), QStringList{QStringLiteral("Backup file already exists at %1. Replacing it.").arg(path)});
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("card.vcf")});
}

TEST(TDWCardCalWriter, AFailedWriteKeepsTheOldFile)
{
    const QString folder = tdwtest::freshDir(QStringLiteral("writer"));
    const QString path = QDir(folder).filePath(QStringLiteral("card.vcf"));
    ASSERT_TRUE(writertest::writeFile(path, "old card"));
    Writer writer;
    writer.addLine(repeated('x', 5000));
    TDWError error;
    {
        FileSizeLimit limit(1024);
        EXPECT_FALSE(writer.replaceBackupFile(path, &error));
    }
    EXPECT_FALSE(error.description().isEmpty());
    EXPECT_EQ(writertest::readAll(path), QByteArray("old card"));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("card.vcf")});

    EXPECT_FALSE(writer.replaceBackupFile(QDir(folder).filePath(QStringLiteral("no such folder/card.vcf")), &error));
}

} // namespace
