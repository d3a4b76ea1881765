#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// One resource of a resource fork: a four-character type (its characters
// big-endian in 32 bits), an id, a name (empty when none) and bytes.
struct TDWResource
{
    quint32 type = 0;
    qint16 id = 0;
    QString name;
    QByteArray data;

    bool operator==(const TDWResource &other) const = default;
};

// The resources of one file, at most one per type and id, with the stored form
// they take in the file's extended attribute. That form, all numbers big-endian:
//
//   "TDWR"                 4 bytes, marks the layout
//   version                1 byte, 1
//   count                  2 bytes, unsigned
//   count times:
//     type                 4 bytes, the four characters in order
//     id                   2 bytes, signed
//     name length          1 byte, unsigned (a name holds at most 255 bytes, as
//                          a resource name always has)
//     name                 that many bytes of UTF-8
//     data length          4 bytes, unsigned
//     data                 that many bytes
//
// and nothing after the last resource.
class TDWResourceMap
{
public:
    static constexpr int MaxNameBytes = 255;
    static constexpr int MaxCount = 0xFFFF;

    // Adds a resource, replacing any of the same type and id. False (nothing
    // changed) when the name is longer than MaxNameBytes in UTF-8, the data
    // longer than the stored form can say, or the map is full.
    bool add(const TDWResource &resource);
    const QList<TDWResource> &resources() const { return m_resources; }

    QByteArray encode() const;
    // Empty for anything that is not exactly the stored form, including a
    // type and id stored twice or a name that is not UTF-8.
    static std::optional<TDWResourceMap> decode(const QByteArray &bytes);

private:
    QList<TDWResource> m_resources;
};
