#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <optional>
#include <stdexcept>

// Reads a JSON page straight into property-list values (QVariantMap,
// QVariantList, QString, bool, qint64 or quint64, double; null as a null
// variant) and offers typed reads on them. A value of the wrong type throws
// TDWJsonReader::TypeError, so a parser can refuse the whole page instead of
// misreading one item; JSON null counts as absent.
class TDWJsonReader
{
public:
    struct TypeError : std::runtime_error
    {
        using std::runtime_error::runtime_error;
    };

    // Nesting deeper than any service sends is refused rather than followed.
    static constexpr int MaxDepth = 256;

    // The value in `bytes`; nothing when they are not one JSON value (invalid
    // UTF-8 included) or nest deeper than MaxDepth.
    static std::optional<QVariant> parse(const QByteArray &bytes);

    // A list page of the Google JSON APIs: an object whose "items" is an array
    // of objects. Nothing for any other document, so a page of the wrong kind
    // (an error page, say) is never read as an empty list.
    struct ItemsPage
    {
        QVariantMap object;
        QList<QVariantMap> items;
    };
    static std::optional<ItemsPage> parseItemsPage(const QByteArray &bytes);

    // Null string when absent.
    static QString optString(const QVariantMap &object, const QString &key);
    // Throws when absent.
    static QString requiredString(const QVariantMap &object, const QString &key);
    // False when absent.
    static bool optBool(const QVariantMap &object, const QString &key);
    // Nothing when absent.
    static std::optional<QVariantMap> optObject(const QVariantMap &object, const QString &key);
    static std::optional<QVariantList> optArray(const QVariantMap &object, const QString &key);
    // Present and not null.
    static bool has(const QVariantMap &object, const QString &key);

    static bool isObject(const QVariant &value) { return value.typeId() == QMetaType::QVariantMap; }
};
