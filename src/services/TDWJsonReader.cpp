#include "services/TDWJsonReader.h"

#include <QHash>

#include <nlohmann/json.hpp>

#include <array>
#include <map>
#include <vector>

namespace {

QString fromUtf8(const std::string &text)
{
    // An empty JSON string is present: keep it apart from a null (absent) one.
    return text.empty() ? QStringLiteral("") : QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// Builds the values as the lexer reads them, so a page is held once, in the
// form the callers keep, rather than as a JSON tree and then again as values.
class VariantBuilder : public nlohmann::json_sax<nlohmann::json>
{
public:
    std::optional<QVariant> result;

    bool null() override { return add(QVariant::fromValue(nullptr)); }
    bool boolean(bool value) override { return add(value); }
    bool number_integer(number_integer_t value) override { return add(qint64(value)); }
    bool number_unsigned(number_unsigned_t value) override
    {
        return add(value <= number_unsigned_t(std::numeric_limits<qint64>::max()) ? QVariant(qint64(value)) : QVariant(quint64(value)));
    }
    bool number_float(number_float_t value, const string_t &) override { return add(value); }
    bool string(string_t &value) override { return add(fromUtf8(value)); }
    bool binary(binary_t &) override { return false; }

    bool start_object(std::size_t) override { return open(true); }
    bool key(string_t &value) override
    {
        m_frames.back().key = internedKey(value);
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(false); }
    bool end_array() override { return close(); }

    bool parse_error(std::size_t, const std::string &, const nlohmann::detail::exception &) override { return false; }

private:
    struct Frame
    {
        bool isObject;
        std::map<QString, QVariant> map; // wrapped once complete, without a copy
        QVariantList list;
        QString key;
    };

    bool open(bool isObject)
    {
        if (int(m_frames.size()) >= TDWJsonReader::MaxDepth)
            return false;
        m_frames.push_back({isObject, {}, {}, {}});
        return true;
    }

    bool close()
    {
        Frame frame = std::move(m_frames.back());
        m_frames.pop_back();
        return add(frame.isObject ? QVariant(QVariantMap(std::move(frame.map))) : QVariant(frame.list));
    }

    bool add(QVariant value)
    {
        if (m_frames.empty()) {
            result = std::move(value);
            return true;
        }
        Frame &top = m_frames.back();
        if (top.isObject)
            top.map.insert_or_assign(top.key, std::move(value));
        else
            top.list.append(std::move(value));
        return true;
    }

    // Items of a page repeat the same keys; sharing one string per key saves
    // most of the allocations. A small direct-mapped cache is enough for that.
    QString internedKey(const std::string &key)
    {
        const size_t slot = (key.size() * 31 + (key.empty() ? 0 : uchar(key.front()) * 7 + uchar(key.back()))) % kKeySlots;
        KeySlot &entry = m_keys[slot];
        if (entry.text.isNull() || entry.utf8 != key) {
            entry.utf8 = key;
            entry.text = fromUtf8(key);
        }
        return entry.text;
    }

    struct KeySlot
    {
        std::string utf8;
        QString text;
    };
    static constexpr size_t kKeySlots = 251;

    std::vector<Frame> m_frames;
    std::array<KeySlot, kKeySlots> m_keys;
};

const QVariant *member(const QVariantMap &object, const QString &key)
{
    const auto it = object.constFind(key);
    return it == object.cend() || it->isNull() ? nullptr : &*it;
}

[[noreturn]] void wrongType(const QString &key, const char *expected)
{
    throw TDWJsonReader::TypeError("\"" + key.toStdString() + "\" is not " + expected);
}

} // namespace

std::optional<QVariant> TDWJsonReader::parse(const QByteArray &bytes)
{
    VariantBuilder builder;
    if (!nlohmann::json::sax_parse(bytes.constBegin(), bytes.constEnd(), &builder))
        return std::nullopt;
    return builder.result;
}

QString TDWJsonReader::optString(const QVariantMap &object, const QString &key)
{
    const QVariant *value = member(object, key);
    if (!value)
        return {};
    if (value->typeId() != QMetaType::QString)
        wrongType(key, "a string");
    return value->toString();
}

QString TDWJsonReader::requiredString(const QVariantMap &object, const QString &key)
{
    const QString value = optString(object, key);
    if (value.isNull())
        wrongType(key, "present");
    return value;
}

bool TDWJsonReader::optBool(const QVariantMap &object, const QString &key)
{
    const QVariant *value = member(object, key);
    if (!value)
        return false;
    if (value->typeId() != QMetaType::Bool)
        wrongType(key, "a boolean");
    return value->toBool();
}

std::optional<QVariantMap> TDWJsonReader::optObject(const QVariantMap &object, const QString &key)
{
    const QVariant *value = member(object, key);
    if (!value)
        return std::nullopt;
    if (value->typeId() != QMetaType::QVariantMap)
        wrongType(key, "an object");
    return value->toMap();
}

std::optional<QVariantList> TDWJsonReader::optArray(const QVariantMap &object, const QString &key)
{
    const QVariant *value = member(object, key);
    if (!value)
        return std::nullopt;
    if (value->typeId() != QMetaType::QVariantList)
        wrongType(key, "an array");
    return value->toList();
}

bool TDWJsonReader::has(const QVariantMap &object, const QString &key)
{
    return member(object, key) != nullptr;
}

std::optional<TDWJsonReader::ItemsPage> TDWJsonReader::parseItemsPage(const QByteArray &bytes)
{
    const std::optional<QVariant> json = parse(bytes);
    if (!json || !isObject(*json))
        return std::nullopt;
    ItemsPage page{json->toMap(), {}};
    const auto items = page.object.constFind(QStringLiteral("items"));
    if (items == page.object.constEnd() || items->typeId() != QMetaType::QVariantList)
        return std::nullopt;
    const QVariantList list = items->toList();
    page.items.reserve(list.size());
    for (const QVariant &item : list) {
        if (!isObject(item))
            return std::nullopt;
        page.items.append(item.toMap());
    }
    return page;
}
