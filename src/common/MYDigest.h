#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <openssl/types.h>

#include <optional>

// An immutable message digest: the bytes of one digest of a concrete
// algorithm (MYSHA1Digest, MYSHA256Digest), with equality, ordering, hashing,
// an archived form and hexadecimal texts. Copies share the bytes.
class MYDigest
{
public:
    // The key of the bytes in the archived form.
    static inline const QString ArchiveKey = QStringLiteral("digest");

    virtual ~MYDigest() = default;

    // The algorithm's identifier and digest size in bytes, and the class name.
    virtual quint32 algorithm() const = 0;
    virtual qsizetype length() const = 0;
    virtual QString className() const = 0;

    const uchar *bytes() const { return reinterpret_cast<const uchar *>(m_raw.constData()); }
    QByteArray asData() const { return m_raw; }
    // Two upper-case hexadecimal digits per byte.
    QString hexString() const;
    // The first four bytes and "...": "A9993E36...".
    QString abbreviatedHexString() const;
    // "<class name>[<abbreviated hex>]".
    QString description() const;

    // Equal when of the same class with the same bytes.
    bool isEqual(const MYDigest &other) const;
    bool operator==(const MYDigest &other) const { return isEqual(other); }
    // The first eight bytes as a native machine word.
    size_t hash() const;
    // Byte-wise over the shorter length, then the shorter first: -1, 0 or 1.
    int compare(const MYDigest &other) const;

    QVariantMap encodeWithCoder() const;

protected:
    explicit MYDigest(QByteArray raw) : m_raw(std::move(raw)) {}
    MYDigest(const MYDigest &) = default;
    MYDigest &operator=(const MYDigest &) = default;

    // The class operations of the concrete classes, written once. A digest
    // holds exactly D::Length bytes, whatever its source says.
    template<class D> static std::optional<D> fromDigestData(const QByteArray &data)
    {
        if (data.size() != D::Length)
            return std::nullopt;
        return D(data);
    }
    template<class D> static std::optional<D> fromHexString(const QString &hex)
    {
        return fromDigestData<D>(bytesFromHex(hex, D::Length));
    }
    template<class D> static std::optional<D> ofBytes(const EVP_MD *md, const void *bytes, qsizetype length)
    {
        QByteArray raw(D::Length, Qt::Uninitialized);
        if (!computeWith(md, reinterpret_cast<uchar *>(raw.data()), bytes, length))
            return std::nullopt;
        return D(raw);
    }
    template<class D> static std::optional<D> fromCoder(const QVariantMap &archive)
    {
        const QVariant value = archive.value(ArchiveKey);
        if (value.typeId() != QMetaType::QByteArray)
            return std::nullopt;
        return fromDigestData<D>(value.toByteArray());
    }

    // Writes the digest of the bytes into `out`; false (and a log line) for a
    // null pointer with a positive length or a negative length. Empty input
    // has a digest like any other.
    static bool computeWith(const EVP_MD *md, uchar *out, const void *bytes, qsizetype length);

private:
    // The bytes of exactly `length` pairs of hexadecimal digits, else empty.
    static QByteArray bytesFromHex(const QString &hex, qsizetype length);

    QByteArray m_raw;
};

inline size_t qHash(const MYDigest &digest, size_t seed = 0)
{
    return digest.hash() ^ seed;
}
