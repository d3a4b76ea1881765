#include "common/TDWXMLElementUtils.h"

#include "QtPrinters.h"

#include <libxml/parser.h>

#include <gtest/gtest.h>

#include <memory>

namespace {

struct DocFree
{
    void operator()(xmlDoc *d) const { xmlFreeDoc(d); }
};

const char contact[] = R"(<entry xmlns="http://www.w3.org/2005/Atom" xmlns:gd="http://schemas.google.com/g/2005">
  <title>first title</title>
  <title>second title</title>
  <gd:name><gd:givenName>Ada</gd:givenName> <gd:familyName>Lovelace</gd:familyName></gd:name>
  <content>text <![CDATA[with <cdata>]]> &amp; more</content>
  <empty/>
  <link><title>nested, not a child of entry</title></link>
</entry>)";

} // namespace

TEST(TDWXMLElementUtils, FindsTheFirstChildByQualifiedName)
{
    std::unique_ptr<xmlDoc, DocFree> doc(xmlReadMemory(contact, int(sizeof contact - 1), nullptr, nullptr, 0));
    ASSERT_TRUE(doc);
    const xmlNode *entry = xmlDocGetRootElement(doc.get());

    struct Case
    {
        QString name;
        QString value; // null: no such child
    };
    const Case cases[] = {
        {"title", "first title"},
        {"gd:name", "Ada Lovelace"},
        {"name", QString()},      // the prefix is part of the name
        {"gd:givenName", QString()}, // only children, not deeper descendants
        {"content", "text with <cdata> & more"},
        {"empty", ""},
        {"missing", QString()},
    };
    for (const Case &c : cases) {
        const QString value = TDWXMLElementUtils::stringValueForChildNamed(entry, c.name);
        EXPECT_EQ(value, c.value) << c.name.toStdString();
        EXPECT_EQ(value.isNull(), c.value.isNull()) << c.name.toStdString();
        EXPECT_EQ(TDWXMLElementUtils::childNamed(entry, c.name) != nullptr, !c.value.isNull()) << c.name.toStdString();
    }
    const xmlNode *name = TDWXMLElementUtils::childNamed(entry, QStringLiteral("gd:name"));
    EXPECT_EQ(TDWXMLElementUtils::stringValueForChildNamed(name, QStringLiteral("gd:familyName")), QStringLiteral("Lovelace"));
    EXPECT_EQ(TDWXMLElementUtils::childNamed(nullptr, QStringLiteral("title")), nullptr);
}
