#include "platform/foundation/TDWPropertyList.h"

#include "TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QPoint>
#include <QProcess>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

// Equal values of the same type all the way down (QVariant's own == converts
// numbers across types, and NaN never equals itself).
::testing::AssertionResult sameValue(const QVariant &expected, const QVariant &actual, const QString &where = QStringLiteral("value"))
{
    if (expected.typeId() != actual.typeId())
        return ::testing::AssertionFailure() << qPrintable(where) << ": type " << expected.typeName() << " expected, got " << actual.typeName();
    if (expected.typeId() == QMetaType::QVariantMap) {
        const QVariantMap e = expected.toMap(), a = actual.toMap();
        if (e.keys() != a.keys())
            return ::testing::AssertionFailure() << qPrintable(where) << ": keys " << qPrintable(e.keys().join(u',')) << " expected, got "
                                                 << qPrintable(a.keys().join(u','));
        for (auto it = e.constBegin(); it != e.constEnd(); ++it) {
            if (auto r = sameValue(it.value(), a.value(it.key()), where + u'.' + it.key()); !r)
                return r;
        }
        return ::testing::AssertionSuccess();
    }
    if (expected.typeId() == QMetaType::QVariantList) {
        const QVariantList e = expected.toList(), a = actual.toList();
        if (e.size() != a.size())
            return ::testing::AssertionFailure() << qPrintable(where) << ": " << e.size() << " items expected, got " << a.size();
        for (qsizetype i = 0; i < e.size(); ++i) {
            if (auto r = sameValue(e[i], a[i], where + QStringLiteral("[%1]").arg(i)); !r)
                return r;
        }
        return ::testing::AssertionSuccess();
    }
    if (expected.typeId() == QMetaType::Double && std::isnan(expected.toDouble()) && std::isnan(actual.toDouble()))
        return ::testing::AssertionSuccess();
    if (expected.typeId() == QMetaType::QDateTime && expected.toDateTime().timeSpec() != actual.toDateTime().timeSpec())
        return ::testing::AssertionFailure() << qPrintable(where) << ": time spec differs";
    if (expected != actual)
        return ::testing::AssertionFailure() << qPrintable(where) << ": " << qPrintable(expected.toString()) << " expected, got "
                                             << qPrintable(actual.toString());
    return ::testing::AssertionSuccess();
}

QByteArray plist(const QByteArray &body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" + body + "</plist>";
}

QDateTime utc(int y, int mo, int d, int h, int mi, int s)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
}

QByteArray allBytes()
{
    QByteArray bytes;
    for (int i = 0; i < 1000; ++i)
        bytes.append(char(i % 256));
    return bytes;
}

struct RoundTrip
{
    const char *name;
    QVariant input;
    QVariant expected; // invalid: the input itself
};

const QList<RoundTrip> &roundTrips()
{
    static const QList<RoundTrip> rows = {
        {"string", QStringLiteral("hello"), {}},
        {"empty string", QString(), QString()},
        {"markup characters", QStringLiteral("<a href=\"x\"> & ]]> 'q'"), {}},
        {"unicode beyond the BMP", QStringLiteral("Gr\u00fc\u00dfe \U0001F600 \u65e5\u672c"), {}},
        {"carriage returns and tabs", QStringLiteral("a\r\nb\rc\td\n"), {}},
        {"surrounding spaces", QStringLiteral("  padded  "), {}},
        {"zero", QVariant::fromValue(qint64(0)), {}},
        {"negative", QVariant::fromValue(qint64(-1)), {}},
        {"int64 max", QVariant::fromValue(std::numeric_limits<qint64>::max()), {}},
        {"int64 min", QVariant::fromValue(std::numeric_limits<qint64>::min()), {}},
        {"int", QVariant(int(-42)), QVariant::fromValue(qint64(-42))},
        {"uint", QVariant(uint(4000000000u)), QVariant::fromValue(qint64(4000000000LL))},
        {"small ulonglong", QVariant::fromValue(qulonglong(7)), QVariant::fromValue(qint64(7))},
        {"uint64 max", QVariant::fromValue(std::numeric_limits<qulonglong>::max()), {}},
        {"one tenth", 0.1, {}},
        {"tiny", -2.5e-300, {}},
        {"denormal", std::numeric_limits<double>::denorm_min(), {}},
        {"double max", std::numeric_limits<double>::max(), {}},
        {"pi", 3.141592653589793, {}},
        {"whole real", 2.0, {}},
        {"float", QVariant(1.5f), 1.5},
        {"nan", std::numeric_limits<double>::quiet_NaN(), {}},
        {"infinity", std::numeric_limits<double>::infinity(), {}},
        {"minus infinity", -std::numeric_limits<double>::infinity(), {}},
        {"true", true, {}},
        {"false", false, {}},
        {"date", utc(2026, 12, 10, 12, 0, 0), {}},
        {"date before 1970", utc(1901, 1, 2, 3, 4, 5), {}},
        {"date with an offset becomes UTC", QDateTime(QDate(2026, 6, 1), QTime(14, 30, 0), QTimeZone(7200)), utc(2026, 6, 1, 12, 30, 0)},
        {"empty data", QByteArray(), {}},
        {"every byte value", allBytes(), {}},
        {"empty dict", QVariantMap(), {}},
        {"empty array", QVariantList(), {}},
        {"nested",
         QVariantMap{{QStringLiteral("list"), QVariantList{QStringLiteral("a"), QVariant::fromValue(qint64(1)), QVariantMap{{QStringLiteral("deep"), true}}}},
                     {QStringLiteral("<&key>"), QVariantList{QVariantList{}, QVariantMap{}}},
                     {QString(), QStringLiteral("empty key")}},
         {}},
        {"hash becomes a map", QVariantHash{{QStringLiteral("b"), 1.5}, {QStringLiteral("a"), false}},
         QVariantMap{{QStringLiteral("b"), 1.5}, {QStringLiteral("a"), false}}},
        {"string list becomes an array", QStringList{QStringLiteral("x"), QStringLiteral("y")}, QVariantList{QStringLiteral("x"), QStringLiteral("y")}},
    };
    return rows;
}

TEST(TDWPropertyList, EveryTypeRoundTrips)
{
    for (const RoundTrip &row : roundTrips()) {
        SCOPED_TRACE(row.name);
        TDWError error;
        const QByteArray xml = TDWPropertyList::write(row.input, &error);
        ASSERT_FALSE(xml.isEmpty()) << qPrintable(error.description());
        const QVariant back = TDWPropertyList::read(xml, &error);
        EXPECT_TRUE(sameValue(row.expected.isValid() ? row.expected : row.input, back)) << xml.constData();
    }
}

TEST(TDWPropertyList, WritesTheUsualDocumentWithSortedKeys)
{
    const QVariantMap value{{QStringLiteral("zeta"), QVariant::fromValue(qint64(1))},
                            {QStringLiteral("alpha"), QStringLiteral("a")},
                            {QStringLiteral("mid"), QVariantList{}}};
    const QByteArray expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">\n"
        "<dict>\n"
        "\t<key>alpha</key>\n"
        "\t<string>a</string>\n"
        "\t<key>mid</key>\n"
        "\t<array/>\n"
        "\t<key>zeta</key>\n"
        "\t<integer>1</integer>\n"
        "</dict>\n"
        "</plist>\n";
    EXPECT_EQ(TDWPropertyList::write(value, nullptr), expected);
}

TEST(TDWPropertyList, ReadsTheFormsOtherWritersUse)
{
    const struct
    {
        const char *name;
        QByteArray body;
        QVariant expected;
    } rows[] = {
        {"self-closing string", "<string/>", QString()},
        {"open-close string", "<string></string>", QString()},
        {"whitespace and comments between elements",
         "\n\t<dict>\n  <!-- note -->\n\t<key>a</key>\n\n\t<integer>1</integer>\n<?pi x?></dict>\n",
         QVariantMap{{QStringLiteral("a"), QVariant::fromValue(qint64(1))}}},
        {"padded integer", "<integer> 12 </integer>", QVariant::fromValue(qint64(12))},
        {"plus sign", "<integer>+5</integer>", QVariant::fromValue(qint64(5))},
        {"hex integer", "<integer>0x1F</integer>", QVariant::fromValue(qint64(31))},
        {"integer-looking real", "<real>1</real>", 1.0},
        {"exponent real", "<real>-1.5E+3</real>", -1500.0},
        {"inf spelled short", "<real>inf</real>", std::numeric_limits<double>::infinity()},
        {"infinity in capitals", "<real>-INFINITY</real>", -std::numeric_limits<double>::infinity()},
        {"wrapped base64", "<data>\n\taGVs\n\tbG8=\n</data>", QByteArray("hello")},
        {"CDATA string", "<string><![CDATA[<raw> & text]]></string>", QStringLiteral("<raw> & text")},
        {"character references", "<string>&#x41;&amp;&#66;&lt;</string>", QStringLiteral("A&B<")},
        {"true written open-close", "<true></true>", true},
        {"later duplicate key wins", "<dict><key>k</key><string>1</string><key>k</key><string>2</string></dict>",
         QVariantMap{{QStringLiteral("k"), QStringLiteral("2")}}},
        {"latin-1 document",
         QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><plist><string>caf\xe9</string></plist>"), QStringLiteral("caf\u00e9")},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        TDWError error;
        const QByteArray doc = row.body.startsWith("<?xml") ? row.body : plist(row.body);
        const QVariant value = TDWPropertyList::read(doc, &error);
        EXPECT_TRUE(error.isNull()) << qPrintable(error.description());
        EXPECT_TRUE(sameValue(row.expected, value));
    }
}

TEST(TDWPropertyList, MalformedDocumentsFailWithAnError)
{
    const QByteArray laughs =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [\n <!ENTITY a \"aaaaaaaaaa\">\n"
        " <!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">\n <!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">\n"
        " <!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">\n <!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">\n"
        " <!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">\n <!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">\n"
        " <!ENTITY h \"&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;\">\n <!ENTITY i \"&h;&h;&h;&h;&h;&h;&h;&h;&h;&h;\">\n"
        "]>\n<plist><string>&i;&i;&i;&i;&i;&i;&i;&i;&i;&i;</string></plist>";
    const QByteArray external = QByteArray("<?xml version=\"1.0\"?>\n<!DOCTYPE plist [<!ENTITY x SYSTEM \"file://")
                                + QFile::encodeName(tdwtest::sourcePath(QStringLiteral("CMakeLists.txt"))) + "\">]>\n<plist><string>&x;</string></plist>";
    const struct
    {
        const char *name;
        QByteArray doc;
    } rows[] = {
        {"empty input", ""},
        {"not XML", "just some text"},
        {"truncated", plist("<dict><key>a</key><string>b</string>").left(60)},
        {"unclosed element", plist("<array><string>x</string>")},
        {"wrong root", "<?xml version=\"1.0\"?><array><string>x</string></array>"},
        {"empty plist", plist("")},
        {"two top-level values", plist("<string>a</string><string>b</string>")},
        {"text beside the value", plist("loose<string>a</string>")},
        {"unknown element", plist("<float>1.0</float>")},
        {"integer abc", plist("<integer>abc</integer>")},
        {"empty integer", plist("<integer></integer>")},
        {"fractional integer", plist("<integer>1.5</integer>")},
        {"integer beyond 64 bits", plist("<integer>18446744073709551616</integer>")},
        {"negative integer beyond 64 bits", plist("<integer>-9223372036854775809</integer>")},
        {"real abc", plist("<real>abc</real>")},
        {"real overflow", plist("<real>1e999</real>")},
        {"key without value", plist("<dict><key>a</key></dict>")},
        {"value without key", plist("<dict><string>x</string></dict>")},
        {"odd key and value count", plist("<dict><key>a</key><string>x</string><string>y</string></dict>")},
        {"key holding markup", plist("<dict><key><string>a</string></key><string>x</string></dict>")},
        {"text inside a dict", plist("<dict>stray<key>a</key><true/></dict>")},
        {"markup inside a string", plist("<string>a<b/>c</string>")},
        {"non-empty true", plist("<true>yes</true>")},
        {"bad month", plist("<date>2026-13-01T00:00:00Z</date>")},
        {"bad day", plist("<date>2026-02-30T00:00:00Z</date>")},
        {"date without zone", plist("<date>2026-12-10T12:00:00</date>")},
        {"date in words", plist("<date>yesterday</date>")},
        {"bad base64 characters", plist("<data>!!!!</data>")},
        {"base64 of the wrong length", plist("<data>aGVsbG8</data>")},
        {"invalid UTF-8", plist("<string>\xff\xfe</string>")},
        {"undeclared entity", plist("<string>&nope;</string>")},
        {"undeclared entity beside the usual doctype",
         "<?xml version=\"1.0\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist><string>&nope;</string></plist>"},
        {"external entity", external},
        {"parameter entity", "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [<!ENTITY % p SYSTEM \"http://127.0.0.1:9/x.dtd\"> %p;]><plist><true/></plist>"},
        {"entity bomb", laughs},
        {"absurd nesting", plist(QByteArray("<array>").repeated(100000) + QByteArray("</array>").repeated(100000))},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        TDWError error;
        const QVariant value = TDWPropertyList::read(row.doc, &error);
        EXPECT_FALSE(value.isValid());
        EXPECT_EQ(error.domain(), TDWPropertyListError::Domain);
        EXPECT_EQ(error.code(), TDWPropertyListError::Corrupt);
        EXPECT_FALSE(error.localizedDescription().isEmpty());
        // Whatever the entity did, its content must not leak into the error or anywhere else.
        EXPECT_FALSE(error.localizedDescription().contains(QStringLiteral("tdw_add_subdirectories")));
    }
}

// libxml2 refuses elements nested deeper than 256 below the root unless told not
// to; the reader keeps that limit, so a deep document fails before it is built.
TEST(TDWPropertyList, NestingIsBoundedByTheParser)
{
    const auto nested = [](int depth) { return plist(QByteArray("<array>").repeated(depth) + QByteArray("</array>").repeated(depth)); };
    TDWError error;
    QVariant value = TDWPropertyList::read(nested(256), &error);
    EXPECT_TRUE(error.isNull()) << error.description().toStdString();
    int depth = 0;
    for (; value.typeId() == QMetaType::QVariantList; ++depth)
        value = value.toList().value(0);
    EXPECT_EQ(depth, 256);

    EXPECT_FALSE(TDWPropertyList::read(nested(257), &error).isValid());
    EXPECT_EQ(error.code(), TDWPropertyListError::Corrupt);
    EXPECT_TRUE(error.localizedDescription().contains(QStringLiteral("depth"))) << error.description().toStdString();
}

TEST(TDWPropertyList, ValuesWithoutAPropertyListFormAreRefused)
{
    const struct
    {
        const char *name;
        QVariant value;
    } rows[] = {
        {"invalid variant", QVariant()},
        {"unknown type", QVariant(QPoint(1, 2))},
        {"invalid date", QDateTime()},
        {"control character", QStringLiteral("bell\x07")},
        {"lone surrogate", QString(QChar(0xD800))},
        {"non-character", QString(QChar(0xFFFE))},
        {"nested bad value", QVariantMap{{QStringLiteral("ok"), 1}, {QStringLiteral("bad"), QVariantList{QVariant()}}}},
        {"bad key", QVariantMap{{QString::fromUtf8("nul\0key", 7), 1}}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        TDWError error;
        EXPECT_TRUE(TDWPropertyList::write(row.value, &error).isEmpty());
        EXPECT_EQ(error.domain(), TDWPropertyListError::Domain);
        EXPECT_EQ(error.code(), TDWPropertyListError::Unsupported);
    }
}

TEST(TDWPropertyList, FilesAreWrittenWholeAndReportFailures)
{
    const QString dir = tdwtest::freshDir();
    const QString path = QDir(dir).filePath(QStringLiteral("settings.plist"));
    const QVariantMap value{{QStringLiteral("k"), QStringLiteral("v")}};
    TDWError error;
    ASSERT_TRUE(TDWPropertyList::writeFile(value, path, &error)) << qPrintable(error.description());
    EXPECT_TRUE(sameValue(value, TDWPropertyList::readFile(path, &error)));

    // An unwritable value leaves the existing file alone.
    EXPECT_FALSE(TDWPropertyList::writeFile(QVariant(), path, &error));
    EXPECT_EQ(error.code(), TDWPropertyListError::Unsupported);
    EXPECT_TRUE(sameValue(value, TDWPropertyList::readFile(path, &error)));

    EXPECT_FALSE(TDWPropertyList::writeFile(value, QDir(dir).filePath(QStringLiteral("missing/x.plist")), &error));
    EXPECT_EQ(error.code(), TDWPropertyListError::FileWrite);

    EXPECT_FALSE(TDWPropertyList::readFile(QDir(dir).filePath(QStringLiteral("absent.plist")), &error).isValid());
    EXPECT_EQ(error.code(), TDWPropertyListError::FileRead);

    QFile garbage(QDir(dir).filePath(QStringLiteral("garbage.plist")));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("<plist><integer>x</integer></plist>");
    garbage.close();
    EXPECT_FALSE(TDWPropertyList::readFile(garbage.fileName(), &error).isValid());
    EXPECT_EQ(error.code(), TDWPropertyListError::Corrupt);
    EXPECT_TRUE(error.localizedDescription().contains(garbage.fileName()));
}

// One value of every type, described once for us and once for Python.
QVariantMap crossCheckValue()
{
    return QVariantMap{
        {QStringLiteral("string"), QStringLiteral("Gr\u00fc\u00dfe <&> \U0001F600\ttab")},
        {QStringLiteral("empty"), QString()},
        {QStringLiteral("min"), QVariant::fromValue(std::numeric_limits<qint64>::min())},
        {QStringLiteral("max"), QVariant::fromValue(std::numeric_limits<qint64>::max())},
        {QStringLiteral("umax"), QVariant::fromValue(std::numeric_limits<qulonglong>::max())},
        {QStringLiteral("real"), 0.1},
        {QStringLiteral("big"), 1.7976931348623157e308},
        {QStringLiteral("inf"), -std::numeric_limits<double>::infinity()},
        {QStringLiteral("nan"), std::numeric_limits<double>::quiet_NaN()},
        {QStringLiteral("yes"), true},
        {QStringLiteral("no"), false},
        {QStringLiteral("date"), utc(2026, 12, 10, 12, 0, 0)},
        {QStringLiteral("data"), allBytes()},
        {QStringLiteral("list"), QVariantList{QVariant::fromValue(qint64(1)), QStringLiteral("two"), QVariantMap{}, QVariantList{}}},
        {QStringLiteral("dict"), QVariantMap{{QStringLiteral("inner"), QStringLiteral("x")}}},
    };
}

const char *const PythonValue = R"PY(
import datetime, math, plistlib, sys
expected = {
    'string': 'Gr\u00fc\u00dfe <&> \U0001F600\ttab', 'empty': '',
    'min': -2**63, 'max': 2**63 - 1, 'umax': 2**64 - 1,
    'real': 0.1, 'big': 1.7976931348623157e308, 'inf': float('-inf'), 'nan': float('nan'),
    'yes': True, 'no': False,
    'date': datetime.datetime(2026, 12, 10, 12, 0, 0),
    'data': bytes(i % 256 for i in range(1000)),
    'list': [1, 'two', {}, []], 'dict': {'inner': 'x'},
}
)PY";

QString runPython(const QString &script, const QString &path)
{
    QProcess python;
    python.start(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromLatin1(PythonValue) + script, path});
    if (!python.waitForFinished(60000))
        return QStringLiteral("python3 did not finish");
    if (python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0)
        return QString::fromUtf8(python.readAllStandardError() + python.readAllStandardOutput());
    return {};
}

TEST(TDWPropertyList, PythonReadsWhatWeWrite)
{
    const QString path = QDir(tdwtest::freshDir()).filePath(QStringLiteral("ours.plist"));
    TDWError error;
    ASSERT_TRUE(TDWPropertyList::writeFile(crossCheckValue(), path, &error)) << qPrintable(error.description());
    const QString failure = runPython(QStringLiteral(R"PY(
with open(sys.argv[1], 'rb') as f:
    got = plistlib.load(f)
assert math.isnan(got.pop('nan')), 'nan'
expected.pop('nan')
for key in expected:
    assert type(got[key]) is type(expected[key]) and got[key] == expected[key], (key, got[key])
assert sorted(got) == sorted(expected), sorted(got)
)PY"),
                                      path);
    EXPECT_TRUE(failure.isEmpty()) << qPrintable(failure);
}

TEST(TDWPropertyList, WeReadWhatPythonWrites)
{
    const QString path = QDir(tdwtest::freshDir()).filePath(QStringLiteral("python.plist"));
    const QString failure = runPython(QStringLiteral(R"PY(
with open(sys.argv[1], 'wb') as f:
    plistlib.dump(expected, f, fmt=plistlib.FMT_XML)
)PY"),
                                      path);
    ASSERT_TRUE(failure.isEmpty()) << qPrintable(failure);
    TDWError error;
    const QVariant value = TDWPropertyList::readFile(path, &error);
    EXPECT_TRUE(error.isNull()) << qPrintable(error.description());
    EXPECT_TRUE(sameValue(crossCheckValue(), value));
}

} // namespace
