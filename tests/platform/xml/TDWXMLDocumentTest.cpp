#include "platform/xml/TDWXMLDocument.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

const QByteArray kFeed = R"(<?xml version="1.0" encoding="UTF-8"?>
<feed xmlns="http://www.w3.org/2005/Atom" xmlns:gd="http://schemas.google.com/g/2005">
  <entry gd:etag="&quot;7&quot;" plain="" xy:undeclared="u">
    <title type="text">Caf)" "\xC3\xA9" R"( &amp; co</title>
    <gd:email address="a@example.com"/>
    <xy:note>one<b>two</b><![CDATA[<three>]]></xy:note>
    <empty/>
  </entry>
  <entry><title>second</title></entry>
</feed>)";

TDWXMLDocument parsed(const QByteArray &bytes)
{
    TDWXMLDocument doc;
    EXPECT_TRUE(doc.parse(bytes));
    return doc;
}

} // namespace

TEST(TDWXMLDocument, FindsElementsAndAttributesByTheirNamesAsWritten)
{
    const TDWXMLDocument doc = parsed(kFeed);
    const TDWXMLElement feed = doc.rootElement();
    EXPECT_EQ(feed.qualifiedName(), QStringLiteral("feed"));
    EXPECT_TRUE(feed.parent().isNull());
    ASSERT_EQ(feed.childrenNamed("entry").size(), 2);
    EXPECT_EQ(feed.children().size(), 2);

    const TDWXMLElement entry = feed.firstChildNamed("entry");
    EXPECT_EQ(entry.parent(), feed);
    // Declared prefix, undeclared prefix and the default namespace all read back as written.
    EXPECT_EQ(entry.firstChildNamed("gd:email").qualifiedName(), QStringLiteral("gd:email"));
    EXPECT_TRUE(entry.firstChildNamed("email").isNull());
    EXPECT_EQ(entry.firstChildNamed("xy:note").qualifiedName(), QStringLiteral("xy:note"));
    EXPECT_TRUE(entry.hasChildNamed("title"));
    EXPECT_FALSE(entry.hasChildNamed("gd:title"));

    EXPECT_EQ(entry.attribute("gd:etag"), QStringLiteral("\"7\""));
    EXPECT_TRUE(entry.attribute("etag").isNull());
    EXPECT_EQ(entry.attribute("xy:undeclared"), QStringLiteral("u"));
    EXPECT_TRUE(entry.hasAttribute("plain"));
    EXPECT_FALSE(entry.attribute("plain").isNull());
    EXPECT_TRUE(entry.attribute("plain").isEmpty());
    EXPECT_TRUE(entry.attribute("missing").isNull());
    EXPECT_FALSE(entry.hasAttribute("missing"));
    EXPECT_TRUE(TDWXMLElement().attribute("x").isNull());
}

TEST(TDWXMLDocument, StringValueJoinsAllCharacterDataInside)
{
    const TDWXMLDocument doc = parsed(kFeed);
    const TDWXMLElement entry = doc.rootElement().firstChildNamed("entry");
    EXPECT_EQ(entry.firstChildNamed("title").stringValue(), QString::fromUtf8("Caf\xC3\xA9 & co"));
    EXPECT_EQ(entry.firstChildNamed("xy:note").stringValue(), QStringLiteral("onetwo<three>"));
    const QString empty = entry.firstChildNamed("empty").stringValue();
    EXPECT_FALSE(empty.isNull());
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_TRUE(TDWXMLElement().stringValue().isNull());
}

TEST(TDWXMLDocument, GivesAnElementsTextAsTheDocumentWroteIt)
{
    const TDWXMLDocument doc = parsed(kFeed);
    const QList<TDWXMLElement> entries = doc.rootElement().childrenNamed("entry").toList();
    EXPECT_EQ(entries[1].xmlString(), QStringLiteral("<entry><title>second</title></entry>"));

    const QString first = entries[0].xmlString();
    EXPECT_TRUE(first.startsWith(QStringLiteral("<entry gd:etag=\"&quot;7&quot;\" plain=\"\" xy:undeclared=\"u\">")));
    EXPECT_TRUE(first.contains(QString::fromUtf8("Caf\xC3\xA9 &amp; co")));
    EXPECT_TRUE(first.contains(QStringLiteral("<![CDATA[<three>]]>")));
    EXPECT_TRUE(first.endsWith(QStringLiteral("<empty/>\n  </entry>")));

    // Quotes, character references, line ends and empty-element tags stay as written.
    const QByteArray written = "<a>\r\n <b x='1' y=\"&#65;\"/>\r\n<c>t&#x20;</c></a>";
    const TDWXMLDocument exact = parsed(written);
    EXPECT_EQ(exact.rootElement().xmlString(), QString::fromLatin1(written));
    EXPECT_EQ(exact.rootElement().firstChildNamed("b").xmlString(), QStringLiteral("<b x='1' y=\"&#65;\"/>"));
    EXPECT_EQ(exact.rootElement().firstChildNamed("c").xmlString(), QStringLiteral("<c>t&#x20;</c>"));

    // The text reads back as the same element.
    TDWXMLDocument again;
    ASSERT_TRUE(again.parse(QStringLiteral("<feed xmlns:gd='g'>%1</feed>").arg(first).toUtf8()));
    const TDWXMLElement copy = again.rootElement().firstChildNamed("entry");
    EXPECT_EQ(copy.attribute("gd:etag"), QStringLiteral("\"7\""));
    EXPECT_EQ(copy.firstChildNamed("xy:note").stringValue(), QStringLiteral("onetwo<three>"));
}

TEST(TDWXMLDocument, SerialisesElementsOfDocumentsInOtherEncodings)
{
    const QByteArray latin1 = "<?xml version='1.0' encoding='ISO-8859-1'?><a><b n='\xE9'>caf\xE9</b></a>";
    const TDWXMLDocument doc = parsed(latin1);
    const TDWXMLElement b = doc.rootElement().firstChildNamed("b");
    EXPECT_EQ(b.stringValue(), QString::fromUtf8("caf\xC3\xA9"));
    TDWXMLDocument again;
    ASSERT_TRUE(again.parse(b.xmlString().toUtf8()));
    EXPECT_EQ(again.rootElement().qualifiedName(), QStringLiteral("b"));
    EXPECT_EQ(again.rootElement().attribute("n"), QString::fromUtf8("\xC3\xA9"));
    EXPECT_EQ(again.rootElement().stringValue(), QString::fromUtf8("caf\xC3\xA9"));
}

TEST(TDWXMLDocument, RefusesBytesThatAreNotOneSafeWellFormedDocument)
{
    const QString secret = QDir(tdwtest::freshDir()).filePath(QStringLiteral("secret.txt"));
    QFile file(secret);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("private");
    file.close();

    const struct
    {
        const char *name;
        QByteArray bytes;
    } cases[] = {
        {"empty", QByteArray()},
        {"not xml", "{\"items\": []}"},
        {"truncated", kFeed.left(kFeed.size() - 10)},
        {"two roots", "<a/><b/>"},
        {"mismatched tags", "<a><b></a></b>"},
        {"invalid utf-8", "<a>\xC3\x28</a>"},
        {"undefined entity", "<a>&nope;</a>"},
        {"entity expansion",
         "<!DOCTYPE a [<!ENTITY x \"xxxxxxxxxx\"><!ENTITY y \"&x;&x;&x;&x;&x;&x;&x;&x;&x;&x;\">"
         "<!ENTITY z \"&y;&y;&y;&y;&y;&y;&y;&y;&y;&y;\">]><a>&z;&z;&z;&z;</a>"},
        {"external entity", "<!DOCTYPE a [<!ENTITY s SYSTEM \"file://" + secret.toUtf8() + "\">]><a>&s;</a>"},
        {"parameter entity", "<!DOCTYPE a [<!ENTITY % p \"x\">]><a/>"},
    };
    for (const auto &c : cases) {
        TDWXMLDocument doc;
        EXPECT_FALSE(doc.parse(c.bytes)) << c.name;
        EXPECT_TRUE(doc.isNull()) << c.name;
        EXPECT_TRUE(doc.rootElement().isNull()) << c.name;
    }

    // A document type without entity declarations is still an ordinary document.
    TDWXMLDocument withDoctype;
    EXPECT_TRUE(withDoctype.parse("<!DOCTYPE a><a>x</a>"));
    EXPECT_EQ(withDoctype.rootElement().stringValue(), QStringLiteral("x"));
}

TEST(TDWXMLDocument, ReparsingReplacesTheEarlierDocument)
{
    TDWXMLDocument doc;
    ASSERT_TRUE(doc.parse("<a/>"));
    EXPECT_FALSE(doc.parse("<a>"));
    EXPECT_TRUE(doc.isNull());
    ASSERT_TRUE(doc.parse("<b/>"));
    EXPECT_EQ(doc.rootElement().qualifiedName(), QStringLiteral("b"));
}
