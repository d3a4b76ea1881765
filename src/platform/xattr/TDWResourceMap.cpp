#include "platform/xattr/TDWResourceMap.h"

#include <QStringDecoder>
#include <QtEndian>

#include <algorithm>
#include <limits>

namespace {

const QByteArray Magic = QByteArrayLiteral("TDWR");
constexpr quint8 Version = 1;

template<typename T>
void appendNumber(QByteArray &out, T value)
{
    char bytes[sizeof(T)];
    qToBigEndian(value, bytes);
    out.append(bytes, sizeof(T));
}

// Reads the stored form front to back; any read past the end fails the reader.
class Reader
{
public:
    explicit Reader(const QByteArray &bytes) : m_bytes(bytes) {}

    template<typename T>
    bool number(T *value)
    {
        if (m_bytes.size() - m_at < qsizetype(sizeof(T)))
            return false;
        *value = qFromBigEndian<T>(m_bytes.constData() + m_at);
        m_at += qsizetype(sizeof(T));
        return true;
    }

    bool bytes(qint64 count, QByteArray *value)
    {
        if (m_bytes.size() - m_at < count)
            return false;
        *value = m_bytes.mid(m_at, qsizetype(count));
        m_at += qsizetype(count);
        return true;
    }

    bool atEnd() const { return m_at == m_bytes.size(); }

private:
    const QByteArray &m_bytes;
    qsizetype m_at = 0;
};

std::optional<QString> utf8Name(const QByteArray &bytes)
{
    // A leading byte-order mark is part of the name, not dropped, so the name writes back as read.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString name = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return name;
}

std::optional<TDWResource> readResource(Reader &reader)
{
    TDWResource resource;
    quint8 nameLength = 0;
    quint32 dataLength = 0;
    QByteArray name;
    if (!reader.number(&resource.type) || !reader.number(&resource.id) || !reader.number(&nameLength) || !reader.bytes(nameLength, &name)
        || !reader.number(&dataLength) || !reader.bytes(dataLength, &resource.data))
        return std::nullopt;
    const std::optional<QString> decoded = utf8Name(name);
    if (!decoded)
        return std::nullopt;
    resource.name = *decoded;
    return resource;
}

} // namespace

bool TDWResourceMap::add(const TDWResource &resource)
{
    if (resource.name.toUtf8().size() > MaxNameBytes || quint64(resource.data.size()) > std::numeric_limits<quint32>::max())
        return false;
    const auto same = [&](const TDWResource &r) { return r.type == resource.type && r.id == resource.id; };
    const bool replacing = std::any_of(m_resources.cbegin(), m_resources.cend(), same);
    if (!replacing && m_resources.size() >= MaxCount)
        return false;
    m_resources.removeIf(same);
    m_resources.append(resource);
    return true;
}

QByteArray TDWResourceMap::encode() const
{
    QByteArray out = Magic;
    appendNumber<quint8>(out, Version);
    appendNumber<quint16>(out, quint16(m_resources.size()));
    for (const TDWResource &resource : m_resources) {
        const QByteArray name = resource.name.toUtf8();
        appendNumber<quint32>(out, resource.type);
        appendNumber<qint16>(out, resource.id);
        appendNumber<quint8>(out, quint8(name.size()));
        out += name;
        appendNumber<quint32>(out, quint32(resource.data.size()));
        out += resource.data;
    }
    return out;
}

std::optional<TDWResourceMap> TDWResourceMap::decode(const QByteArray &bytes)
{
    Reader reader(bytes);
    QByteArray magic;
    quint8 version = 0;
    quint16 count = 0;
    if (!reader.bytes(Magic.size(), &magic) || magic != Magic || !reader.number(&version) || version != Version || !reader.number(&count))
        return std::nullopt;
    TDWResourceMap map;
    for (quint16 i = 0; i < count; ++i) {
        const std::optional<TDWResource> resource = readResource(reader);
        if (!resource)
            return std::nullopt;
        const qsizetype before = map.m_resources.size();
        if (!map.add(*resource) || map.m_resources.size() == before)
            return std::nullopt; // stored twice
    }
    if (!reader.atEnd())
        return std::nullopt;
    return map;
}
