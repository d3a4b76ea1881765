#include "common/MYDataDigest.h"

#include "ExternalTools.h"
#include "QtPrinters.h"
#include "TestSupport.h"

#include <QRandomGenerator>
#include <QSet>

#include <gtest/gtest.h>

#include <cstring>

namespace {

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray data(size, Qt::Uninitialized);
    for (char &b : data)
        b = char(random.bounded(256));
    return data;
}

// The hexadecimal digest that a coreutils program prints for the data.
QString coreutilsDigest(const QString &program, const QByteArray &data)
{
    return QString::fromLatin1(runTool(program, {}, data).split(' ').first()).toUpper();
}

} // namespace

TEST(MYDigest, DigestsAgreeWithCoreutils)
{
    const QByteArray inputs[] = {QByteArray(), "abc", QByteArray(1000000, 'a'), randomBytes(65537, 1), QByteArray(1, '\0')};
    for (const QByteArray &data : inputs) {
        EXPECT_EQ(MYDataDigest::my_SHA1Digest(data).hexString(), coreutilsDigest(QStringLiteral("sha1sum"), data)) << data.size();
        EXPECT_EQ(MYDataDigest::my_SHA256Digest(data).hexString(), coreutilsDigest(QStringLiteral("sha256sum"), data)) << data.size();
    }
}

TEST(MYDigest, ClassPropertiesAndTexts)
{
    const MYSHA1Digest sha1 = MYSHA1Digest::digestOfData("abc");
    const MYSHA256Digest sha256 = MYSHA256Digest::digestOfData("abc");
    EXPECT_EQ(sha1.algorithm(), 8u);
    EXPECT_EQ(sha1.length(), 20);
    EXPECT_EQ(sha1.asData().size(), 20);
    EXPECT_EQ(sha256.algorithm(), 0x8000000Eu);
    EXPECT_EQ(sha256.length(), 32);
    EXPECT_EQ(sha1.abbreviatedHexString(), QStringLiteral("A9993E36..."));
    EXPECT_EQ(sha1.description(), QStringLiteral("MYSHA1Digest[A9993E36...]"));
    EXPECT_EQ(sha256.description(), QStringLiteral("MYSHA256Digest[BA7816BF...]"));
}

TEST(MYDigest, FromHexStringAcceptsExactlyTwoDigitsPerByte)
{
    const QString sha1Hex = QStringLiteral("a9993e364706816aba3e25717850c26c9cd0d89d");
    struct Case
    {
        QString hex;
        bool valid;
    };
    const Case cases[] = {
        {sha1Hex, true},
        {sha1Hex.toUpper(), true},
        {sha1Hex.chopped(1), false},
        {sha1Hex + QLatin1Char('0'), false},
        {QString(), false},
        {QStringLiteral("0g") + sha1Hex.mid(2), false},
        {QStringLiteral("0") + sha1Hex.mid(2) + QStringLiteral("0"), true},
        {QStringLiteral(" 1") + sha1Hex.mid(2), false}, // no space, sign or prefix inside a pair
        {QStringLiteral("+1") + sha1Hex.mid(2), false},
        {QStringLiteral("0x") + sha1Hex.mid(2), false},
        {QString::fromUtf8("\u00e9") + sha1Hex.mid(1), false},
    };
    for (const Case &c : cases) {
        const auto digest = MYSHA1Digest::digestFromHexString(c.hex);
        ASSERT_EQ(digest.has_value(), c.valid) << c.hex;
        if (digest) {
            EXPECT_EQ(digest->hexString(), c.hex.toUpper());
        }
    }
    const QString sha256Hex = MYSHA256Digest::digestOfData("abc").hexString();
    EXPECT_EQ(MYSHA256Digest::digestFromHexString(sha256Hex.toLower())->hexString(), sha256Hex);
    EXPECT_FALSE(MYSHA256Digest::digestFromHexString(sha1Hex)); // the size belongs to the class
}

TEST(MYDigest, DigestDataMustHaveTheClassSize)
{
    for (const qsizetype size : {0, 19, 21, 32}) {
        EXPECT_FALSE(MYSHA1Digest::digestFromDigestData(QByteArray(size, 'x'))) << size;
        EXPECT_FALSE(MYSHA1Digest::initWithCoder({{MYDigest::ArchiveKey, QByteArray(size, 'x')}})) << size;
    }
    EXPECT_FALSE(MYSHA256Digest::digestFromDigestData(QByteArray(20, 'x')));
    const auto taken = MYSHA1Digest::digestFromDigestData(QByteArray(20, '\x7f'));
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->asData(), QByteArray(20, '\x7f'));
}

TEST(MYDigest, EqualityOrderingAndHash)
{
    QByteArray low(32, '\0'), high(32, '\0');
    high[31] = 1;
    const MYSHA256Digest a = *MYSHA256Digest::digestFromDigestData(low);
    const MYSHA256Digest b = *MYSHA256Digest::digestFromDigestData(high);
    const MYSHA256Digest sameAsA = *MYSHA256Digest::digestFromDigestData(low);
    const MYSHA1Digest prefixOfA = *MYSHA1Digest::digestFromDigestData(low.first(20));
    const MYSHA1Digest prefixAgain = *MYSHA1Digest::digestFromDigestData(QByteArray(20, '\0'));

    struct Case
    {
        const MYDigest &left, &right;
        int order;
        bool equal;
    };
    const Case cases[] = {
        {a, a, 0, true},
        {a, sameAsA, 0, true},
        {a, b, -1, false},
        {b, a, 1, false},
        {prefixOfA, a, -1, false}, // equal prefix: the shorter first
        {a, prefixOfA, 1, false},
        {prefixOfA, prefixAgain, 0, true},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.left.compare(c.right), c.order) << c.left.description() << " vs " << c.right.description();
        EXPECT_EQ(c.left == c.right, c.equal) << c.left.description() << " vs " << c.right.description();
    }

    // Same bytes, different algorithms: never equal.
    const QByteArray twenty = MYSHA1Digest::digestOfData("x").asData();
    QByteArray padded = twenty + QByteArray(12, '\0');
    EXPECT_FALSE(*MYSHA1Digest::digestFromDigestData(twenty) == *MYSHA256Digest::digestFromDigestData(padded));

    QByteArray counting(20, '\0');
    for (int i = 0; i < 20; ++i)
        counting[i] = char(i + 1);
    quint64 expectedWord = 0;
    std::memcpy(&expectedWord, counting.constData(), sizeof expectedWord);
    EXPECT_EQ(MYSHA1Digest::digestFromDigestData(counting)->hash(), size_t(expectedWord));
    QSet<MYSHA1Digest> set{MYSHA1Digest::digestOfData("a"), MYSHA1Digest::digestOfData("a"), MYSHA1Digest::digestOfData("b")};
    EXPECT_EQ(set.size(), 2);
}

TEST(MYDigest, RawFormsAndArchiveRoundTrip)
{
    const MYSHA256Digest digest = MYDataDigest::my_SHA256Digest("round trip");
    EXPECT_EQ(MYSHA256Digest::digestFromRawSHA256Digest(digest.rawSHA256Digest()), digest);
    const MYSHA1Digest sha1 = MYDataDigest::my_SHA1Digest("round trip");
    EXPECT_EQ(MYSHA1Digest(sha1.rawSHA1Digest()), sha1);

    const QVariantMap archive = digest.encodeWithCoder();
    EXPECT_EQ(archive.keys(), QStringList{QStringLiteral("digest")});
    EXPECT_EQ(MYSHA256Digest::initWithCoder(archive), digest);
    EXPECT_FALSE(MYSHA256Digest::initWithCoder({}));
    EXPECT_FALSE(MYSHA256Digest::initWithCoder({{QStringLiteral("digest"), QStringLiteral("not bytes")}}));
}

TEST(MYDigest, BadParametersFailWithALogLineAndEmptyInputHasADigest)
{
    tdwtest::LogCapture log;
    uchar out[MYSHA256Digest::Length];
    EXPECT_FALSE(MYSHA256Digest::computeDigest(out, nullptr, 5));
    EXPECT_FALSE(MYSHA1Digest::digestOfBytes("abc", -1));
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Invalid parameter not satisfying: bytes!=NULL")));
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Invalid parameter not satisfying: length>=0")));

    const auto empty = MYSHA1Digest::digestOfBytes(nullptr, 0);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->hexString(), QStringLiteral("DA39A3EE5E6B4B0D3255BFEF95601890AFD80709"));
    ASSERT_TRUE(MYSHA256Digest::computeDigest(out, "", 0));
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(out), sizeof out), MYSHA256Digest::digestOfData({}).asData());
}
