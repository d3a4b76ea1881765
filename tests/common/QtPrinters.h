#pragma once

// Readable failure messages for the Qt values these tests compare.

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <ostream>

inline void PrintTo(const QString &value, std::ostream *os)
{
    *os << '"' << value.toStdString() << '"';
}

// Lets failure messages stream texts: EXPECT_EQ(...) << input.
inline std::ostream &operator<<(std::ostream &os, const QString &value)
{
    return os << value.toStdString();
}

inline void PrintTo(const QByteArray &value, std::ostream *os)
{
    *os << "0x" << value.toHex().toStdString();
}

inline void PrintTo(const QDateTime &value, std::ostream *os)
{
    *os << (value.isValid() ? value.toString(Qt::ISODate).toStdString() : std::string("<invalid>"));
}
