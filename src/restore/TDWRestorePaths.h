#pragma once

#include "platform/foundation/TDWError.h"

#include <QString>
#include <QStringList>

// Where a restore may read and write. Names of restored items come from
// remote titles and from the caller, so every component of a target passes
// through the one safe file-name function, and nothing is written outside the
// folder the user chose nor through a link found on the way.
namespace TDWRestorePaths {

// `component` as one safe name: itself when it already is one
// ("Work.mbox", "Report-1.pdf"), else reduced to one.
QString safeComponent(const QString &component);
// A relative path ("a/b") as safe components; empty components are dropped,
// so "/abs" is "abs" and "a//b" is "a", "b".
QStringList safeComponents(const QString &relativePath);

// `folder` with `components` appended.
QString join(const QString &folder, const QStringList &components);

// Makes each of `components` below `root` as a folder, one under the other,
// keeping those already there. A link or anything but a folder at one of the
// names is refused (ENOTDIR), never followed, so the chain stays below
// `root`.
bool makeFolders(const QString &root, const QStringList &components, TDWError *error);

// The backed-up file `filePath` names in `itemsFolder`: an empty string with
// `error` set unless it is a regular file (not a link) inside that folder.
QString sourceInItemsFolder(const QString &itemsFolder, const QString &filePath, TDWError *error);

// The size of the regular file at `path`; 0 when it cannot be read.
qint64 fileSize(const QString &path);

} // namespace TDWRestorePaths
