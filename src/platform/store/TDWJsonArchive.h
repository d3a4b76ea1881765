#pragma once

#include "platform/foundation/TDWError.h"

#include <QByteArray>
#include <QVariant>

// Archives property-list-like values (maps, lists, strings, numbers, booleans, dates,
// data) as JSON text, for attributes that hold a whole dictionary (extensible
// properties, an event's parsed JSON). Dates and data, which JSON lacks, become
// {"$date": seconds since 2001-01-01T00:00:00Z} and {"$data": "<base64>"}; a map key
// that starts with "$" is written with one more "$", so every value round-trips.
class TDWJsonArchive
{
public:
    // Arrays and maps nest at most this deep, as in the remote pages the values come from.
    static constexpr int MaxDepth = 256;

    static QByteArray archive(const QVariant &value);
    // The archived value; a null QVariant and an error for text that is not an archive
    // or nests deeper than MaxDepth.
    static QVariant unarchive(const QByteArray &json, TDWError *error);
};
