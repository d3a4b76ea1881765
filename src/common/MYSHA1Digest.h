#pragma once

#include "common/MYDigest.h"

#include <array>

// A SHA1 digest (FIPS 180-4) of 20 bytes.
class MYSHA1Digest final : public MYDigest
{
public:
    static constexpr quint32 Algorithm = 8;
    static constexpr qsizetype Length = 20;
    using RawSHA1Digest = std::array<uchar, Length>;

    explicit MYSHA1Digest(const RawSHA1Digest &raw); // initWithRawSHA1Digest
    static MYSHA1Digest digestFromRawSHA1Digest(const RawSHA1Digest &raw);
    RawSHA1Digest rawSHA1Digest() const;

    // Writes the digest of the bytes into `out` (Length bytes); false for a
    // null pointer with a positive length or a negative length.
    static bool computeDigest(uchar *out, const void *bytes, qsizetype length);
    static std::optional<MYSHA1Digest> digestOfBytes(const void *bytes, qsizetype length);
    static MYSHA1Digest digestOfData(const QByteArray &data);
    // The bytes taken as a digest as they are: exactly Length of them, else none.
    static std::optional<MYSHA1Digest> digestFromDigestData(const QByteArray &data);
    // Exactly 2 x Length hexadecimal digits, either case, else none.
    static std::optional<MYSHA1Digest> digestFromHexString(const QString &hex);
    // The archived form of encodeWithCoder(); none when it holds no digest of this size.
    static std::optional<MYSHA1Digest> initWithCoder(const QVariantMap &archive);

    quint32 algorithm() const override { return Algorithm; }
    qsizetype length() const override { return Length; }
    QString className() const override { return QStringLiteral("MYSHA1Digest"); }

private:
    friend class MYDigest;
    explicit MYSHA1Digest(const QByteArray &raw) : MYDigest(raw) {}
};
