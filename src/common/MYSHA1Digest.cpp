#include "common/MYSHA1Digest.h"

#include <openssl/evp.h>

#include <algorithm>

MYSHA1Digest::MYSHA1Digest(const RawSHA1Digest &raw)
    : MYDigest(QByteArray(reinterpret_cast<const char *>(raw.data()), Length))
{
}

MYSHA1Digest MYSHA1Digest::digestFromRawSHA1Digest(const RawSHA1Digest &raw)
{
    return MYSHA1Digest(raw);
}

MYSHA1Digest::RawSHA1Digest MYSHA1Digest::rawSHA1Digest() const
{
    RawSHA1Digest raw;
    std::copy_n(bytes(), Length, raw.begin());
    return raw;
}

bool MYSHA1Digest::computeDigest(uchar *out, const void *bytes, qsizetype length)
{
    return computeWith(EVP_sha1(), out, bytes, length);
}

std::optional<MYSHA1Digest> MYSHA1Digest::digestOfBytes(const void *bytes, qsizetype length)
{
    return ofBytes<MYSHA1Digest>(EVP_sha1(), bytes, length);
}

MYSHA1Digest MYSHA1Digest::digestOfData(const QByteArray &data)
{
    // A byte array always holds valid input.
    return *digestOfBytes(data.constData(), data.size());
}

std::optional<MYSHA1Digest> MYSHA1Digest::digestFromDigestData(const QByteArray &data)
{
    return fromDigestData<MYSHA1Digest>(data);
}

std::optional<MYSHA1Digest> MYSHA1Digest::digestFromHexString(const QString &hex)
{
    return fromHexString<MYSHA1Digest>(hex);
}

std::optional<MYSHA1Digest> MYSHA1Digest::initWithCoder(const QVariantMap &archive)
{
    return fromCoder<MYSHA1Digest>(archive);
}
