#pragma once

#include "services/TDWDocEntry.h"
#include "services/TDWParserConfig.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <QJsonDocument>
#include <QVariantMap>

#include <memory>
#include <ostream>

namespace parsertest {

// The test service table (tests/services/fixtures/servicetable.json) with the
// Google APIs host and an API key that needs encoding.
std::shared_ptr<const TDWParserConfig> config();

// Bytes of a file under tests/services/fixtures.
QByteArray fixture(const QString &relativePath);

// The entry's set fields as JSON, for comparison with hand-written tables:
// absent strings, false flags and empty sets are left out, dates are UTC ISO
// texts, parent ids are sorted. xmlString and jsonDictionary are checked apart.
QJsonObject canonical(const TDWDocEntry &entry);

} // namespace parsertest

// Readable failure messages for the Qt values the tests compare.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"' << (text.isNull() ? " (null)" : "");
}

inline void PrintTo(const QVariantMap &map, std::ostream *out)
{
    *out << QJsonDocument::fromVariant(map).toJson(QJsonDocument::Compact).toStdString();
}
