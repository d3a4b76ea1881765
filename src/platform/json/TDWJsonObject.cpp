#include "platform/json/TDWJsonObject.h"

#include "platform/json/TDWJsonError.h"

#include <QVarLengthArray>

#include <algorithm>
#include <map>

namespace {

using simdjson::dom::element_type;

QString fromUtf8(std::string_view text)
{
    // An empty JSON string is present: keep it apart from a null (absent) one.
    return text.empty() ? QStringLiteral("") : QString::fromUtf8(text.data(), qsizetype(text.size()));
}

[[noreturn]] void wrongType(std::string_view key, const char *expected)
{
    throw TDWJsonObject::TypeError("The \"" + std::string(key) + "\" value is " + expected + ".");
}

QVariantMap mapOf(simdjson::dom::object object)
{
    // Built in a std::map and wrapped once complete; a later duplicate key replaces an earlier one.
    std::map<QString, QVariant> map;
    for (const simdjson::dom::key_value_pair field : object)
        map.insert_or_assign(fromUtf8(field.key), TDWJsonObject::variant(field.value));
    return QVariantMap(std::move(map));
}

} // namespace

TDWError TDWJsonObject::TypeError::error() const
{
    return TDWJsonError::make(TDWJsonError::WrongType, QString::fromUtf8(what()));
}

std::optional<simdjson::dom::element> TDWJsonObject::member(std::string_view key) const
{
    std::optional<simdjson::dom::element> found;
    if (!m_valid)
        return found;
    for (const simdjson::dom::key_value_pair field : m_object) {
        if (field.key == key)
            found = field.value;
    }
    if (found && found->is_null())
        found.reset();
    return found;
}

QString TDWJsonObject::optString(std::string_view key) const
{
    const std::optional<simdjson::dom::element> value = member(key);
    if (!value)
        return {};
    std::string_view text;
    if (value->get_string().get(text))
        wrongType(key, "not a string");
    return fromUtf8(text);
}

QString TDWJsonObject::requiredString(std::string_view key) const
{
    const QString value = optString(key);
    if (value.isNull())
        wrongType(key, "missing");
    return value;
}

bool TDWJsonObject::optBool(std::string_view key) const
{
    const std::optional<simdjson::dom::element> value = member(key);
    if (!value)
        return false;
    bool flag = false;
    if (value->get_bool().get(flag))
        wrongType(key, "not a boolean");
    return flag;
}

std::optional<TDWJsonObject> TDWJsonObject::optObject(std::string_view key) const
{
    const std::optional<simdjson::dom::element> value = member(key);
    if (!value)
        return std::nullopt;
    simdjson::dom::object object;
    if (value->get_object().get(object))
        wrongType(key, "not an object");
    return TDWJsonObject(object);
}

std::optional<QList<TDWJsonObject>> TDWJsonObject::optObjectArray(std::string_view key) const
{
    const std::optional<simdjson::dom::element> value = member(key);
    if (!value)
        return std::nullopt;
    simdjson::dom::array array;
    if (value->get_array().get(array))
        wrongType(key, "not an array");
    QList<TDWJsonObject> objects;
    objects.reserve(qsizetype(array.size()));
    for (const simdjson::dom::element item : array) {
        simdjson::dom::object object;
        if (item.get_object().get(object))
            wrongType(key, "not an array of objects");
        objects.append(TDWJsonObject(object));
    }
    return objects;
}

bool TDWJsonObject::has(std::string_view key) const
{
    return member(key).has_value();
}

QVariant TDWJsonObject::value(std::string_view key) const
{
    const std::optional<simdjson::dom::element> value = member(key);
    return value ? variant(*value) : QVariant();
}

QVariantMap TDWJsonObject::toMap() const
{
    return m_valid ? mapOf(m_object) : QVariantMap();
}

QByteArray TDWJsonObject::text() const
{
    if (!m_valid)
        return QByteArrayLiteral("{}");
    return QByteArray::fromStdString(simdjson::minify(m_object));
}

QVariant TDWJsonObject::variant(simdjson::dom::element value)
{
    switch (value.type()) {
    case element_type::OBJECT:
        return mapOf(simdjson::dom::object(value));
    case element_type::ARRAY: {
        const simdjson::dom::array array(value);
        QVariantList list;
        list.reserve(qsizetype(array.size()));
        for (const simdjson::dom::element item : array)
            list.append(variant(item));
        return list;
    }
    case element_type::STRING:
        return fromUtf8(std::string_view(value));
    case element_type::INT64:
        return qint64(int64_t(value));
    case element_type::UINT64:
        return quint64(uint64_t(value));
    case element_type::DOUBLE:
        return double(value);
    case element_type::BOOL:
        return bool(value);
    case element_type::NULL_VALUE:
        break;
    }
    return QVariant::fromValue(nullptr);
}

bool TDWJsonObject::matches(simdjson::dom::element value, const QVariant &other)
{
    switch (value.type()) {
    case element_type::OBJECT: {
        if (other.metaType().id() != QMetaType::QVariantMap)
            return false;
        const QVariantMap &map = *static_cast<const QVariantMap *>(other.constData());
        const simdjson::dom::object object(value);
        if (object.size() != size_t(map.size()))
            return false;
        // The fields in key order beside the map's keys, with no string made:
        // a key given twice, or an order that differs from the map's (keys
        // beyond the Basic Multilingual Plane), pairs unequal keys and answers no.
        QVarLengthArray<std::pair<std::string_view, simdjson::dom::element>, 64> fields;
        for (const simdjson::dom::key_value_pair field : object)
            fields.append({field.key, field.value});
        std::sort(fields.begin(), fields.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
        auto entry = map.cbegin();
        for (const auto &[key, fieldValue] : std::as_const(fields)) {
            if (!QAnyStringView::equal(QUtf8StringView(key), entry.key()) || !matches(fieldValue, entry.value()))
                return false;
            ++entry;
        }
        return true;
    }
    case element_type::ARRAY: {
        if (other.metaType().id() != QMetaType::QVariantList)
            return false;
        const QVariantList &list = *static_cast<const QVariantList *>(other.constData());
        const simdjson::dom::array array(value);
        if (array.size() != size_t(list.size()))
            return false;
        qsizetype index = 0;
        for (const simdjson::dom::element item : array) {
            if (!matches(item, list.at(index++)))
                return false;
        }
        return true;
    }
    case element_type::STRING:
        return other.metaType().id() == QMetaType::QString
               && QAnyStringView::equal(QUtf8StringView(std::string_view(value)), *static_cast<const QString *>(other.constData()));
    default: {
        // Of one type too: QVariant calls the string "3" equal to the number 3.
        const QVariant read = variant(value);
        return read.metaType() == other.metaType() && read == other;
    }
    }
}
