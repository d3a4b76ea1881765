#include "common/MYDigest.h"

#include "platform/foundation/TDWLog.h"

#include <openssl/evp.h>

#include <cstring>
#include <typeinfo>

QString MYDigest::hexString() const
{
    return QString::fromLatin1(m_raw.toHex().toUpper());
}

QString MYDigest::abbreviatedHexString() const
{
    return QString::fromLatin1(m_raw.first(qMin<qsizetype>(4, m_raw.size())).toHex().toUpper()) + QStringLiteral("...");
}

QString MYDigest::description() const
{
    return QStringLiteral("%1[%2]").arg(className(), abbreviatedHexString());
}

bool MYDigest::isEqual(const MYDigest &other) const
{
    return typeid(*this) == typeid(other) && m_raw == other.m_raw;
}

size_t MYDigest::hash() const
{
    size_t word = 0;
    std::memcpy(&word, m_raw.constData(), qMin<size_t>(sizeof word, size_t(m_raw.size())));
    return word;
}

int MYDigest::compare(const MYDigest &other) const
{
    const qsizetype common = qMin(m_raw.size(), other.m_raw.size());
    const int bytes = std::memcmp(m_raw.constData(), other.m_raw.constData(), size_t(common));
    if (bytes != 0)
        return bytes < 0 ? -1 : 1;
    return m_raw.size() == other.m_raw.size() ? 0 : (m_raw.size() < other.m_raw.size() ? -1 : 1);
}

QVariantMap MYDigest::encodeWithCoder() const
{
    return {{ArchiveKey, m_raw}};
}

bool MYDigest::computeWith(const EVP_MD *md, uchar *out, const void *bytes, qsizetype length)
{
    if (length < 0 || (!bytes && length > 0)) {
        tdwLog(QStringLiteral("ERROR: Invalid parameter not satisfying: %1").arg(length < 0 ? QStringLiteral("length>=0") : QStringLiteral("bytes!=NULL")));
        return false;
    }
    static const char empty = 0;
    return EVP_Digest(bytes ? bytes : &empty, size_t(length), out, nullptr, md, nullptr) == 1;
}

QByteArray MYDigest::bytesFromHex(const QString &hex, qsizetype length)
{
    // Strict: exactly two hexadecimal digits per byte, nothing else (no signs,
    // spaces or "0x" that a looser reading would let through).
    if (hex.size() != 2 * length)
        return {};
    for (const QChar c : hex) {
        const char16_t u = c.unicode();
        if (!((u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F')))
            return {};
    }
    return QByteArray::fromHex(hex.toLatin1());
}
