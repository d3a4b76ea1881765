#include "platform/foundation/TDWUserDefaults.h"

#include "platform/foundation/TDWPropertyList.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPoint>
#include <QSignalSpy>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <limits>
#include <thread>
#include <vector>

namespace {

QString freshPath()
{
    return QDir(tdwtest::freshDir()).filePath(QStringLiteral("Tidewell/defaults.plist"));
}

QVariantMap fileContents(const QString &path)
{
    return TDWPropertyList::readFile(path, nullptr).toMap();
}

QByteArray rawBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeRaw(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QStringList spiedKeys(const QSignalSpy &spy)
{
    QStringList keys;
    for (const QList<QVariant> &args : spy)
        keys << args.at(0).toString();
    return keys;
}

TEST(TDWUserDefaults, StoredValuesOverlayRegisteredOnesWhichAreNeverWritten)
{
    const QString path = freshPath();
    TDWUserDefaults defaults(path);
    defaults.registerDefaults({{QStringLiteral("SecondsBetweenBackups"), 3600}, {QStringLiteral("backgroundapp"), false}});
    defaults.registerDefaults({{QStringLiteral("backgroundapp"), true}});

    EXPECT_EQ(defaults.integerForKey(QStringLiteral("SecondsBetweenBackups")), 3600);
    EXPECT_TRUE(defaults.boolForKey(QStringLiteral("backgroundapp")));
    EXPECT_FALSE(defaults.objectForKey(QStringLiteral("unknown")).isValid());

    defaults.setInteger(60, QStringLiteral("SecondsBetweenBackups"));
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("SecondsBetweenBackups")), 60);
    EXPECT_EQ(defaults.dictionaryRepresentation(),
              (QVariantMap{{QStringLiteral("SecondsBetweenBackups"), QVariant::fromValue(qint64(60))}, {QStringLiteral("backgroundapp"), true}}));

    ASSERT_TRUE(defaults.synchronize());
    EXPECT_EQ(fileContents(path), (QVariantMap{{QStringLiteral("SecondsBetweenBackups"), QVariant::fromValue(qint64(60))}}));

    defaults.removeObjectForKey(QStringLiteral("SecondsBetweenBackups"));
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("SecondsBetweenBackups")), 3600);
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_EQ(fileContents(path), QVariantMap());
}

TEST(TDWUserDefaults, TypedGettersConvertLikeTheirNamesSay)
{
    const struct
    {
        const char *name;
        QVariant value;
        QString asString;
        bool asBool;
        qint64 asInteger;
        double asDouble;
    } rows[] = {
        {"absent", QVariant(), {}, false, 0, 0.0},
        {"string YES", QStringLiteral("YES"), QStringLiteral("YES"), true, 0, 0.0},
        {"string true", QStringLiteral("true"), QStringLiteral("true"), true, 0, 0.0},
        {"string 1", QStringLiteral("1"), QStringLiteral("1"), true, 1, 1.0},
        {"string NO", QStringLiteral("NO"), QStringLiteral("NO"), false, 0, 0.0},
        {"numeric string", QStringLiteral(" 42 "), QStringLiteral(" 42 "), true, 42, 42.0},
        {"real string", QStringLiteral("2.75"), QStringLiteral("2.75"), true, 2, 2.75},
        {"word", QStringLiteral("maybe"), QStringLiteral("maybe"), false, 0, 0.0},
        {"true", true, {}, true, 1, 1.0},
        {"false", false, {}, false, 0, 0.0},
        {"integer", QVariant::fromValue(qint64(-7)), {}, true, -7, -7.0},
        {"zero", QVariant::fromValue(qint64(0)), {}, false, 0, 0.0},
        {"real", 3.9, {}, true, 3, 3.9},
        {"small real", 0.25, {}, true, 0, 0.25},
        {"huge real", 1e300, {}, true, std::numeric_limits<qint64>::max(), 1e300},
        {"huge unsigned", QVariant::fromValue(std::numeric_limits<qulonglong>::max()), {}, true, std::numeric_limits<qint64>::max(), 1.8446744073709552e19},
        {"huge unsigned long", QVariant::fromValue(std::numeric_limits<ulong>::max()), {}, true, std::numeric_limits<qint64>::max(), 1.8446744073709552e19},
        {"date", QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC), {}, false, 0, 0.0},
        {"array", QVariantList{1}, {}, false, 0, 0.0},
    };
    TDWUserDefaults defaults(freshPath());
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const QString key = QString::fromLatin1(row.name);
        defaults.setObject(row.value, key);
        EXPECT_EQ(defaults.stringForKey(key), row.asString);
        EXPECT_EQ(defaults.boolForKey(key), row.asBool);
        EXPECT_EQ(defaults.integerForKey(key), row.asInteger);
        EXPECT_DOUBLE_EQ(defaults.doubleForKey(key), row.asDouble);
    }
}

TEST(TDWUserDefaults, ContainerAndDateGettersReturnNothingForOtherTypes)
{
    TDWUserDefaults defaults(freshPath());
    const QDateTime date(QDate(2026, 12, 10), QTime(12, 0), Qt::UTC);
    const QVariantMap map{{QStringLiteral("a"), QVariant::fromValue(qint64(1))}};
    defaults.setObject(date, QStringLiteral("date"));
    defaults.setObject(map, QStringLiteral("map"));
    defaults.setObject(QStringList{QStringLiteral("x"), QStringLiteral("y")}, QStringLiteral("strings"));
    defaults.setObject(QVariantList{QStringLiteral("x"), 2}, QStringLiteral("mixed"));

    EXPECT_EQ(defaults.dateForKey(QStringLiteral("date")), date);
    EXPECT_TRUE(defaults.dateForKey(QStringLiteral("map")).isNull());
    EXPECT_EQ(defaults.dictionaryForKey(QStringLiteral("map")), map);
    EXPECT_TRUE(defaults.dictionaryForKey(QStringLiteral("strings")).isEmpty());
    EXPECT_EQ(defaults.stringArrayForKey(QStringLiteral("strings")), (QStringList{QStringLiteral("x"), QStringLiteral("y")}));
    EXPECT_EQ(defaults.arrayForKey(QStringLiteral("strings")), (QVariantList{QStringLiteral("x"), QStringLiteral("y")}));
    EXPECT_EQ(defaults.arrayForKey(QStringLiteral("mixed")).size(), 2);
    EXPECT_TRUE(defaults.stringArrayForKey(QStringLiteral("mixed")).isEmpty());
    EXPECT_TRUE(defaults.arrayForKey(QStringLiteral("map")).isEmpty());
    EXPECT_TRUE(defaults.stringForKey(QStringLiteral("strings")).isEmpty());
}

TEST(TDWUserDefaults, ValuesPersistAcrossInstancesWithTheirTypes)
{
    const QString path = freshPath();
    const QVariantMap expected{
        {QStringLiteral("bool"), true},
        {QStringLiteral("integer"), QVariant::fromValue(std::numeric_limits<qint64>::min())},
        {QStringLiteral("int given"), QVariant::fromValue(qint64(5))},
        {QStringLiteral("double"), 0.1},
        {QStringLiteral("string"), QStringLiteral("caf\u00e9 <&>")},
        {QStringLiteral("list"), QVariantList{QStringLiteral("a"), QStringLiteral("b")}},
        {QStringLiteral("data"), QByteArray("\x00\x01\xff", 3)},
    };
    {
        TDWUserDefaults defaults(path);
        defaults.setBool(true, QStringLiteral("bool"));
        defaults.setInteger(std::numeric_limits<qint64>::min(), QStringLiteral("integer"));
        defaults.setObject(5, QStringLiteral("int given"));
        defaults.setDouble(0.1, QStringLiteral("double"));
        defaults.setString(QStringLiteral("caf\u00e9 <&>"), QStringLiteral("string"));
        defaults.setObject(QStringList{QStringLiteral("a"), QStringLiteral("b")}, QStringLiteral("list"));
        defaults.setObject(QByteArray("\x00\x01\xff", 3), QStringLiteral("data"));
        // The value reads back now as it will after a restart.
        EXPECT_EQ(defaults.objectForKey(QStringLiteral("int given")).typeId(), QMetaType::LongLong);
        EXPECT_EQ(defaults.objectForKey(QStringLiteral("list")).typeId(), QMetaType::QVariantList);
        // No synchronize(): the destructor writes what is pending.
    }
    TDWUserDefaults reopened(path);
    EXPECT_EQ(reopened.dictionaryRepresentation(), expected);
    for (auto it = expected.constBegin(); it != expected.constEnd(); ++it)
        EXPECT_EQ(reopened.objectForKey(it.key()).typeId(), it.value().typeId()) << qPrintable(it.key());
}

TEST(TDWUserDefaults, SettersScheduleAWriteOnTheEventLoop)
{
    const QString path = freshPath();
    TDWUserDefaults defaults(path);
    defaults.setString(QStringLiteral("one"), QStringLiteral("a"));
    defaults.setString(QStringLiteral("two"), QStringLiteral("b"));
    EXPECT_FALSE(QFile::exists(path));
    QCoreApplication::processEvents();
    EXPECT_EQ(fileContents(path), (QVariantMap{{QStringLiteral("a"), QStringLiteral("one")}, {QStringLiteral("b"), QStringLiteral("two")}}));
}

TEST(TDWUserDefaults, EveryChangeIsSignalled)
{
    TDWUserDefaults defaults(freshPath());
    QSignalSpy spy(&defaults, &TDWUserDefaults::changed);
    defaults.setBool(true, QStringLiteral("a"));
    defaults.setInteger(1, QStringLiteral("b"));
    defaults.setObject(QVariant(), QStringLiteral("a"));
    defaults.removeObjectForKey(QStringLiteral("b"));
    defaults.setObject(QPoint(1, 2), QStringLiteral("refused"));
    EXPECT_EQ(spiedKeys(spy), (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("a"), QStringLiteral("b")}));
    EXPECT_FALSE(defaults.objectForKey(QStringLiteral("a")).isValid());
}

TEST(TDWUserDefaults, UnstorableValueIsRefusedAndSavingGoesOn)
{
    const QString path = freshPath();
    TDWUserDefaults defaults(path);
    tdwtest::LogCapture log;
    defaults.setString(QStringLiteral("kept"), QStringLiteral("key"));
    defaults.setObject(QPoint(1, 2), QStringLiteral("key"));
    defaults.setObject(QVariantMap{{QStringLiteral("inner"), QStringLiteral("bad\x01")}}, QStringLiteral("other"));
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: ")));
    EXPECT_EQ(defaults.stringForKey(QStringLiteral("key")), QStringLiteral("kept"));
    EXPECT_FALSE(defaults.objectForKey(QStringLiteral("other")).isValid());
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_EQ(fileContents(path), (QVariantMap{{QStringLiteral("key"), QStringLiteral("kept")}}));
}

TEST(TDWUserDefaults, CorruptFileIsReportedKeptAndSetAsideBeforeItIsReplaced)
{
    const struct
    {
        const char *name;
        QByteArray bytes;
    } rows[] = {
        {"not XML", "\x01\x02garbage"},
        {"truncated", "<?xml version=\"1.0\"?><plist><dict><key>a</key>"},
        {"not a dictionary", "<?xml version=\"1.0\"?><plist><array/></plist>"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const QString path = freshPath();
        writeRaw(path, row.bytes);
        tdwtest::LogCapture log;
        TDWUserDefaults defaults(path);
        EXPECT_TRUE(log.contains(QStringLiteral("ERROR: ")));
        EXPECT_TRUE(defaults.dictionaryRepresentation().isEmpty());

        EXPECT_TRUE(defaults.synchronize());
        EXPECT_EQ(rawBytes(path), row.bytes) << "replaced before anything was set";

        defaults.setBool(true, QStringLiteral("fresh"));
        ASSERT_TRUE(defaults.synchronize());
        EXPECT_EQ(fileContents(path), (QVariantMap{{QStringLiteral("fresh"), true}}));
        EXPECT_EQ(rawBytes(path + QStringLiteral(".corrupt")), row.bytes);
    }
}

TEST(TDWUserDefaults, SynchronizeTakesInAnotherWritersChangesAndKeepsOurs)
{
    const QString path = freshPath();
    TDWUserDefaults ours(path);
    TDWUserDefaults theirs(path);
    ours.setString(QStringLiteral("s-value"), QStringLiteral("shared"));
    ours.setString(QStringLiteral("old-value"), QStringLiteral("old"));
    ASSERT_TRUE(ours.synchronize());
    ASSERT_TRUE(theirs.synchronize());
    EXPECT_EQ(theirs.stringForKey(QStringLiteral("old")), QStringLiteral("old-value"));

    theirs.setString(QStringLiteral("t-value"), QStringLiteral("theirs"));
    theirs.setString(QStringLiteral("their pick"), QStringLiteral("conflict"));
    theirs.removeObjectForKey(QStringLiteral("old"));
    ASSERT_TRUE(theirs.synchronize());

    // Changed here but not yet written: these win over the file.
    ours.setString(QStringLiteral("our pick"), QStringLiteral("conflict"));
    ours.setString(QStringLiteral("o-value"), QStringLiteral("ours"));
    QSignalSpy spy(&ours, &TDWUserDefaults::changed);
    ASSERT_TRUE(ours.synchronize());
    QStringList external = spiedKeys(spy);
    external.sort();
    EXPECT_EQ(external, (QStringList{QStringLiteral("old"), QStringLiteral("theirs")}));

    const QVariantMap expected{{QStringLiteral("shared"), QStringLiteral("s-value")},
                               {QStringLiteral("theirs"), QStringLiteral("t-value")},
                               {QStringLiteral("ours"), QStringLiteral("o-value")},
                               {QStringLiteral("conflict"), QStringLiteral("our pick")}};
    EXPECT_EQ(ours.dictionaryRepresentation(), expected);
    EXPECT_EQ(fileContents(path), expected);
}

TEST(TDWUserDefaults, ConcurrentSettersLoseNothing)
{
    const QString path = freshPath();
    constexpr int Threads = 8;
    constexpr int KeysPerThread = 150;
    {
        TDWUserDefaults defaults(path);
        std::vector<std::thread> threads;
        for (int t = 0; t < Threads; ++t) {
            threads.emplace_back([&defaults, t] {
                for (int i = 0; i < KeysPerThread; ++i) {
                    defaults.setInteger(t * 1000 + i, QStringLiteral("t%1-k%2").arg(t).arg(i));
                    defaults.setInteger(t, QStringLiteral("shared"));
                    if (i % 50 == 0)
                        defaults.synchronize();
                    (void)defaults.dictionaryRepresentation();
                }
            });
        }
        for (auto &thread : threads)
            thread.join();
        ASSERT_TRUE(defaults.synchronize());
    }
    TDWUserDefaults reopened(path);
    const QVariantMap stored = reopened.dictionaryRepresentation();
    EXPECT_EQ(stored.size(), Threads * KeysPerThread + 1);
    for (int t = 0; t < Threads; ++t) {
        for (int i = 0; i < KeysPerThread; ++i)
            ASSERT_EQ(stored.value(QStringLiteral("t%1-k%2").arg(t).arg(i)).toLongLong(), t * 1000 + i);
    }
    EXPECT_LT(reopened.integerForKey(QStringLiteral("shared")), Threads);
}

TEST(TDWUserDefaults, StandardInstanceIsOneSharedFileInTheConfigFolder)
{
    TDWUserDefaults *seen[4] = {};
    std::vector<std::thread> threads;
    for (auto &slot : seen)
        threads.emplace_back([&slot] { slot = TDWUserDefaults::standard(); });
    for (auto &thread : threads)
        thread.join();
    for (TDWUserDefaults *d : seen)
        EXPECT_EQ(d, TDWUserDefaults::standard());
    const QString expected = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)).filePath(QStringLiteral("Tidewell/defaults.plist"));
    EXPECT_EQ(TDWUserDefaults::standard()->path(), expected);
    EXPECT_EQ(TDWUserDefaults::standard()->thread(), QCoreApplication::instance()->thread());

    // Created by a worker thread, it still writes from the main thread's event loop.
    seen[0]->setString(QStringLiteral("v"), QStringLiteral("standard-key"));
    QCoreApplication::processEvents();
    EXPECT_EQ(fileContents(expected).value(QStringLiteral("standard-key")), QStringLiteral("v"));
}

} // namespace
