#pragma once

// Readable gtest output for the Qt values the mail tests compare.
#include <QSet>
#include <QString>
#include <QStringList>

#include <ostream>

inline void PrintTo(const QString &value, std::ostream *os)
{
    *os << (value.isNull() ? std::string("(null)") : '"' + value.toStdString() + '"');
}

inline void PrintTo(const QStringList &value, std::ostream *os)
{
    *os << '[' << value.join(QStringLiteral(", ")).toStdString() << ']';
}

namespace mailtest {

// A flag set as sorted text, for comparisons with readable failures.
inline QString sortedNames(const QSet<QString> &names)
{
    QStringList sorted(names.begin(), names.end());
    sorted.sort();
    return sorted.join(QLatin1Char(','));
}

} // namespace mailtest
