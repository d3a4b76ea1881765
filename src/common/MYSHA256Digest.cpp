#include "common/MYSHA256Digest.h"

#include <openssl/evp.h>

#include <algorithm>

MYSHA256Digest::MYSHA256Digest(const RawSHA256Digest &raw)
    : MYDigest(QByteArray(reinterpret_cast<const char *>(raw.data()), Length))
{
}

MYSHA256Digest MYSHA256Digest::digestFromRawSHA256Digest(const RawSHA256Digest &raw)
{
    return MYSHA256Digest(raw);
}

MYSHA256Digest::RawSHA256Digest MYSHA256Digest::rawSHA256Digest() const
{
    RawSHA256Digest raw;
    std::copy_n(bytes(), Length, raw.begin());
    return raw;
}

bool MYSHA256Digest::computeDigest(uchar *out, const void *bytes, qsizetype length)
{
    return computeWith(EVP_sha256(), out, bytes, length);
}

std::optional<MYSHA256Digest> MYSHA256Digest::digestOfBytes(const void *bytes, qsizetype length)
{
    return ofBytes<MYSHA256Digest>(EVP_sha256(), bytes, length);
}

MYSHA256Digest MYSHA256Digest::digestOfData(const QByteArray &data)
{
    // A byte array always holds valid input.
    return *digestOfBytes(data.constData(), data.size());
}

std::optional<MYSHA256Digest> MYSHA256Digest::digestFromDigestData(const QByteArray &data)
{
    return fromDigestData<MYSHA256Digest>(data);
}

std::optional<MYSHA256Digest> MYSHA256Digest::digestFromHexString(const QString &hex)
{
    return fromHexString<MYSHA256Digest>(hex);
}

std::optional<MYSHA256Digest> MYSHA256Digest::initWithCoder(const QVariantMap &archive)
{
    return fromCoder<MYSHA256Digest>(archive);
}
