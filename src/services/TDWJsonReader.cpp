#include "services/TDWJsonReader.h"

#include <QVariantList>

namespace {

const nlohmann::json *member(const nlohmann::json &object, const char *key)
{
    const auto it = object.find(key);
    return it == object.end() || it->is_null() ? nullptr : &*it;
}

[[noreturn]] void wrongType(const char *key, const char *expected)
{
    throw TDWJsonReader::TypeError(std::string("\"") + key + "\" is not " + expected);
}

QString toQString(const nlohmann::json &value)
{
    const auto &text = value.get_ref<const std::string &>();
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

} // namespace

nlohmann::json TDWJsonReader::parse(const QByteArray &bytes)
{
    // No exceptions and no callback: bad input (invalid UTF-8 included) yields a discarded value.
    return nlohmann::json::parse(bytes.constBegin(), bytes.constEnd(), nullptr, false);
}

QString TDWJsonReader::optString(const nlohmann::json &object, const char *key)
{
    const nlohmann::json *value = member(object, key);
    if (!value)
        return {};
    if (!value->is_string())
        wrongType(key, "a string");
    return toQString(*value);
}

QString TDWJsonReader::requiredString(const nlohmann::json &object, const char *key)
{
    const QString value = optString(object, key);
    if (value.isNull())
        wrongType(key, "present");
    return value;
}

bool TDWJsonReader::optBool(const nlohmann::json &object, const char *key)
{
    const nlohmann::json *value = member(object, key);
    if (!value)
        return false;
    if (!value->is_boolean())
        wrongType(key, "a boolean");
    return value->get<bool>();
}

const nlohmann::json *TDWJsonReader::optObject(const nlohmann::json &object, const char *key)
{
    const nlohmann::json *value = member(object, key);
    if (value && !value->is_object())
        wrongType(key, "an object");
    return value;
}

const nlohmann::json *TDWJsonReader::optArray(const nlohmann::json &object, const char *key)
{
    const nlohmann::json *value = member(object, key);
    if (value && !value->is_array())
        wrongType(key, "an array");
    return value;
}

bool TDWJsonReader::has(const nlohmann::json &object, const char *key)
{
    return member(object, key) != nullptr;
}

QVariant TDWJsonReader::toVariant(const nlohmann::json &value)
{
    return convert(value, 0);
}

QVariantMap TDWJsonReader::toVariantMap(const nlohmann::json &object)
{
    return object.is_object() ? convert(object, 0).toMap() : QVariantMap();
}

QVariant TDWJsonReader::convert(const nlohmann::json &value, int depth)
{
    // Deeper nesting than any service sends would only exhaust the stack.
    if (depth > kMaxDepth)
        throw TypeError("nesting too deep");
    switch (value.type()) {
    case nlohmann::json::value_t::object: {
        QVariantMap map;
        for (auto it = value.begin(); it != value.end(); ++it)
            map.insert(QString::fromUtf8(it.key().data(), qsizetype(it.key().size())), convert(it.value(), depth + 1));
        return map;
    }
    case nlohmann::json::value_t::array: {
        QVariantList list;
        list.reserve(qsizetype(value.size()));
        for (const auto &element : value)
            list.append(convert(element, depth + 1));
        return list;
    }
    case nlohmann::json::value_t::string:
        return toQString(value);
    case nlohmann::json::value_t::boolean:
        return value.get<bool>();
    case nlohmann::json::value_t::number_integer:
        return qint64(value.get<std::int64_t>());
    case nlohmann::json::value_t::number_unsigned:
        return quint64(value.get<std::uint64_t>());
    case nlohmann::json::value_t::number_float:
        return value.get<double>();
    default:
        return {};
    }
}
