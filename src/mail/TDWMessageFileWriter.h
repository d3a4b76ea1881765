#pragma once

#include "platform/foundation/TDWSafeFile.h"
#include "platform/imap/TDWImapBodyWriter.h"

#include <QByteArray>
#include <QString>

#include <optional>

// Writes a message file (TDWMessageFile) while the message arrives, so that
// it never has to fit in memory: line ends are converted chunk by chunk, the
// count line is held open at the start and filled in once the whole message
// is in, and only the header block is kept for the property list. The file
// takes its name only when committed, replacing any old one whole; the
// folder must exist.
class TDWMessageFileWriter : public TDWImapBodyWriter
{
public:
    TDWMessageFileWriter(const QString &path, qint64 flagWord);
    ~TDWMessageFileWriter() override;

    bool open(TDWError *error) override;
    bool append(const char *data, qint64 size, TDWError *error) override;
    bool commit(TDWError *error) override;
    void abort() override;

    const QString &path() const { return m_path; }

private:
    bool appendConverted(QByteArray chunk, TDWError *error);

    const QString m_path;
    const qint64 m_flagWord;
    std::optional<TDWSafeFile> m_file;
    qint64 m_length = 0;
    // A CR that ended a chunk: a line end if the next chunk starts with LF.
    bool m_carriageReturnPending = false;
    // The start of the message, until its header block is complete.
    QByteArray m_head;
    bool m_headComplete = false;
};
