#include "StoreTestModel.h"

#include "platform/store/TDWJsonArchive.h"

#include <QDateTime>

#include <gtest/gtest.h>

namespace {

TEST(JsonArchive, PropertyListValuesRoundTrip)
{
    QDateTime when = QDateTime::fromString(QStringLiteral("2013-07-08T09:10:11.125Z"), Qt::ISODateWithMs);
    const QVariantMap value{
        {QStringLiteral("flag"), true},
        {QStringLiteral("count"), qlonglong(1) << 40},
        {QStringLiteral("ratio"), 0.5},
        {QStringLiteral("name"), QStringLiteral("Zoë \"quoted\"")},
        {QStringLiteral("when"), when},
        {QStringLiteral("bytes"), QByteArray("\x00\xfe", 2)},
        {QStringLiteral("nothing"), QVariant()},
        {QStringLiteral("$date"), QStringLiteral("a key that looks like a marker")},
        {QStringLiteral("list"), QVariantList{1, QStringLiteral("two"), QVariantMap{{QStringLiteral("three"), 3.0}}}},
    };
    TDWError error;
    const QVariant back = TDWJsonArchive::unarchive(TDWJsonArchive::archive(value), &error);
    EXPECT_TRUE(error.isNull());
    const QVariantMap map = back.toMap();
    EXPECT_EQ(map.value(QStringLiteral("count")).toLongLong(), qlonglong(1) << 40);
    EXPECT_EQ(map.value(QStringLiteral("when")).toDateTime(), when);
    EXPECT_EQ(map.value(QStringLiteral("bytes")).toByteArray(), QByteArray("\x00\xfe", 2));
    EXPECT_EQ(map.value(QStringLiteral("$date")).toString(), QStringLiteral("a key that looks like a marker"));
    EXPECT_TRUE(map.contains(QStringLiteral("nothing")) && map.value(QStringLiteral("nothing")).isNull());
    EXPECT_EQ(map.value(QStringLiteral("list")).toList().at(2).toMap().value(QStringLiteral("three")).toDouble(), 3.0);
    EXPECT_EQ(map.value(QStringLiteral("name")).toString(), QStringLiteral("Zoë \"quoted\""));
    EXPECT_EQ(map.keys(), value.keys());
}

TEST(JsonArchive, TextThatIsNoArchiveIsReported)
{
    for (const QByteArray &bad : {QByteArray("{\"a\":"), QByteArray("\xff\xfe"), QByteArray("{\"$odd\": 1}"), QByteArray()}) {
        TDWError error;
        EXPECT_TRUE(TDWJsonArchive::unarchive(bad, &error).isNull());
        EXPECT_FALSE(error.isNull()) << bad.toStdString();
    }
}

} // namespace
