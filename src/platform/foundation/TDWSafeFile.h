#pragma once

#include "platform/foundation/TDWError.h"

#include <QByteArray>
#include <QString>

// Replacing a file so that a crash, a kill or a full disk at any moment leaves
// either the old content or the new, never a mixture or nothing.
namespace TDWSafeFile {

inline const QString ErrorDomain = QStringLiteral("TDWSafeFile"); // codes are errno values

// Writes to a temporary file in the same folder, fsyncs it, renames it over
// `path`, then fsyncs the folder. The old file stays intact until the rename;
// on any failure the temporary file is removed and `path` is untouched (except
// when only the final folder fsync fails: the new content is then in place but
// not known to be durable, and the call still reports the failure).
// A symbolic link at `path` is followed, so the link itself survives.
// A new file gets the usual permissions (0666 less the umask); a replaced one keeps its own.
// Temporary files are named ".<name>.tdw-<random>".
bool write(const QString &path, const QByteArray &bytes, TDWError *error);

} // namespace TDWSafeFile
