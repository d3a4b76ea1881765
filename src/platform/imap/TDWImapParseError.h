#pragma once

#include <QByteArray>

#include <stdexcept>
#include <string>

// Thrown by the response parser when a response does not follow the grammar;
// carries where in the line the parser gave up.
class TDWImapParseError : public std::runtime_error
{
public:
    TDWImapParseError(const std::string &what, qsizetype offset)
        : std::runtime_error(what), m_offset(offset)
    {
    }
    qsizetype offset() const { return m_offset; }

private:
    qsizetype m_offset;
};
