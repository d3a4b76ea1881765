#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/foundation/TDWSafeFile.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// Where a message body literal goes while it arrives, chunk by chunk, so a
// large message never has to fit in memory: either a byte array, or a file
// written through TDWSafeFile (the old copy stays whole until the complete new
// one replaces it). A message has content: an absent or empty body is never
// committed. Used on one connection thread at a time.
class TDWImapBodySink
{
public:
    // Collects the body in memory.
    TDWImapBodySink() = default;
    // Writes the body to `path`, creating its folder when needed.
    explicit TDWImapBodySink(const QString &path);
    ~TDWImapBodySink();
    TDWImapBodySink(const TDWImapBodySink &) = delete;
    TDWImapBodySink &operator=(const TDWImapBodySink &) = delete;

    // Told (bytes received, bytes announced) after every chunk.
    void setProgressHandler(std::function<void(qint64, qint64)> handler) { m_progress = std::move(handler); }

    // A body of `size` bytes starts; a second body replaces the first.
    void begin(qint64 size);
    void write(const char *data, qint64 size);

    bool hasBody() const { return m_started; }
    qint64 expectedSize() const { return m_expected; }
    qint64 receivedSize() const { return m_received; }
    bool failed() const { return !m_error.isNull(); }
    const TDWError &error() const { return m_error; }

    // Makes a complete body final: for a file, flush and rename it into place.
    // Fails when no body, or an empty one, arrived.
    bool commit(TDWError *error);
    // Drops what arrived (a file sink removes its temporary file).
    void abort();

    const QByteArray &data() const { return m_data; }
    const QString &path() const { return m_path; }

private:
    void setFileError(const TDWError &fileError);

    QString m_path;
    bool m_started = false;
    qint64 m_expected = 0;
    qint64 m_received = 0;
    QByteArray m_data;
    std::optional<TDWSafeFile> m_file;
    TDWError m_error;
    std::function<void(qint64, qint64)> m_progress;
};
