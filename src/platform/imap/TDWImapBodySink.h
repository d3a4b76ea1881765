#pragma once

#include "platform/foundation/TDWError.h"

#include <QByteArray>
#include <QString>

#include <functional>

// Where a message body literal goes while it arrives, chunk by chunk, so a
// large message never has to fit in memory: either a byte array, or a file
// written the safe way (a temporary name in the target folder, flushed to
// disk, then renamed over the target). Used on one connection thread at a time.
class TDWImapBodySink
{
public:
    // Collects the body in memory.
    TDWImapBodySink() = default;
    // Writes the body to `path`; with `syncToDisk` the file is fsync'ed before the rename.
    TDWImapBodySink(const QString &path, bool syncToDisk);
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
    bool commit(TDWError *error);
    // Drops what arrived (a file sink removes its temporary file).
    void abort();

    const QByteArray &data() const { return m_data; }
    const QString &path() const { return m_path; }

private:
    void setFileError(const QString &what, int errorNumber);
    void discardTemporary();

    QString m_path;
    bool m_sync = false;
    bool m_started = false;
    qint64 m_expected = 0;
    qint64 m_received = 0;
    QByteArray m_data;
    int m_fd = -1;
    QByteArray m_temporaryPath;
    TDWError m_error;
    std::function<void(qint64, qint64)> m_progress;
};
