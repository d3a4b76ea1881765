#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <nlohmann/json.hpp>

#include <stdexcept>

// Typed reads from a parsed JSON page. A value of the wrong type throws
// TDWJsonReader::TypeError, so a parser can refuse the whole page instead of
// misreading one item; JSON null counts as absent.
class TDWJsonReader
{
public:
    struct TypeError : std::runtime_error
    {
        using std::runtime_error::runtime_error;
    };

    // The document in `bytes`, or a discarded value when the bytes are not JSON.
    static nlohmann::json parse(const QByteArray &bytes);

    // Null string when absent.
    static QString optString(const nlohmann::json &object, const char *key);
    // Throws when absent.
    static QString requiredString(const nlohmann::json &object, const char *key);
    // False when absent.
    static bool optBool(const nlohmann::json &object, const char *key);
    // Null when absent.
    static const nlohmann::json *optObject(const nlohmann::json &object, const char *key);
    static const nlohmann::json *optArray(const nlohmann::json &object, const char *key);
    // Present and not null.
    static bool has(const nlohmann::json &object, const char *key);

    // Throw TypeError for nesting deeper than kMaxDepth.
    static QVariant toVariant(const nlohmann::json &value);
    static QVariantMap toVariantMap(const nlohmann::json &object);

private:
    static constexpr int kMaxDepth = 256;
    static QVariant convert(const nlohmann::json &value, int depth);
};
