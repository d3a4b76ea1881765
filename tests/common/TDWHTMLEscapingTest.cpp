#include "common/TDWHTMLEscaping.h"

#include "ExternalTools.h"
#include "QtPrinters.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace {

const QString emoji = QString::fromUtf8("\U0001F600");

QString unescape(const QString &s)
{
    return TDWHTMLEscaping::gtm_stringByUnescapingFromHTML(s);
}

QString unescapeAll(const QStringList &references)
{
    return unescape(references.join(QString()));
}

// Texts whose characters mean the same to Python's unescaping as to ours
// (no C1 controls, which HTML maps to Windows-1252 characters).
QStringList sampleTexts()
{
    return {
        QStringLiteral("plain"),
        QStringLiteral("<a href=\"x?a=1&b=2\">Tom's</a>"),
        QString::fromUtf8("Gr\u00fc\u00dfe aus K\u00f6ln \u2013 \u201eso\u201c \u20ac5"),
        QString::fromUtf8("\u4e2d\u6587 \u0391\u03b2\u03b3 \u2660\u2665"),
        QString::fromUtf8("\U0001F600 \U0001F1E9\U0001F1EA \U0010FFFD"),
        QString::fromUtf8("\u00a0\u00ff\u0152\u0178\u02c6\u2039\u203a"),
        QStringLiteral("&amp; already escaped &lt;"),
    };
}

} // namespace

TEST(TDWHTMLEscaping, TablesAreSortedAndComplete)
{
    for (const auto table : {TDWHTMLEscaping::unicodeHTMLEscapeMap(), TDWHTMLEscaping::asciiHTMLEscapeMap()})
        for (size_t i = 1; i < table.size(); ++i)
            EXPECT_LT(table[i - 1].uchar, table[i].uchar) << table[i].escapeSequence;
    EXPECT_EQ(TDWHTMLEscaping::unicodeHTMLEscapeMap().size(), 33u);
    EXPECT_EQ(TDWHTMLEscaping::asciiHTMLEscapeMap().size(), 253u);

    // Every named reference reads back, in Python's reading, as the unit it
    // escapes; only the angle brackets changed their characters after HTML 4.
    QStringList references;
    for (const auto &e : TDWHTMLEscaping::asciiHTMLEscapeMap())
        references << QString::fromLatin1(e.escapeSequence);
    const QJsonArray python = pythonMap(QStringLiteral("import html\ndef f(s): return html.unescape(s)"), toJson(references));
    const QStringList changedSinceHtml4 = {QStringLiteral("&lang;"), QStringLiteral("&rang;")};
    for (size_t i = 0; i < TDWHTMLEscaping::asciiHTMLEscapeMap().size() && qsizetype(i) < python.size(); ++i) {
        const auto &entry = TDWHTMLEscaping::asciiHTMLEscapeMap()[i];
        if (!changedSinceHtml4.contains(references[qsizetype(i)])) {
            EXPECT_EQ(python[qsizetype(i)].toString(), QString(QChar(entry.uchar))) << references[qsizetype(i)];
        }
    }
    EXPECT_EQ(unescapeAll(changedSinceHtml4), QString::fromUtf8("\u2329\u232a"));
}

TEST(TDWHTMLEscaping, Escaping)
{
    struct Case
    {
        QString input, html, ascii;
    };
    const Case cases[] = {
        {"", "", ""},
        {"plain text", "plain text", "plain text"},
        {"a<b & c>d", "a&lt;b &amp; c&gt;d", "a&lt;b &amp; c&gt;d"},
        {"\"it's\"", "&quot;it&apos;s&quot;", "&quot;it&apos;s&quot;"},
        {QString::fromUtf8("\u00fc"), QString::fromUtf8("\u00fc"), "&uuml;"},
        {QString::fromUtf8("\u4e2d"), QString::fromUtf8("\u4e2d"), "&#20013;"},
        {QString::fromUtf8("a\u2014b \u20ac"), "a&mdash;b &euro;", "a&mdash;b &euro;"},
        {QString::fromUtf8("\u00a0"), QString::fromUtf8("\u00a0"), "&nbsp;"},
        {QString::fromUtf8("\u0080\u00ff\u0100"), QString::fromUtf8("\u0080\u00ff\u0100"), "&#128;&yuml;&#256;"},
        {emoji, emoji, "&#128512;"}, // one reference per character
        {emoji + QString::fromUtf8("\u00e9") + emoji, emoji + QString::fromUtf8("\u00e9") + emoji, "&#128512;&eacute;&#128512;"},
        {QString(QChar(0xD83D)) + "x", QString(QChar(0xD83D)) + "x", "&#65533;x"}, // a broken pair
        {QString(QChar(0xDE00)), QString(QChar(0xDE00)), "&#65533;"},
        {QString(QChar(0xFFFF)), QString(QChar(0xFFFF)), "&#65535;"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(TDWHTMLEscaping::gtm_stringByEscapingForHTML(c.input), c.html) << c.input.toStdString();
        EXPECT_EQ(TDWHTMLEscaping::gtm_stringByEscapingForAsciiHTML(c.input), c.ascii) << c.input.toStdString();
    }
}

TEST(TDWHTMLEscaping, EscapedTextReadsBackInPython)
{
    const QStringList texts = sampleTexts();
    QStringList html, ascii;
    for (const QString &t : texts) {
        html << TDWHTMLEscaping::gtm_stringByEscapingForHTML(t);
        ascii << TDWHTMLEscaping::gtm_stringByEscapingForAsciiHTML(t);
        for (const QChar c : ascii.last())
            ASSERT_LT(c.unicode(), 128) << ascii.last().toStdString();
    }
    const QString unescapeInPython = QStringLiteral("import html\ndef f(s): return html.unescape(s)");
    const QJsonArray fromHtml = pythonMap(unescapeInPython, toJson(html));
    const QJsonArray fromAscii = pythonMap(unescapeInPython, toJson(ascii));
    for (qsizetype i = 0; i < texts.size() && i < fromHtml.size() && i < fromAscii.size(); ++i) {
        EXPECT_EQ(fromHtml[i].toString(), texts[i]) << html[i].toStdString();
        EXPECT_EQ(fromAscii[i].toString(), texts[i]) << ascii[i].toStdString();
    }
}

TEST(TDWHTMLEscaping, Unescaping)
{
    struct Case
    {
        QString input, expected;
    };
    const Case cases[] = {
        {"", ""},
        {"no references", "no references"},
        {"&lt;b&gt;", "<b>"},
        {"&#65;&#x42;&#X42;", "ABB"},
        {"&#0065;", "A"},
        {"&nbsp;x", QString::fromUtf8("\u00a0x")},
        {"&apos;&quot;", "'\""},
        {"&thetasym;", QString::fromUtf8("\u03d1")}, // the longest name
        {"&amp;lt;", "&lt;"},                      // one pass only
        {"&bogus; &Amp; &LT;", "&bogus; &Amp; &LT;"}, // names are exact
        {"fish & chips", "fish & chips"},
        {"trailing &", "trailing &"},
        {"&amp", "&amp"},
        {"&lt&gt;", "&lt>"},            // no ";" before the next "&"
        {"&#;&#x;&#-1;&#+65;&# 65;&#x0x41;&#6a;", "&#;&#x;&#-1;&#+65;&# 65;&#x0x41;&#6a;"},
        {"&#0;&#x0;", "&#0;&#x0;"},
        {"&#65535;&#xFFFE;", QString(QChar(0xFFFF)) + QChar(0xFFFE)},
        {"&#12345678;&#x0000041;", "&#12345678;&#x0000041;"}, // longer than any reference
        {"&#128512;", emoji},
        {"&#x1F600;", emoji},
        {"&#1114111;", QString::fromUcs4(U"\U0010FFFF")},
        {"&#1114112;&#x110000;", "&#1114112;&#x110000;"},
        {"&#55357;&#56832;", emoji},     // halves of a pair written one by one
        {"&#xD83D;&#xde00;!", emoji + "!"},
        {"&#55357;", "&#55357;"},        // lone halves stay as written
        {"&#56832;", "&#56832;"},
        {"&#55357; &#56832;", "&#55357; &#56832;"},
        {"&#56832;&#55357;", "&#56832;&#55357;"},
        {"&#55357;&#55357;&#56832;", "&#55357;" + emoji},
        {"&#55357;&lt;", "&#55357;<"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(unescape(c.input), c.expected) << c.input.toStdString();
}

TEST(TDWHTMLEscaping, UnescapingAgreesWithPython)
{
    // References both readers define the same way, and text that Python
    // escapes with one numeric reference per character.
    QStringList inputs = {
        QStringLiteral("a&lt;b&gt;c&amp;d&quot;e&apos;f"),
        QStringLiteral("&#65;&#x42;&#X43;&#169;&#8364;&#20013;&#128512;&#x10FFFD;&#xFFFD;"),
        QStringLiteral("&Alpha;&omega;&hellip;&rArr;&spades;&yuml;&szlig;&Yacute;"),
        QStringLiteral("&amp;amp; & &; &#; &#x;"),
    };
    const QJsonArray expected = pythonMap(QStringLiteral("import html\ndef f(s): return html.unescape(s)"), toJson(inputs));
    const QJsonArray charRefs = pythonMap(QStringLiteral("import html\ndef f(s): return html.escape(s).encode('ascii', 'xmlcharrefreplace').decode('ascii')"),
                                          toJson(sampleTexts()));
    for (qsizetype i = 0; i < inputs.size() && i < expected.size(); ++i)
        EXPECT_EQ(unescape(inputs[i]), expected[i].toString()) << inputs[i].toStdString();
    for (qsizetype i = 0; i < charRefs.size(); ++i)
        EXPECT_EQ(unescape(charRefs[i].toString()), sampleTexts()[i]) << charRefs[i].toString().toStdString();
}

TEST(TDWHTMLEscaping, RandomTextSurvivesEscapingBothWays)
{
    // Markup, references, the table's characters, pairs and broken pairs mixed at random.
    const QStringList pieces = {QStringLiteral("&"), QStringLiteral(";"), QStringLiteral("#"), QStringLiteral("x"), QStringLiteral("<"),
                                QStringLiteral("&lt;"), QStringLiteral("&#65;"), QStringLiteral("&#55357;"), QStringLiteral("a"),
                                QString::fromUtf8("\u00e9"), QString::fromUtf8("\u2014"), QString::fromUtf8("\u4e2d"), emoji,
                                QString(QChar(0xD83D)), QString(QChar(0xDE00)), QStringLiteral(" ")};
    QRandomGenerator random(7);
    for (int round = 0; round < 500; ++round) {
        QString text;
        for (int n = random.bounded(12); n > 0; --n)
            text += pieces[random.bounded(int(pieces.size()))];
        EXPECT_EQ(unescape(TDWHTMLEscaping::gtm_stringByEscapingForHTML(text)), text) << text.toStdString();
        // Broken pairs come back as replacement characters from the ASCII form.
        QString repaired;
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
                repaired += text[i];
                repaired += text[++i];
            } else {
                repaired += text[i].isSurrogate() ? QChar(QChar::ReplacementCharacter) : text[i];
            }
        }
        EXPECT_EQ(unescape(TDWHTMLEscaping::gtm_stringByEscapingForAsciiHTML(text)), repaired) << text.toStdString();
    }
}
