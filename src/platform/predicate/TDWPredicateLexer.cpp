#include "platform/predicate/TDWPredicateLexer.h"

#include <QStringList>

#include <algorithm>

namespace {

int hexValue(QChar c)
{
    if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
        return c.unicode() - '0';
    if (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
        return c.unicode() - 'a' + 10;
    if (c >= QLatin1Char('A') && c <= QLatin1Char('F'))
        return c.unicode() - 'A' + 10;
    return -1;
}

const char *const TwoCharacterSymbols[] = {"==", "!=", "<>", "<=", "=<", ">=", "=>", "&&", "||"};

} // namespace

TDWPredicateLexer::TDWPredicateLexer(const QString &format) : m_format(format)
{
}

bool TDWPredicateLexer::isIdentifierStart(QChar c)
{
    return c.isLetter() || c == QLatin1Char('_');
}

bool TDWPredicateLexer::isIdentifierPart(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

bool TDWPredicateLexer::isReservedWord(const QString &name)
{
    static const QStringList words = {
        QStringLiteral("AND"), QStringLiteral("OR"), QStringLiteral("NOT"), QStringLiteral("IN"),
        QStringLiteral("ANY"), QStringLiteral("ALL"), QStringLiteral("NONE"), QStringLiteral("SOME"),
        QStringLiteral("LIKE"), QStringLiteral("MATCHES"), QStringLiteral("BEGINSWITH"), QStringLiteral("ENDSWITH"),
        QStringLiteral("CONTAINS"), QStringLiteral("BETWEEN"), QStringLiteral("NIL"), QStringLiteral("NULL"),
        QStringLiteral("YES"), QStringLiteral("NO"), QStringLiteral("TRUE"), QStringLiteral("FALSE"),
        QStringLiteral("TRUEPREDICATE"), QStringLiteral("FALSEPREDICATE"), QStringLiteral("SELF"),
        QStringLiteral("SUBQUERY"), QStringLiteral("CAST"),
    };
    return words.contains(name, Qt::CaseInsensitive);
}

bool TDWPredicateLexer::isKeyName(const QString &name)
{
    if (name == QLatin1String("@count"))
        return true;
    if (name.isEmpty() || !isIdentifierStart(name.front()))
        return false;
    return std::all_of(name.begin(), name.end(), isIdentifierPart);
}

QChar TDWPredicateLexer::peek(qsizetype ahead) const
{
    const qsizetype at = m_pos + ahead;
    return at < m_format.size() ? m_format.at(at) : QChar();
}

TDWPredicateLexer::Token TDWPredicateLexer::error(qsizetype position, const QString &what)
{
    m_failed = true;
    m_last = Token{Token::Type::Error, what, position, false};
    return m_last;
}

TDWPredicateLexer::Token TDWPredicateLexer::next()
{
    if (m_failed)
        return m_last;
    while (m_pos < m_format.size() && m_format.at(m_pos).isSpace())
        ++m_pos;
    const qsizetype start = m_pos;
    if (m_pos >= m_format.size()) {
        m_last = Token{Token::Type::End, {}, start, false};
        return m_last;
    }
    const QChar c = m_format.at(m_pos);
    if (c == QLatin1Char('"') || c == QLatin1Char('\''))
        return lexString(c);
    if (c.isDigit() && c.unicode() < 128)
        return lexNumber();
    if (c == QLatin1Char('%'))
        return lexPlaceholder();
    if (c == QLatin1Char('$') || c == QLatin1Char('#') || c == QLatin1Char('@')) {
        if (!isIdentifierStart(peek(1)))
            return error(start, QStringLiteral("a name after '%1'").arg(c));
        ++m_pos;
        while (m_pos < m_format.size() && isIdentifierPart(m_format.at(m_pos)))
            ++m_pos;
        const QString name = m_format.mid(start + 1, m_pos - start - 1);
        if (c == QLatin1Char('$'))
            m_last = Token{Token::Type::Variable, name, start, false};
        else if (c == QLatin1Char('#'))
            m_last = Token{Token::Type::Identifier, name, start, true};
        else
            m_last = Token{Token::Type::Identifier, QLatin1Char('@') + name, start, false};
        return m_last;
    }
    if (isIdentifierStart(c)) {
        while (m_pos < m_format.size() && isIdentifierPart(m_format.at(m_pos)))
            ++m_pos;
        m_last = Token{Token::Type::Identifier, m_format.mid(start, m_pos - start), start, false};
        return m_last;
    }
    for (const char *symbol : TwoCharacterSymbols) {
        if (c == QLatin1Char(symbol[0]) && peek(1) == QLatin1Char(symbol[1])) {
            m_pos += 2;
            m_last = Token{Token::Type::Symbol, QString::fromLatin1(symbol), start, false};
            return m_last;
        }
    }
    if (QStringLiteral("(){}[],.-=<>!").contains(c)) {
        ++m_pos;
        m_last = Token{Token::Type::Symbol, QString(c), start, false};
        return m_last;
    }
    return error(start, QStringLiteral("no character '%1' here").arg(c));
}

TDWPredicateLexer::Token TDWPredicateLexer::lexString(QChar quote)
{
    const qsizetype start = m_pos++;
    QString value;
    while (m_pos < m_format.size()) {
        const QChar c = m_format.at(m_pos);
        if (c == quote) {
            ++m_pos;
            m_last = Token{Token::Type::String, value, start, false};
            return m_last;
        }
        if (c != QLatin1Char('\\')) {
            value.append(c);
            ++m_pos;
            continue;
        }
        const qsizetype escapeAt = m_pos;
        const QChar e = peek(1);
        m_pos += 2;
        switch (e.unicode()) {
        case '\\': value.append(QLatin1Char('\\')); break;
        case '"': value.append(QLatin1Char('"')); break;
        case '\'': value.append(QLatin1Char('\'')); break;
        case 'n': value.append(QLatin1Char('\n')); break;
        case 'r': value.append(QLatin1Char('\r')); break;
        case 't': value.append(QLatin1Char('\t')); break;
        case '0': value.append(QChar(0)); break;
        case 'x':
        case 'u': {
            const int digits = e == QLatin1Char('x') ? 2 : 4;
            char16_t code = 0;
            for (int i = 0; i < digits; ++i) {
                const int v = hexValue(peek(i));
                if (v < 0)
                    return error(escapeAt, QStringLiteral("%1 hexadecimal digits after \\%2").arg(digits).arg(e));
                code = char16_t(code * 16 + v);
            }
            m_pos += digits;
            value.append(QChar(code));
            break;
        }
        default:
            return error(escapeAt, QStringLiteral("a known escape after '\\'"));
        }
    }
    return error(start, QStringLiteral("the closing quote of the string"));
}

TDWPredicateLexer::Token TDWPredicateLexer::lexNumber()
{
    const qsizetype start = m_pos;
    const QChar base = peek(1).toLower();
    if (peek() == QLatin1Char('0') && (base == QLatin1Char('x') || base == QLatin1Char('o') || base == QLatin1Char('b'))) {
        m_pos += 2;
        const int radix = base == QLatin1Char('x') ? 16 : base == QLatin1Char('o') ? 8 : 2;
        const qsizetype digitsStart = m_pos;
        while (m_pos < m_format.size()) {
            const int v = hexValue(m_format.at(m_pos));
            if (v < 0 || v >= radix)
                break;
            ++m_pos;
        }
        if (m_pos == digitsStart)
            return error(start, QStringLiteral("digits after the number prefix"));
    } else {
        bool real = false;
        while (peek().isDigit() && peek().unicode() < 128)
            ++m_pos;
        if (peek() == QLatin1Char('.') && peek(1).isDigit() && peek(1).unicode() < 128) {
            real = true;
            ++m_pos;
            while (peek().isDigit() && peek().unicode() < 128)
                ++m_pos;
        }
        if (peek().toLower() == QLatin1Char('e')) {
            qsizetype ahead = 1;
            if (peek(ahead) == QLatin1Char('+') || peek(ahead) == QLatin1Char('-'))
                ++ahead;
            if (peek(ahead).isDigit() && peek(ahead).unicode() < 128) {
                real = true;
                m_pos += ahead;
                while (peek().isDigit() && peek().unicode() < 128)
                    ++m_pos;
            }
        }
        if (real) {
            m_last = Token{Token::Type::Real, m_format.mid(start, m_pos - start), start, false};
            return m_last;
        }
    }
    if (isIdentifierPart(peek()))
        return error(m_pos, QStringLiteral("a separator after the number"));
    m_last = Token{Token::Type::Integer, m_format.mid(start, m_pos - start), start, false};
    return m_last;
}

TDWPredicateLexer::Token TDWPredicateLexer::lexPlaceholder()
{
    const qsizetype start = m_pos++;
    const qsizetype specStart = m_pos;
    // Length modifiers of printf-style conversions, then the conversion itself.
    while (!peek().isNull() && QStringLiteral("hlqLzjt").contains(peek()))
        ++m_pos;
    const QChar conversion = peek();
    if (conversion.isNull() || !QStringLiteral("@KdiuoxXfFeEgG").contains(conversion))
        return error(start, QStringLiteral("a known conversion after '%'"));
    ++m_pos;
    m_last = Token{Token::Type::Placeholder, m_format.mid(specStart, m_pos - specStart), start, false};
    return m_last;
}
