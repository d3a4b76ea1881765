// The vCard writer: each section from a small entry, values from the server
// that must not break the card, the old file kept on failure, and a whole
// address book read back by an independent vCard reader.
#include "services/TDWCardWriter.h"

#include "WriterFixture.h"
#include "WriterTestFiles.h"
#include "FileSizeLimit.h"
#include "ParserTestSupport.h"
#include "TestSupport.h"

#include "platform/foundation/TDWFileLock.h"
#include "services/TDWDocListParser.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

class TDWCardWriterTest : public WriterFixture
{
protected:
    // The card written for an entry holding `inner`, as text; empty when none was written.
    QString card(const QString &inner, const QString &title = QStringLiteral("Title"), const QByteArray &photo = {},
                 const QString &photoType = {})
    {
        const TDWDocRev::Ptr rev = revision(QStringLiteral("c%1").arg(++m_count), QStringLiteral("<entry>") + inner + QStringLiteral("</entry>"), title);
        TDWCardWriter writer(rev);
        if (!photo.isNull())
            writer.setImageData(photo, photoType);
        if (!writer.writeContactFile())
            return {};
        return QString::fromUtf8(writertest::readAll(onDisk(rev)));
    }

    static QString cardOf(const QStringList &lines)
    {
        return QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\n") + lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\nEND:VCARD\r\n");
    }

    int m_count = 0;
};

TEST_F(TDWCardWriterTest, WritesEachSectionAsAddressBooksImportIt)
{
    struct Case
    {
        const char *name;
        QString inner;
        QStringList lines;
        QString title = QStringLiteral("Title");
    };
    const QString gd = QStringLiteral("http://schemas.google.com/g/2005#");
    const Case cases[] = {
        {"title only", QString(), {QStringLiteral("N:Acme\\, Inc\\; Sons")}, QStringLiteral("Acme, Inc; Sons")},
        {"company without a name",
         QStringLiteral("<gd:organization><gd:orgName>Acme</gd:orgName><gd:orgTitle>Boss</gd:orgTitle></gd:organization>"),
         {"N:Acme", "ORG:Acme;", "TITLE:Boss", "X-ABShowAs:COMPANY"},
         QStringLiteral("Acme")},
        {"name parts and an empty full name",
         QStringLiteral("<gd:name><gd:givenName>A</gd:givenName><gd:familyName>B</gd:familyName><gd:nameSuffix>Jr.</gd:nameSuffix></gd:name>"
                        "<gContact:nickname>Al</gContact:nickname><gd:organization><gd:orgName>X</gd:orgName></gd:organization>"),
         {"N:B;A;;;Jr.", "FN:", "NICKNAME:Al", "ORG:X;"}},
        {"groups numbered across kinds",
         QStringLiteral("<gd:email label='one' address='a@x'/><gd:email label='two' address='b@x' primary='true'/>"
                        "<gd:structuredPostalAddress rel='%1home'><gd:street>S</gd:street></gd:structuredPostalAddress>")
             .arg(gd),
         {"N:Title", "item1.EMAIL:a@x", "item1.X-ABLabel:one", "item2.EMAIL:b@x", "item2.X-ABLabel:two", "item3.ADR;type=HOME:;;S;;;;"}},
        {"mapped and unmapped e-mail",
         QStringLiteral("<gd:email rel='%1work' address='w@x' primary='true'/><gd:email rel='%1other' address='o@x' primary='true'/>").arg(gd),
         {"N:Title", "EMAIL;type=WORK;type=pref:w@x", "item1.EMAIL;type=pref:o@x", "item1.X-ABLabel:_$!<Other>!$_"}},
        {"phones", QStringLiteral("<gd:phoneNumber rel='%1home_fax'>1</gd:phoneNumber><gd:phoneNumber rel='%1car'>2</gd:phoneNumber>"
                                  "<gd:phoneNumber label='Boat'>3</gd:phoneNumber>").arg(gd),
         {"N:Title", "TEL;type=HOME;type=FAX:1", "item1.TEL:2", "item1.X-ABLabel:_$!<Other>!$_", "item2.TEL:3", "item2.X-ABLabel:Boat"}},
        {"addresses without rel",
         QStringLiteral("<gd:structuredPostalAddress><gd:city>C</gd:city></gd:structuredPostalAddress>"
                        "<gd:structuredPostalAddress label='Cabin'><gd:street>1 Road</gd:street><gd:pobox>Box 2</gd:pobox>"
                        "<gd:postcode>9</gd:postcode></gd:structuredPostalAddress>"),
         {"N:Title", "item1.X-ABLabel:", "item1.ADR:;;;C;;;", "item2.X-ABLabel:Cabin", "item2.ADR:;;1 Road\\nBox 2;;;9;"}},
        {"free-text address",
         QStringLiteral("<gd:structuredPostalAddress rel='%1work'><gd:formattedAddress>1 Road\nTown</gd:formattedAddress>"
                        "</gd:structuredPostalAddress>").arg(gd),
         {"N:Title", "item1.ADR;type=WORK:;;1 Road\\nTown;;;;"}},
        {"instant messaging",
         QStringLiteral("<gd:im address='jo'/><gd:im address='jo@talk.example' protocol='%1GOOGLE_TALK'/><gd:im address='j' protocol='%1ICQ'/>"
                        "<gd:im address='js' protocol='%1SKYPE'/><gd:im address='q' protocol='%1QQ'/>").arg(gd),
         {"N:Title", "X-JABBER:jo@gmail.com", "X-JABBER:jo@talk.example", "X-ICQ:j",
          "NOTE:Instant Messaging Account (Skype): js\\n\\nInstant Messaging Account (QQ", " ): q\\n\\n"}},
        {"web sites",
         QStringLiteral("<gContact:website href='http://a/' label='Blog'/><gContact:website href='http://b/' rel='work'/>"
                        "<gContact:website href='http://c/'/>"),
         {"N:Title", "item1.URL:http://a/", "item1.X-ABLabel:Blog", "item2.URL:http://b/", "item2.X-ABLabel:work", "item3.URL:http://c/",
          "item3.X-ABLabel:Unknown"}},
        {"dates and the notes they make",
         QStringLiteral("<content>Plain</content><gContact:birthday when='1980-01-02'/><gContact:birthday when='--02-29'/>"
                        "<gContact:birthday when='--13-01'/><gContact:event rel='anniversary'><gd:when startTime='2001-02-03'/></gContact:event>"
                        "<gContact:event><gd:when startTime='2002-03-04'/></gContact:event><gContact:event/>"
                        "<gContact:userDefinedField key='Size' value='42'/><gContact:userDefinedField key='Empty'/>"),
         {"N:Title", "BDAY;value=date:1980-01-02", "item1.X-ABDATE;type=pref:2001-02-03", "item1.X-ABLabel:_$!<Anniversary>!$_",
          "item2.X-ABDATE;type=pref:2002-03-04", "item2.X-ABLabel:_$!<Other>!$_", "item3.X-ABDATE;type=pref:", "item3.X-ABLabel:_$!<Other>!$_",
          "NOTE:Birthday: February 29\\n\\nSize: 42\\n\\nEmpty: \\n\\nOther Notes:\\nPlain\\n\\n"}},
        {"relations", QStringLiteral("<gContact:relation rel='spouse'>W</gContact:relation><gContact:relation rel='mentor'>M</gContact:relation>"
                                     "<gContact:relation>S</gContact:relation>"),
         {"N:Title", "item1.X-ABRELATEDNAMES:W", "item1.X-ABLabel:_$!<Spouse>!$_", "item2.X-ABRELATEDNAMES:M", "item2.X-ABLabel:other",
          "item3.X-ABRELATEDNAMES:S", "item3.X-ABLabel:other"}},
        {"content alone", QStringLiteral("<content>a, b\nc</content>"), {"N:Title", "NOTE:a\\, b\\nc"}},
    };
    for (const Case &c : cases) {
        tdwtest::LogCapture log;
        EXPECT_EQ(card(c.inner, c.title).toStdString(), cardOf(c.lines).toStdString()) << c.name;
        const bool badBirthday = c.inner.contains(QStringLiteral("--13-01"));
        EXPECT_EQ(log.lines().filter(QStringLiteral("ERROR: ")),
                  badBirthday ? QStringList{QStringLiteral("ERROR: Unable to parse birthday: --13-01")} : QStringList())
            << c.name;
    }
}

TEST_F(TDWCardWriterTest, EmbedsThePhotoInBase64Lines)
{
    const QByteArray photo(96, '\xAB'); // 128 Base64 characters: two full lines
    const QString encoded = QString::fromLatin1(photo.toBase64());
    EXPECT_EQ(card(QString(), QStringLiteral("P"), photo, QStringLiteral("image/jpeg; charset=binary")).toStdString(),
              cardOf({"N:P", "PHOTO;TYPE=JPEG;BASE64:", "  " + encoded.left(64), "  " + encoded.mid(64), "  "}).toStdString());
    EXPECT_EQ(card(QString(), QStringLiteral("P"), QByteArray("abc"), QStringLiteral("application/octet-stream")).toStdString(),
              cardOf({"N:P", "PHOTO;TYPE=application/octet-stream;BASE64:", "  YWJj"}).toStdString());
    EXPECT_EQ(card(QString(), QStringLiteral("P"), QByteArray("abc"), QString()).toStdString(),
              cardOf({"N:P", "PHOTO;BASE64:", "  YWJj"}).toStdString());
}

// Dates, relation words and the photo's media type come from the server and
// are not escaped as text: none of them may end a line or add a property.
TEST_F(TDWCardWriterTest, ValuesFromTheServerNeverBreakTheLineStructure)
{
    const QString text =
        card(QStringLiteral("<gd:name><gd:fullName>A&#13;&#10;END:VCARD</gd:fullName></gd:name>"
                            "<gd:structuredPostalAddress rel='home&#10;X-INJECTED:1'><gd:city>C</gd:city></gd:structuredPostalAddress>"
                            "<gContact:birthday when='1990-01-01&#13;&#10;END:VCARD&#13;&#10;BEGIN:VCARD'/>"
                            "<gContact:event><gd:when startTime='2001-02-03&#10;X-INJECTED:2'/></gContact:event>"),
             QStringLiteral("T"), QByteArray("abc"), QStringLiteral("image/png\r\nX-INJECTED:3"));
    EXPECT_EQ(text.toStdString(), cardOf({"N:;;;;", "FN:A\\nEND:VCARD", "item1.ADR;type=\"HOMEX-INJECTED:1\":;;;C;;;",
                            "BDAY;value=date:1990-01-01\\nEND:VCARD\\nBEGIN:VCARD", "item2.X-ABDATE;type=pref:2001-02-03\\nX-INJECTED:2",
                            "item2.X-ABLabel:_$!<Other>!$_", "PHOTO;TYPE=\"PNGX-INJECTED:3\";BASE64:", "  YWJj"}).toStdString());
}

TEST_F(TDWCardWriterTest, ReplacesTheOldCardAndKeepsItWhenWritingFails)
{
    const TDWDocRev::Ptr rev = revision(QStringLiteral("kept"), QStringLiteral("<entry><content>%1</content></entry>").arg(QString(4000, u'x')),
                                        QStringLiteral("Kept"));
    const QString path = onDisk(rev);
    ASSERT_TRUE(writertest::writeFile(path, "old card"));
    ASSERT_TRUE(TDWFileLock::setLocked(path, true));
    {
        tdwtest::LogCapture log;
        FileSizeLimit limit(1024);
        EXPECT_FALSE(TDWCardWriter(rev).writeContactFile());
        EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to write to contact file: %1: ").arg(path)));
    }
    EXPECT_EQ(writertest::readAll(path), QByteArray("old card"));

    tdwtest::LogCapture log;
    EXPECT_TRUE(TDWCardWriter(rev).writeContactFile());
    EXPECT_TRUE(writertest::readAll(path).startsWith("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Kept\r\nNOTE:xxx"));
    EXPECT_TRUE(QFileInfo(path).permissions() & QFileDevice::WriteOwner);
    EXPECT_EQ(log.lines(), QStringList{QStringLiteral("Backup file already exists at %1. Replacing it.").arg(path)});
    EXPECT_EQ(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("kept.vcf")});
}

TEST_F(TDWCardWriterTest, AnUnreadableEntryTouchesNoFile)
{
    const TDWDocRev::Ptr rev = revision(QStringLiteral("broken"), QStringLiteral("<entry><title>x</entry>"), QStringLiteral("Broken"));
    ASSERT_TRUE(writertest::writeFile(onDisk(rev), "old card"));
    tdwtest::LogCapture log;
    EXPECT_FALSE(TDWCardWriter(rev).writeContactFile());
    ASSERT_EQ(log.lines().size(), 1);
    EXPECT_TRUE(log.lines().first().startsWith(QStringLiteral("ERROR: Unable to parse doc: ")));
    EXPECT_EQ(writertest::readAll(onDisk(rev)), QByteArray("old card"));
}

// Every card of the fixture address book, read back by Debian's vobject and
// compared field by field with tests/services/fixtures/contacts/addressbook.expected.json.
TEST_F(TDWCardWriterTest, AddressBookReadsBackInAnIndependentReader)
{
    TDWDocListParser parser(parsertest::config());
    ASSERT_TRUE(parser.parse(parsertest::fixture(QStringLiteral("contacts/addressbook.xml"))));
    const QList<TDWDocEntry> entries = parser.docEntries();
    ASSERT_EQ(entries.size(), 7);
    const QByteArray photo = parsertest::fixture(QStringLiteral("contacts/photo.jpg"));
    ASSERT_FALSE(photo.isEmpty());

    const QString cards = tdwtest::freshDir(QStringLiteral("cards"));
    for (const TDWDocEntry &entry : entries) {
        const QString name = entry.docId().section(u'/', -1);
        const TDWDocRev::Ptr rev = revision(name, entry.xmlString(), entry.title());
        TDWCardWriter writer(rev);
        // The hostile contact's photo comes with a media type that tries to add a property.
        if (!entry.photoEtag().isEmpty())
            writer.setImageData(photo, name == QLatin1String("hostile") ? QStringLiteral("image/png\r\nX-INJECTED:3") : QStringLiteral("image/jpeg"));
        ASSERT_TRUE(writer.writeContactFile()) << qPrintable(name);
        ASSERT_TRUE(QFile::copy(onDisk(rev), QDir(cards).filePath(name + QStringLiteral(".vcf"))));
    }

    const ScriptRun check = runScript(QStringLiteral("check_vcards.py"), {cards, tdwtest::sourcePath(QStringLiteral("tests/services/fixtures/contacts"))});
    EXPECT_EQ(check.exitCode, 0) << check.output.toStdString();
}

} // namespace
