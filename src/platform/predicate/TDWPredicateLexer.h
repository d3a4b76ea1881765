#pragma once

#include <QString>

// Splits a predicate format into tokens, one at a time, keeping the offset of
// each so that errors can say where the format went wrong.
class TDWPredicateLexer
{
public:
    struct Token {
        enum class Type {
            End,
            Identifier,   // a name or keyword; `escaped` when written with '#'; "@count" style names too
            Variable,     // $name: `text` is the name
            String,       // `text` is the unescaped value
            Integer,      // `text` holds the digits as written (with 0x/0o/0b prefixes)
            Real,
            Placeholder,  // %@ %K %d ...: `text` is the conversion, e.g. "@", "K", "ld"
            Symbol,       // ( ) { } [ ] , . - and the operators == = != <> < <= =< > >= => && || !
            Error,        // `text` says what is wrong
        };
        Type type = Type::End;
        QString text;
        qsizetype position = 0;
        bool escaped = false;
    };

    explicit TDWPredicateLexer(const QString &format);

    // The next token; after an Error or End it keeps returning that token.
    Token next();

    static bool isIdentifierStart(QChar c);
    static bool isIdentifierPart(QChar c);
    // Whether a name is a word of the syntax, written with '#' to be a key.
    static bool isReservedWord(const QString &name);
    // Whether a name can stand as one key of a key path ("name", "@count").
    static bool isKeyName(const QString &name);

private:
    Token lexString(QChar quote);
    Token lexNumber();
    Token lexPlaceholder();
    Token error(qsizetype position, const QString &what);
    QChar peek(qsizetype ahead = 0) const;

    QString m_format;
    qsizetype m_pos = 0;
    bool m_failed = false;
    Token m_last;
};
