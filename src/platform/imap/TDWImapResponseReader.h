#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

class TDWImapBodySink;

// Cuts the byte stream from a server into whole responses for the parser: a
// response is its lines joined with its literals inline ("{n}\r\n" and the n
// bytes), without the final CRLF. A literal the router claims (a message body)
// goes to that sink chunk by chunk and stands as NIL in the text; a literal
// larger than the inline limit that nobody claims is skipped the same way, so
// memory stays bounded whatever the server sends.
class TDWImapResponseReader
{
public:
    struct Limits
    {
        qsizetype maxLine = 1 << 20;          // one line between literals
        qint64 maxInlineLiteral = 8 << 20;    // larger unclaimed literals are skipped
        qsizetype maxResponse = 64 << 20;     // the assembled text of one response
    };

    // Asked at every literal: the response text so far, the current line up to the
    // "{", and the literal's size. Returns the sink to stream it into, or nullptr.
    using LiteralRouter = std::function<TDWImapBodySink *(const QByteArray &earlierText, const QByteArray &lineBeforeLiteral, qint64 size)>;
    // Called for every complete response, with the sinks that received its literals.
    using ResponseHandler = std::function<void(const QByteArray &text, const QList<TDWImapBodySink *> &sinks)>;

    TDWImapResponseReader();
    explicit TDWImapResponseReader(Limits limits);

    void setLiteralRouter(LiteralRouter router) { m_router = std::move(router); }
    void setResponseHandler(ResponseHandler handler) { m_handler = std::move(handler); }

    // Consumes bytes. False once the stream can no longer be framed (a line or
    // response over its limit); errorString() says why and later calls do nothing.
    bool feed(const char *data, qsizetype size);
    const QString &errorString() const { return m_error; }
    // True between responses: nothing of a response is pending.
    bool isBetweenResponses() const;
    qint64 skippedLiteralBytes() const { return m_skipped; }

private:
    bool completeLine();
    bool fail(const QString &error);

    Limits m_limits;
    LiteralRouter m_router;
    ResponseHandler m_handler;
    QByteArray m_text;
    QByteArray m_line;
    QList<TDWImapBodySink *> m_sinks;
    qint64 m_literalLeft = 0;
    TDWImapBodySink *m_literalSink = nullptr;
    bool m_literalInline = false;
    qint64 m_skipped = 0;
    QString m_error;
};
