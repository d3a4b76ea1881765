#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/json/TDWJsonObject.h"

#include <QByteArray>
#include <QList>
#include <QVariant>
#include <QVariantMap>

#include <initializer_list>
#include <optional>
#include <string_view>

// Reads what servers answer in JSON, with full validation and the same limits
// for every answer: one JSON value in valid UTF-8 (a leading byte order mark
// is allowed), at most MaxBytes long, nesting no deeper than MaxDepth. What it
// refuses it reports as an error of TDWJsonError. A reader holds the last
// answer it read; the views it hands out stay valid until it reads again or
// is destroyed.
class TDWJsonReader
{
public:
    // Nesting deeper than any service sends is refused rather than followed.
    static constexpr int MaxDepth = 256;
    // The HTTP layer keeps a body in memory up to the same size; the reader
    // needs several times an answer's size besides.
    static constexpr qsizetype MaxBytes = qsizetype(64) << 20;

    // The answer's root object; nothing when the bytes are no answer as above
    // or their value is not an object (`error` says which).
    std::optional<TDWJsonObject> readObject(const QByteArray &bytes, TDWError *error = nullptr);

    // A list page of the Google JSON APIs: an object whose "items" is an array
    // of objects. The APIs leave an empty array out, so a page without "items"
    // is an empty page when its "kind" is one of `listKinds`. Nothing for any
    // other document, so a page of another kind (an error page, say) is never
    // read as an empty list.
    struct ItemsPage
    {
        TDWJsonObject object;
        QList<TDWJsonObject> items;
    };
    std::optional<ItemsPage> readItemsPage(const QByteArray &bytes, std::initializer_list<std::string_view> listKinds);

    // The value in `bytes` as property-list values (see TDWJsonObject::variant);
    // nothing when the bytes are no answer as described above.
    static std::optional<QVariant> parse(const QByteArray &bytes, TDWError *error = nullptr);
    // parse() of an answer that must be an object.
    static std::optional<QVariantMap> parseObject(const QByteArray &bytes, TDWError *error = nullptr);
    // Whether parse(bytes) would give `value` (see TDWJsonObject::matches),
    // found without building the values; false when the bytes are no answer.
    static bool matches(const QByteArray &bytes, const QVariant &value);

private:
    // The answer's root value; nothing when the bytes are no answer.
    std::optional<simdjson::dom::element> read(const QByteArray &bytes, TDWError *error);

    simdjson::dom::parser m_parser;
};
