#pragma once

#include "platform/foundation/TDWError.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <simdjson.h>

#include <optional>
#include <stdexcept>
#include <string_view>

// A view of one JSON object of an answer that TDWJsonReader has read, valid
// as long as the reader holds that answer, with typed reads of its members. A
// member of the wrong type throws TypeError, so a caller can refuse the whole
// answer instead of misreading one part; JSON null counts as absent, and of a
// key given twice the last one counts. A default-made view is an empty object.
class TDWJsonObject
{
public:
    struct TypeError : std::runtime_error
    {
        using std::runtime_error::runtime_error;
        // The same, as an error of TDWJsonError (WrongType).
        TDWError error() const;
    };

    TDWJsonObject() = default;
    explicit TDWJsonObject(simdjson::dom::object object) : m_object(object), m_valid(true) {}

    // Null string when absent.
    QString optString(std::string_view key) const;
    // Throws when absent.
    QString requiredString(std::string_view key) const;
    // False when absent.
    bool optBool(std::string_view key) const;
    // Nothing when absent.
    std::optional<TDWJsonObject> optObject(std::string_view key) const;
    // The elements of an array of objects; nothing when absent, throws when an element is no object.
    std::optional<QList<TDWJsonObject>> optObjectArray(std::string_view key) const;
    // Present and not null.
    bool has(std::string_view key) const;
    // The member as a property-list value (see variant()); a null variant when absent or null.
    QVariant value(std::string_view key) const;
    // The whole object as property-list values.
    QVariantMap toMap() const;

    // The object as compact JSON text, which TDWJsonReader::parse reads back to the same values.
    QByteArray text() const;

    // A JSON value as property-list values: QVariantMap, QVariantList, QString,
    // bool, qint64 (quint64 beyond its range), double; null as a null variant
    // that holds nullptr.
    static QVariant variant(simdjson::dom::element value);
    // Whether variant(value) would equal `other`, type for type, found without
    // building it. False also where the answer is not plain: a key given
    // twice, or a container held as another type than variant() gives.
    static bool matches(simdjson::dom::element value, const QVariant &other);

private:
    std::optional<simdjson::dom::element> member(std::string_view key) const;

    simdjson::dom::object m_object;
    bool m_valid = false;
};
