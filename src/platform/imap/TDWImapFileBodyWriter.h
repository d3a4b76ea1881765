#pragma once

#include "platform/foundation/TDWSafeFile.h"
#include "platform/imap/TDWImapBodyWriter.h"

#include <QString>

#include <optional>

// Writes a body as the server sent it to a file through TDWSafeFile (the old
// copy stays whole until the complete new one replaces it), creating the
// file's folder when needed. The file is private to the user.
class TDWImapFileBodyWriter : public TDWImapBodyWriter
{
public:
    explicit TDWImapFileBodyWriter(const QString &path);

    bool open(TDWError *error) override;
    bool append(const char *data, qint64 size, TDWError *error) override;
    bool commit(TDWError *error) override;
    void abort() override;

private:
    QString m_path;
    std::optional<TDWSafeFile> m_file;
};
