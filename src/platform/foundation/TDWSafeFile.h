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
// Creating only (Target::CreateOnly): for a restore, an export or a move, which
// must never overwrite what is already there nor be led elsewhere by a link.
// open() refuses (EEXIST) when anything, a dangling link included, has the
// final name, and commit() puts the file in place with one rename that fails
// (EEXIST) if something took the name meanwhile. Neither a link at the final
// name nor the folder's own name is followed (ELOOP or ENOTDIR when the folder
// is a link): resolve a folder the user chose once, before joining names to it.
//
// Permissions: with a mode given, the temporary file is created with it (less
// the umask), so the content is never readable more widely than intended, not
// even for a moment. Without one, a replaced file keeps its own mode and a new
// one gets the usual 0666 less the umask.
//
// Temporary files are named ".<name>.tdw-<random>" (and folders the same way,
// see createTemporaryFolder()); what a kill leaves behind is removed by
// sweepTemporaryFiles() when the program starts.
// One object writes one file, on one thread at a time.
class TDWSafeFile
{
public:
    static constexpr int DefaultMode = -1;
    enum class Target { Replace, CreateOnly };

    explicit TDWSafeFile(QString path, int mode = DefaultMode, Target target = Target::Replace);
    ~TDWSafeFile();
    TDWSafeFile(const TDWSafeFile &) = delete;
    TDWSafeFile &operator=(const TDWSafeFile &) = delete;

    // Creates the temporary file; the folder of `path` must exist.
    bool open(TDWError *error);
    bool append(const char *data, qint64 size, TDWError *error);
    // Writes over bytes appended before, at `offset` from the start: a leading
    // field whose value is known only once the rest is written.
    bool overwrite(qint64 offset, const char *data, qint64 size, TDWError *error);
    bool commit(TDWError *error);
    // Drops what was written; open() may start again.
    void abort();
    bool isOpen() const { return m_fd >= 0; }
    const QString &path() const { return m_path; }
    // The open temporary file's path, for a writer that can only fill a file
    // by its name (SQLite's backup of a store). Empty when not open.
    QString temporaryPath() const;

    // The whole-buffer form of open, append and commit.
    static bool write(const QString &path, const QByteArray &bytes, TDWError *error, int mode = DefaultMode,
                      Target target = Target::Replace);

    // Copies the regular file `source` to `destination` through open, append
    // and commit, with its user.* extended attributes (a bookmark keeps its
    // address there), set before the copy takes its final name. The copy takes
    // `mode` as any write does, never the source's: the copy of a locked file
    // is writable by its owner. A link at `source` is refused (ELOOP), not
    // followed; so is anything but a regular file (EINVAL). A destination whose
    // file system keeps no user attributes fails (ENOTSUP) when the source has
    // some, rather than losing them.
    static bool copy(const QString &source, const QString &destination, TDWError *error, int mode = DefaultMode,
                     Target target = Target::Replace);

    // A folder to fill before it takes its final name whole, so a kill never
    // leaves a part of it under that name: made empty beside `path` with a
    // temporary name and `mode`, then put in place by commitFolder(). Answers
    // its path, or an empty one on failure.
    static QString createTemporaryFolder(const QString &path, int mode, TDWError *error);
    // Renames the folder `temporary` to `path` in the same folder, never
    // replacing anything there (EEXIST) and never following a link at `path`,
    // then syncs the folder holding both. On failure `temporary` is removed.
    static bool commitFolder(const QString &temporary, const QString &path, TDWError *error);

    // Whether `fileName` (no folder) is one of our temporary names, or the
    // side file SQLite keeps beside one while it fills it.
    static bool isTemporaryName(const QString &fileName);
    // Removes every temporary file and folder of ours under `folder`, at any
    // depth, without following symbolic links. Answers how many were removed.
    static int sweepTemporaryFiles(const QString &folder);

private:
    bool fail(TDWError *error, const char *step, int err);
    bool copyUserAttributes(int sourceFd, TDWError *error);
    void closeAndUnlink();

    QString m_path;
    int m_mode;
    Target m_target;
    QByteArray m_folder;       // the folder of `path`, a symbolic link at `path` resolved
    QByteArray m_name;         // the final name in that folder
    QByteArray m_temporary;    // the temporary file's name in that folder
    int m_folderFd = -1;
    int m_fd = -1;
    int m_keepMode = -1;       // the replaced file's mode, when no mode was given
};
