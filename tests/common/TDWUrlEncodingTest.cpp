#include "common/TDWUrlEncoding.h"

#include "ExternalTools.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

TEST(TDWUrlEncoding, EscapesReservedCharactersAndUtf8)
{
    struct Case
    {
        QString input, expected;
    };
    const Case cases[] = {
        {"", ""},
        {"AZaz09-._", "AZaz09-._"},
        {"a b", "a%20b"},
        {"!*'();:@&=+$,/?%#[]", "%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%5B%5D"},
        {QString::fromUtf8("\u00fc\u20ac"), "%C3%BC%E2%82%AC"},
        {QString::fromUtf8("\U0001F600"), "%F0%9F%98%80"},
        {"a\nb\"<>", "a%0Ab%22%3C%3E"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(TDWUrlEncoding::stringByUrlEncoding(c.input), c.expected) << c.input.toStdString();
}

TEST(TDWUrlEncoding, AgreesWithPythonQuoteWithNothingSafe)
{
    const QStringList inputs = {
        QString(),
        QStringLiteral("plain"),
        QStringLiteral("user@example.com"),
        QStringLiteral("q=a b&c=d/e?f#g"),
        QStringLiteral("!*'();:@&=+$,/?%#[]"),
        QStringLiteral("-._~"),
        QStringLiteral("tab\there\r\nand \\^`{|}\"<>"),
        QString::fromUtf8("caf\u00e9 \u4e2d\u6587 \U0001F600"),
        QStringLiteral("label:\"Work/Projects\" in:inbox"),
    };
    const QJsonArray expected = pythonMap(QStringLiteral("import urllib.parse\ndef f(s): return urllib.parse.quote(s, safe='')"), toJson(inputs));
    for (qsizetype i = 0; i < inputs.size() && i < expected.size(); ++i)
        EXPECT_EQ(TDWUrlEncoding::stringByUrlEncoding(inputs[i]), expected[i].toString()) << inputs[i].toStdString();
}
