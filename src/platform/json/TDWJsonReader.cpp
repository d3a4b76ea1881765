#include "platform/json/TDWJsonReader.h"

#include "platform/json/TDWJsonError.h"

#include <algorithm>

namespace {

TDWError notAnObject()
{
    return TDWJsonError::make(TDWJsonError::NotAnObject, QStringLiteral("The response is not a JSON object."));
}

TDWError refusal(simdjson::error_code code)
{
    switch (code) {
    case simdjson::DEPTH_ERROR:
        return TDWJsonError::make(TDWJsonError::TooDeep,
                                  QStringLiteral("The response nests deeper than %1 levels.").arg(TDWJsonReader::MaxDepth));
    case simdjson::CAPACITY:
    case simdjson::MEMALLOC:
        return TDWJsonError::make(TDWJsonError::TooLarge, QStringLiteral("The response is too large to read."));
    default:
        return TDWJsonError::make(TDWJsonError::Malformed,
                                  QStringLiteral("The response is not valid JSON: %1").arg(QString::fromUtf8(simdjson::error_message(code))));
    }
}

} // namespace

std::optional<simdjson::dom::element> TDWJsonReader::read(const QByteArray &bytes, TDWError *error)
{
    QByteArrayView text(bytes);
    // Qt's and most other JSON readers accept a leading byte order mark.
    if (text.startsWith("\xEF\xBB\xBF"))
        text = text.sliced(3);
    if (text.size() > MaxBytes) {
        tdwSetError(error, TDWJsonError::make(TDWJsonError::TooLarge,
                                              QStringLiteral("The response is larger than %1 MB.").arg(MaxBytes >> 20)));
        return std::nullopt;
    }
    simdjson::error_code code = m_parser.allocate(size_t(text.size()), MaxDepth);
    simdjson::dom::element root;
    if (code == simdjson::SUCCESS)
        code = m_parser.parse(text.data(), size_t(text.size())).get(root);
    if (code != simdjson::SUCCESS) {
        tdwSetError(error, refusal(code));
        return std::nullopt;
    }
    return root;
}

std::optional<TDWJsonObject> TDWJsonReader::readObject(const QByteArray &bytes, TDWError *error)
{
    const std::optional<simdjson::dom::element> root = read(bytes, error);
    if (!root)
        return std::nullopt;
    simdjson::dom::object object;
    if (root->get_object().get(object) != simdjson::SUCCESS) {
        tdwSetError(error, notAnObject());
        return std::nullopt;
    }
    return TDWJsonObject(object);
}

std::optional<TDWJsonReader::ItemsPage> TDWJsonReader::readItemsPage(const QByteArray &bytes,
                                                                    std::initializer_list<std::string_view> listKinds)
{
    const std::optional<TDWJsonObject> object = readObject(bytes);
    if (!object)
        return std::nullopt;
    ItemsPage page{*object, {}};
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

std::optional<QVariant> TDWJsonReader::parse(const QByteArray &bytes, TDWError *error)
{
    TDWJsonReader reader;
    const std::optional<simdjson::dom::element> root = reader.read(bytes, error);
    if (!root)
        return std::nullopt;
    return TDWJsonObject::variant(*root);
}

std::optional<QVariantMap> TDWJsonReader::parseObject(const QByteArray &bytes, TDWError *error)
{
    TDWJsonReader reader;
    const std::optional<TDWJsonObject> object = reader.readObject(bytes, error);
    if (!object)
        return std::nullopt;
    return object->toMap();
}

bool TDWJsonReader::matches(const QByteArray &bytes, const QVariant &value)
{
    TDWJsonReader reader;
    const std::optional<simdjson::dom::element> root = reader.read(bytes, nullptr);
    return root && TDWJsonObject::matches(*root, value);
}
