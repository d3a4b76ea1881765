#pragma once

// Readable gtest output for the Qt values the mail tests compare.
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
