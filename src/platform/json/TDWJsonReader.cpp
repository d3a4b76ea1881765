#include "services/TDWJsonReader.h"

#include <algorithm>

std::optional<simdjson::dom::element> TDWJsonReader::read(const QByteArray &bytes)
{
    QByteArrayView text(bytes);
    // Qt's and most other JSON readers accept a leading byte order mark.
    if (text.startsWith("\xEF\xBB\xBF"))
        text = text.sliced(3);
    if (m_parser.allocate(size_t(text.size()), MaxDepth) != simdjson::SUCCESS)
        return std::nullopt;
    simdjson::dom::element root;
    if (m_parser.parse(text.data(), size_t(text.size())).get(root) != simdjson::SUCCESS)
        return std::nullopt;
    return root;
}

std::optional<TDWJsonReader::ItemsPage> TDWJsonReader::readItemsPage(const QByteArray &bytes,
                                                                    std::initializer_list<std::string_view> listKinds)
{
    const std::optional<simdjson::dom::element> root = read(bytes);
    simdjson::dom::object object;
    if (!root || root->get_object().get(object) != simdjson::SUCCESS)
        return std::nullopt;
    ItemsPage page{TDWJsonObject(object), {}};
    try {
        const std::optional<QList<TDWJsonObject>> items = page.object.optObjectArray("items");
        if (items) {
            page.items = *items;
            return page;
        }
        const QString kind = page.object.optString("kind");
        const auto isKind = [&kind](std::string_view listKind) {
            return kind == QLatin1String(listKind.data(), qsizetype(listKind.size()));
        };
        if (std::none_of(listKinds.begin(), listKinds.end(), isKind))
            return std::nullopt;
    } catch (const TDWJsonObject::TypeError &) {
        return std::nullopt;
    }
    return page;
}

std::optional<QVariant> TDWJsonReader::parse(const QByteArray &bytes)
{
    TDWJsonReader reader;
    const std::optional<simdjson::dom::element> root = reader.read(bytes);
    if (!root)
        return std::nullopt;
    return TDWJsonObject::variant(*root);
}

bool TDWJsonReader::matches(const QByteArray &bytes, const QVariant &value)
{
    TDWJsonReader reader;
    const std::optional<simdjson::dom::element> root = reader.read(bytes);
    return root && TDWJsonObject::matches(*root, value);
}
