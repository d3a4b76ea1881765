#pragma once

#include "platform/foundation/TDWError.h"

#include <QByteArray>
#include <QString>

// Replacing a file so that a crash, a kill or a full disk at any moment leaves
// either the old content or the new, never a mixture or nothing. Every file the
// program writes goes through here, whole or streamed:
//
//   TDWSafeFile file(path);            // or TDWSafeFile(path, 0600)
//   file.open(&error);                 // a temporary file beside `path`
//   file.append(chunk, size, &error);  // as often as needed
//   file.commit(&error);               // fsync, rename over `path`, fsync the folder
//
// The old file stays intact until the rename; abort(), a failure or the
// destructor before commit() removes the temporary file and leaves `path`
// untouched (except when only the final folder fsync fails: the new content
// is then in place but not known to be durable, and commit() still reports the
// failure). A symbolic link at `path` is followed, so the link itself survives.
//
// Permissions: with a mode given, the temporary file is created with it (less
// the umask), so the content is never readable more widely than intended, not
// even for a moment. Without one, a replaced file keeps its own mode and a new
// one gets the usual 0666 less the umask.
//
// Temporary files are named ".<name>.tdw-<random>"; what a kill leaves behind
// is removed by sweepTemporaryFiles() when the program starts.
// One object writes one file, on one thread at a time.
class TDWSafeFile
{
public:
    static constexpr int DefaultMode = -1;

    explicit TDWSafeFile(QString path, int mode = DefaultMode);
    ~TDWSafeFile();
    TDWSafeFile(const TDWSafeFile &) = delete;
    TDWSafeFile &operator=(const TDWSafeFile &) = delete;

    // Creates the temporary file; the folder of `path` must exist.
    bool open(TDWError *error);
    bool append(const char *data, qint64 size, TDWError *error);
    bool commit(TDWError *error);
    // Drops what was written; open() may start again.
    void abort();
    bool isOpen() const { return m_fd >= 0; }
    const QString &path() const { return m_path; }

    // The whole-buffer form of open, append and commit.
    static bool write(const QString &path, const QByteArray &bytes, TDWError *error, int mode = DefaultMode);

    // Whether `fileName` (no folder) is one of our temporary names.
    static bool isTemporaryName(const QString &fileName);
    // Removes every temporary file of ours under `folder`, at any depth,
    // without following symbolic links. Answers how many were removed.
    static int sweepTemporaryFiles(const QString &folder);

private:
    bool fail(TDWError *error, const char *step, int err);
    void closeAndUnlink();

    QString m_path;
    int m_mode;
    QByteArray m_target;       // `path` with a symbolic link resolved
    QByteArray m_folder;
    QByteArray m_temporary;
    int m_fd = -1;
    int m_keepMode = -1;       // the replaced file's mode, when no mode was given
};
