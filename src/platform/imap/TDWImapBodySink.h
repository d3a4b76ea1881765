#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/imap/TDWImapBodyWriter.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

// Where a message body literal goes while it arrives, chunk by chunk, so a
// large message never has to fit in memory: either a byte array, or a writer
// (a file written through TDWSafeFile, the old copy whole until the complete
// new one replaces it). A message has content: an absent or empty body is
// never committed. A body is bounded by the size the server listed for the
// message (RFC822.SIZE) plus a margin, and by a ceiling whatever it listed; a
// larger one is refused as it is announced, and nothing of it is kept. Used on
// one connection thread at a time.
class TDWImapBodySink
{
public:
    // Five times the largest message Gmail delivers (50 MB with its encoding).
    static constexpr qint64 MaximumSize = qint64(256) << 20;
    // The largest body accepted for a message listed at `listedSize` bytes:
    // servers count a little differently (line ends, a header of their own).
    static qint64 allowedSize(qint64 listedSize);

    // Collects the body in memory.
    TDWImapBodySink();
    // Writes the body as the server sent it to `path`, creating its folder when needed.
    explicit TDWImapBodySink(const QString &path);
    explicit TDWImapBodySink(std::unique_ptr<TDWImapBodyWriter> writer);
    ~TDWImapBodySink();
    TDWImapBodySink(const TDWImapBodySink &) = delete;
    TDWImapBodySink &operator=(const TDWImapBodySink &) = delete;

    // Told (bytes received, bytes announced) after every chunk.
    void setProgressHandler(std::function<void(qint64, qint64)> handler) { m_progress = std::move(handler); }

    // The size the server listed for the message, told before or after its body.
    void setListedSize(qint64 size);
    // Whether a body of `size` bytes would be taken.
    bool accepts(qint64 size) const;

    // A body of `size` bytes starts; a second body replaces the first.
    void begin(qint64 size);
    void write(const char *data, qint64 size);

    bool hasBody() const { return m_started; }
    qint64 expectedSize() const { return m_expected; }
    qint64 receivedSize() const { return m_received; }
    bool failed() const { return !m_error.isNull(); }
    const TDWError &error() const { return m_error; }

    // Makes a complete body final: a writer commits it (a file is flushed and
    // renamed into place). Fails when no body, or an empty one, arrived.
    bool commit(TDWError *error);
    // Drops what arrived (a writer removes its temporary file).
    void abort();

    const QByteArray &data() const { return m_data; }

private:
    void refuse(qint64 size);
    void setWriterError(const TDWError &writerError);

    std::unique_ptr<TDWImapBodyWriter> m_writer;
    bool m_writerOpen = false;
    qint64 m_listed = -1;
    bool m_started = false;
    qint64 m_expected = 0;
    qint64 m_received = 0;
    QByteArray m_data;
    TDWError m_error;
    std::function<void(qint64, qint64)> m_progress;
};
