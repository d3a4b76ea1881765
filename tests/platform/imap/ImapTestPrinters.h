#pragma once

// Readable gtest output for the Qt and IMAP values the tests compare.
#include "platform/imap/TDWImapResponse.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <ostream>

inline void PrintTo(const QByteArray &value, std::ostream *os)
{
    *os << '"' << value.toStdString() << '"';
}

inline void PrintTo(const QString &value, std::ostream *os)
{
    *os << (value.isNull() ? std::string("(null)") : '"' + value.toStdString() + '"');
}

inline void PrintTo(const QStringList &value, std::ostream *os)
{
    *os << '[' << value.join(QStringLiteral(", ")).toStdString() << ']';
}

inline void PrintTo(const QList<QByteArray> &value, std::ostream *os)
{
    *os << '[' << value.join(", ").toStdString() << ']';
}

inline void PrintTo(const QDateTime &value, std::ostream *os)
{
    *os << (value.isValid() ? value.toString(Qt::ISODate).toStdString() : std::string("(invalid)"));
}
