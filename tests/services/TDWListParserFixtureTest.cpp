// Every list format against a small hand-made page and the table of entries
// that page must give (tests/services/fixtures/<format>/<name>.expected.json).
#include "ParserTestSupport.h"

#include "TestSupport.h"
#include "platform/xml/TDWXMLDocument.h"
#include "services/TDWDocListParser.h"
#include "services/TDWParserFactory.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

namespace {

QString compact(const QJsonValue &value)
{
    if (value.isObject())
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    if (value.isArray())
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    return value.toVariant().toString();
}

// The JSON object that an entry's jsonDictionary must equal: a path such as
// [1, "file"] into the page's "items", read by Qt's own JSON reader.
QVariantMap pageItem(const QByteArray &page, const QJsonArray &path)
{
    QJsonValue value = QJsonDocument::fromJson(page).object().value(QLatin1String("items"));
    for (const QJsonValue &step : path)
        value = step.isDouble() ? value.toArray().at(step.toInt()) : value.toObject().value(step.toString());
    return value.toObject().toVariantMap();
}

// An Atom entry's kept text, read again on its own, must give the same record
// (less what only the enclosing feed supplies).
void expectEntryRoundTrip(const TDWDocEntry &entry)
{
    TDWDocListParser again(parsertest::config());
    ASSERT_TRUE(again.parse(("<feed>" + entry.xmlString() + "</feed>").toUtf8())) << qPrintable(entry.xmlString());
    const QList<TDWDocEntry> reread = again.docEntries();
    ASSERT_EQ(reread.size(), 1);
    QJsonObject expected = parsertest::canonical(entry), actual = parsertest::canonical(reread.first());
    expected.remove(QLatin1String("childDocId"));
    EXPECT_EQ(compact(actual), compact(expected));
}

class ListParserFixture : public testing::TestWithParam<const char *>
{
};

TEST_P(ListParserFixture, GivesTheExpectedEntryTable)
{
    const QString name = QString::fromLatin1(GetParam());
    const QJsonObject expected = QJsonDocument::fromJson(parsertest::fixture(name + QLatin1String(".expected.json"))).object();
    ASSERT_FALSE(expected.isEmpty()) << "unreadable expectations for " << GetParam();
    const QString suffix = expected.value(QLatin1String("fileTypeSuffix")).toString();
    const QByteArray page = parsertest::fixture(name + u'.' + suffix);

    std::unique_ptr<TDWParser> parser =
        TDWParserFactory::create(expected.value(QLatin1String("parserClass")).toString(), parsertest::config());
    ASSERT_TRUE(parser);
    tdwtest::LogCapture log;
    ASSERT_TRUE(parser->parse(page));
    const QList<TDWDocEntry> entries = parser->docEntries();

    EXPECT_EQ(parser->fileTypeSuffix(), suffix);
    EXPECT_EQ(parser->numEntries(), expected.value(QLatin1String("numEntries")).toInteger());
    EXPECT_EQ(parser->nextUrl(), expected.value(QLatin1String("nextUrl")).toString());
    EXPECT_EQ(parser->nextUrl().isNull(), expected.value(QLatin1String("nextUrl")).isNull());
    EXPECT_EQ(parser->continuation(), expected.value(QLatin1String("continuation")).toString());
    EXPECT_EQ(parser->continuation().isNull(), expected.value(QLatin1String("continuation")).isNull());
    if (expected.contains(QLatin1String("largestChangeId"))) {
        EXPECT_EQ(parser->largestChangeId(), expected.value(QLatin1String("largestChangeId")).toVariant().toLongLong());
    }
    QStringList expectedLog;
    for (const QJsonValue &line : expected.value(QLatin1String("log")).toArray())
        expectedLog << line.toString();
    EXPECT_EQ(log.lines(), expectedLog);

    const QJsonArray expectedEntries = expected.value(QLatin1String("entries")).toArray();
    ASSERT_EQ(entries.size(), expectedEntries.size());
    for (qsizetype i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE(qPrintable(QStringLiteral("entry %1").arg(i)));
        const TDWDocEntry &entry = entries[i];
        QJsonObject fields = expectedEntries[i].toObject();
        const QJsonValue xmlString = fields.take(QLatin1String("xmlString"));
        const QJsonValue xmlRoot = fields.take(QLatin1String("xmlRoot"));
        const QJsonValue jsonItem = fields.take(QLatin1String("jsonItem"));
        EXPECT_EQ(compact(parsertest::canonical(entry)), compact(fields));

        if (xmlString.isString()) {
            EXPECT_EQ(entry.xmlString(), xmlString.toString());
        }
        if (xmlRoot.isString()) {
            TDWXMLDocument doc;
            ASSERT_TRUE(doc.parse(entry.xmlString().toUtf8()));
            EXPECT_EQ(doc.rootElement().qualifiedName(), xmlRoot.toString());
            if (xmlRoot.toString() == QLatin1String("entry"))
                expectEntryRoundTrip(entry);
        }
        if (xmlString.isUndefined() && xmlRoot.isUndefined()) {
            EXPECT_TRUE(entry.xmlString().isNull());
        }
        if (jsonItem.isArray()) {
            EXPECT_EQ(entry.jsonDictionary(), pageItem(page, jsonItem.toArray()));
        } else {
            EXPECT_TRUE(entry.jsonDictionary().isEmpty());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Pages, ListParserFixture,
                         testing::Values("atom/contacts", "atom/groups", "atom/albums", "atom/photos", "atom/tags",
                                         "reader/tags", "reader/subscriptions", "reader/saved", "drive/files",
                                         "drive/changes", "calendar/calendarlist", "tasks/tasklists"),
                         [](const testing::TestParamInfo<const char *> &info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '/', '_');
                             return name;
                         });

} // namespace
