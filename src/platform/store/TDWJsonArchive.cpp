#include "platform/store/TDWJsonArchive.h"

#include "platform/foundation/TDWNumber.h"
#include "platform/store/TDWSqlValueCodec.h"
#include "platform/store/TDWStoreError.h"

#include <QDateTime>
#include <QVariantList>
#include <QVariantMap>

#include <nlohmann/json.hpp>
#include <simdjson.h>

namespace {

using json = nlohmann::json;

const char DateKey[] = "$date";
const char DataKey[] = "$data";

std::string utf8(const QString &text)
{
    return text.toStdString();
}

QString fromUtf8(const std::string &text)
{
    return QString::fromStdString(text);
}

json toJson(const TDWNumber &number)
{
    switch (number.kind()) {
    case TDWNumber::Kind::Boolean:
        return *number.toSigned() != 0;
    case TDWNumber::Kind::Signed:
        return *number.toSigned();
    case TDWNumber::Kind::Unsigned:
        return *number.toUnsigned();
    case TDWNumber::Kind::Real:
        break;
    }
    return number.toDouble();
}

json toJson(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return nullptr;
    if (const std::optional<TDWNumber> number = TDWNumber::of(value))
        return toJson(*number);
    switch (value.metaType().id()) {
    case QMetaType::QByteArray:
        return json{{DataKey, value.toByteArray().toBase64().toStdString()}};
    case QMetaType::QDateTime:
        return json{{DateKey, TDWSqlValueCodec::secondsSinceReferenceDate(value.toDateTime())}};
    case QMetaType::QVariantMap: {
        json object = json::object();
        const QVariantMap map = value.toMap();
        for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
            const QString key = it.key().startsWith(QLatin1Char('$')) ? QLatin1Char('$') + it.key() : it.key();
            object[utf8(key)] = toJson(it.value());
        }
        return object;
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        json array = json::array();
        for (const QVariant &element : value.toList())
            array.push_back(toJson(element));
        return array;
    }
    default:
        return utf8(value.toString());
    }
}

QVariant fromJson(const json &value, bool *ok)
{
    switch (value.type()) {
    case json::value_t::null:
        return {};
    case json::value_t::boolean:
        return value.get<bool>();
    case json::value_t::number_integer:
        return qlonglong(value.get<qint64>());
    case json::value_t::number_unsigned:
        return TDWNumber::fromUnsigned(value.get<quint64>()).toVariant();
    case json::value_t::number_float:
        return value.get<double>();
    case json::value_t::string:
        return fromUtf8(value.get<std::string>());
    case json::value_t::array: {
        QVariantList list;
        for (const json &element : value)
            list.append(fromJson(element, ok));
        return list;
    }
    case json::value_t::object: {
        if (value.size() == 1 && value.contains(DateKey) && value[DateKey].is_number())
            return TDWSqlValueCodec::dateFromSecondsSinceReferenceDate(value[DateKey].get<double>());
        if (value.size() == 1 && value.contains(DataKey) && value[DataKey].is_string())
            return QByteArray::fromBase64(QByteArray::fromStdString(value[DataKey].get<std::string>()));
        QVariantMap map;
        for (auto it = value.begin(); it != value.end(); ++it) {
            QString key = fromUtf8(it.key());
            if (key.startsWith(QLatin1Char('$'))) {
                if (!key.startsWith(QLatin1String("$$")))
                    *ok = false; // a bare "$" key is only written for dates and data
                key.remove(0, 1);
            }
            map.insert(key, fromJson(it.value(), ok));
        }
        return map;
    }
    default:
        *ok = false;
        return {};
    }
}

// The quick reading of a well-formed archive. Anything it does not take as
// it stands (a parse error, nesting past the limit, a repeated key, a number
// outside 64 bits) leaves the value unset, and the careful reading below
// decides, with its own answer and error.
bool quickValue(simdjson::dom::element element, int depth, QVariant *value)
{
    switch (element.type()) {
    case simdjson::dom::element_type::NULL_VALUE:
        *value = QVariant();
        return true;
    case simdjson::dom::element_type::BOOL:
        *value = bool(element.get_bool());
        return true;
    case simdjson::dom::element_type::INT64:
        *value = qlonglong(int64_t(element.get_int64()));
        return true;
    case simdjson::dom::element_type::UINT64:
        *value = TDWNumber::fromUnsigned(uint64_t(element.get_uint64())).toVariant();
        return true;
    case simdjson::dom::element_type::DOUBLE:
        *value = double(element.get_double());
        return true;
    case simdjson::dom::element_type::STRING: {
        const std::string_view text = element.get_string();
        *value = QString::fromUtf8(text.data(), qsizetype(text.size()));
        return true;
    }
    case simdjson::dom::element_type::ARRAY: {
        if (depth >= TDWJsonArchive::MaxDepth - 1)
            return false;
        QVariantList list;
        for (const simdjson::dom::element item : element.get_array()) {
            QVariant converted;
            if (!quickValue(item, depth + 1, &converted))
                return false;
            list.append(converted);
        }
        *value = list;
        return true;
    }
    case simdjson::dom::element_type::OBJECT: {
        if (depth >= TDWJsonArchive::MaxDepth - 1)
            return false;
        const simdjson::dom::object object = element.get_object();
        if (object.size() == 1) {
            const simdjson::dom::key_value_pair only = *object.begin();
            if (only.key == DateKey && only.value.is_number()) {
                *value = TDWSqlValueCodec::dateFromSecondsSinceReferenceDate(double(only.value.get_double()));
                return true;
            }
            if (only.key == DataKey && only.value.is_string()) {
                const std::string_view text = only.value.get_string();
                *value = QByteArray::fromBase64(QByteArray(text.data(), qsizetype(text.size())));
                return true;
            }
        }
        QVariantMap map;
        for (const simdjson::dom::key_value_pair field : object) {
            QString key = QString::fromUtf8(field.key.data(), qsizetype(field.key.size()));
            if (key.startsWith(QLatin1Char('$'))) {
                if (!key.startsWith(QLatin1String("$$")))
                    return false;
                key.remove(0, 1);
            }
            QVariant converted;
            if (map.contains(key) || !quickValue(field.value, depth + 1, &converted))
                return false;
            map.insert(key, converted);
        }
        *value = map;
        return true;
    }
    default:
        return false;
    }
}

std::optional<QVariant> quickUnarchive(const QByteArray &text)
{
    thread_local simdjson::dom::parser parser;
    simdjson::dom::element root;
    if (parser.parse(text.constData(), size_t(text.size())).get(root) != simdjson::SUCCESS)
        return std::nullopt;
    QVariant value;
    if (!quickValue(root, 0, &value))
        return std::nullopt;
    return value;
}

} // namespace

QByteArray TDWJsonArchive::archive(const QVariant &value)
{
    return QByteArray::fromStdString(toJson(value).dump());
}

QVariant TDWJsonArchive::unarchive(const QByteArray &text, TDWError *error)
{
    // Archives are read for every revision a listing confirms: the quick
    // reader takes the well-formed ones.
    if (std::optional<QVariant> value = quickUnarchive(text))
        return *value;
    // The parser itself does not recurse; a container past the limit is dropped as it
    // opens, so neither memory nor the recursion of fromJson follows hostile nesting.
    bool tooDeep = false;
    const json::parser_callback_t limitDepth = [&tooDeep](int depth, json::parse_event_t event, json &) {
        if ((event == json::parse_event_t::array_start || event == json::parse_event_t::object_start) && depth >= MaxDepth)
            tooDeep = true;
        return !tooDeep;
    };
    const json parsed = json::parse(text.constBegin(), text.constEnd(), limitDepth, false);
    if (tooDeep) {
        tdwSetError(error, TDWStoreError::make(TDWStoreError::InvalidArgument,
                                               QStringLiteral("The JSON archive nests deeper than %1 levels").arg(MaxDepth)));
        return {};
    }
    bool ok = !parsed.is_discarded();
    const QVariant value = ok ? fromJson(parsed, &ok) : QVariant();
    if (!ok) {
        tdwSetError(error, TDWStoreError::make(TDWStoreError::InvalidArgument, QStringLiteral("The data is not a JSON archive")));
        return {};
    }
    return value;
}
