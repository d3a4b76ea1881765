#pragma once

#include "common/MYDigest.h"

#include <array>

// A SHA256 digest (FIPS 180-4) of 32 bytes.
class MYSHA256Digest final : public MYDigest
{
public:
    static constexpr quint32 Algorithm = 0x8000000E;
    static constexpr qsizetype Length = 32;
    using RawSHA256Digest = std::array<uchar, Length>;

    explicit MYSHA256Digest(const RawSHA256Digest &raw); // initWithRawSHA256Digest
    static MYSHA256Digest digestFromRawSHA256Digest(const RawSHA256Digest &raw);
    RawSHA256Digest rawSHA256Digest() const;

    // Writes the digest of the bytes into `out` (Length bytes); false for a
    // null pointer with a positive length or a negative length.
    static bool computeDigest(uchar *out, const void *bytes, qsizetype length);
    static std::optional<MYSHA256Digest> digestOfBytes(const void *bytes, qsizetype length);
    static MYSHA256Digest digestOfData(const QByteArray &data);
    // The bytes taken as a digest as they are: exactly Length of them, else none.
    static std::optional<MYSHA256Digest> digestFromDigestData(const QByteArray &data);
    // Exactly 2 x Length hexadecimal digits, either case, else none.
    static std::optional<MYSHA256Digest> digestFromHexString(const QString &hex);
    // The archived form of encodeWithCoder(); none when it holds no digest of this size.
    static std::optional<MYSHA256Digest> initWithCoder(const QVariantMap &archive);

    quint32 algorithm() const override { return Algorithm; }
    qsizetype length() const override { return Length; }
    QString className() const override { return QStringLiteral("MYSHA256Digest"); }

private:
    friend class MYDigest;
    explicit MYSHA256Digest(const QByteArray &raw) : MYDigest(raw) {}
};
