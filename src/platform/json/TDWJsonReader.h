#pragma once

#include "services/TDWJsonObject.h"

#include <QByteArray>
#include <QList>
#include <QVariant>

#include <initializer_list>
#include <optional>
#include <string_view>

// Reads JSON pages with full validation: a page must be one JSON value in
// valid UTF-8 (a leading byte order mark is allowed), nesting no deeper than
// MaxDepth. A reader holds the last page it read; the views it hands out stay
// valid until it reads again or is destroyed.
class TDWJsonReader
{
public:
    // Nesting deeper than any service sends is refused rather than followed.
    static constexpr int MaxDepth = 256;

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
    // nothing when the bytes are not a page as described above.
    static std::optional<QVariant> parse(const QByteArray &bytes);
    // Whether parse(bytes) would give `value` (see TDWJsonObject::matches),
    // found without building the values; false when the bytes are no page.
    static bool matches(const QByteArray &bytes, const QVariant &value);

private:
    // The page's root value; nothing when the bytes are not a page.
    std::optional<simdjson::dom::element> read(const QByteArray &bytes);

    simdjson::dom::parser m_parser;
};
