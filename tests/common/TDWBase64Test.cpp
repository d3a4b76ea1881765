#include "common/TDWBase64.h"

#include "ExternalTools.h"
#include "QtPrinters.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

TEST(TDWBase64, EncodingPadsAndBreaksLinesBetweenGroups)
{
    struct Case
    {
        QByteArray data;
        uint lineLength;
        QString expected;
    };
    const Case cases[] = {
        {"", 0, ""},
        {"", 64, ""},
        {"abc", 0, "YWJj"},
        {"ab", 0, "YWI="},
        {"a", 0, "YQ=="},
        {QByteArray("\x00\xff\xfe", 3), 0, "AP/+"},
        {"abcdef", 4, "YWJj\nZGVm\n"},
        {"abcdefg", 4, "YWJj\nZGVm\nZw==\n"},
        {"abcdef", 5, "YWJjZGVm\n"},    // a line is never cut inside a group
        {"abcdefgh", 8, "YWJjZGVm\nZ2g="}, // a short last line has no line feed
        {"abcdefg", 100, "YWJjZGVmZw=="},
        {QByteArray(48, 'x'), 64, QStringLiteral("eHh4").repeated(16) + "\n"}, // exactly one full line
    };
    for (const Case &c : cases)
        EXPECT_EQ(TDWBase64::base64EncodingWithLineLength(c.data, c.lineLength), c.expected) << c.data.toHex().toStdString() << " / " << c.lineLength;
    EXPECT_EQ(TDWBase64::base64Encoding(QByteArray(100, 'z')).count(QLatin1Char('\n')), 0);
}

TEST(TDWBase64, DecodingIsLenientUpToTheFirstPadding)
{
    struct Case
    {
        QString text;
        QByteArray expected;
    };
    const Case cases[] = {
        {"YWJj", "abc"},
        {" YW\r\nJj \n", "abc"},          // white space anywhere
        {"YW*J!j", "abc"},                // so is any other non-alphabet ASCII
        {"YWI=", "ab"},
        {"YQ==", "a"},
        {"YW=Jj", "a"},                   // "=" ends the text
        {"YWJj=ZGVm", "abc"},             // even between groups
        {"YWJjZ=", "abcd"},               // one value before "=" still gives a byte
        {"YWJ", ""},                      // an unfinished group without "=" is dropped
        {"YWJjZGV", "abc"},
        {"=YWJj", ""},
        {"", ""},
        {QString(), ""},
        {QString::fromUtf8("YWJj\u00e9"), ""}, // any non-ASCII character gives nothing
        {QString::fromUtf8("\u00e9YWJj"), ""},
        {"AP/+", QByteArray("\x00\xff\xfe", 3)},
    };
    for (const Case &c : cases)
        EXPECT_EQ(TDWBase64::dataWithBase64EncodedString(c.text), c.expected) << c.text.toStdString();
}

TEST(TDWBase64, AgreesWithCoreutils)
{
    QRandomGenerator random(20240331);
    for (const int size : {1, 2, 3, 4, 47, 48, 49, 57, 58, 100, 1000}) {
        QByteArray data(size, Qt::Uninitialized);
        for (char &b : data)
            b = char(random.bounded(256));
        const QString plain = TDWBase64::base64Encoding(data);
        EXPECT_EQ(plain.toLatin1(), runTool(QStringLiteral("base64"), {QStringLiteral("-w"), QStringLiteral("0")}, data)) << size;

        // coreutils ends every text with a line feed; ours only a full last line.
        for (const uint width : {64u, 76u}) {
            QString wrapped = TDWBase64::base64EncodingWithLineLength(data, width);
            const QByteArray reference = runTool(QStringLiteral("base64"), {QStringLiteral("-w"), QString::number(width)}, data);
            if (!wrapped.endsWith(QLatin1Char('\n')))
                wrapped += QLatin1Char('\n');
            EXPECT_EQ(wrapped.toLatin1(), reference) << size << " / " << width;
            EXPECT_EQ(TDWBase64::dataWithBase64EncodedString(QString::fromLatin1(reference)), data) << size;
        }
    }
}
