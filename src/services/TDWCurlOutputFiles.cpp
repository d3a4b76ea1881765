#include "services/TDWCurlOutputFiles.h"

#include "common/TDWFileMgr.h"
#include "platform/foundation/TDWPrivateFiles.h"

#include <QDir>
#include <QFile>

#include <cstdlib>
#include <unistd.h>

namespace {

const QString UniquePart = QStringLiteral("XXXXXX");
const QString Suffix = QStringLiteral(".tmp");

} // namespace

TDWCurlOutputFiles::TDWCurlOutputFiles(const QString &stem)
{
    const QString folder = TDWFileMgr::tempPath();
    TDWPrivateFiles::makeFolder(folder);
    m_headerFile = makeFile(folder, stem + QStringLiteral(".headers."));
    m_dataFile = makeFile(folder, stem + QStringLiteral(".data."));
}

TDWCurlOutputFiles::~TDWCurlOutputFiles()
{
    for (const QString &path : {m_headerFile, m_dataFile}) {
        if (!path.isEmpty())
            QFile::remove(path);
    }
}

QString TDWCurlOutputFiles::makeFile(const QString &folder, const QString &prefix)
{
    // mkstemps makes the file 0600 and never opens one that is already there.
    QByteArray path = QFile::encodeName(QDir(folder).filePath(prefix + UniquePart + Suffix));
    const int fd = ::mkstemps(path.data(), int(Suffix.size()));
    if (fd < 0)
        return {};
    ::close(fd);
    return QFile::decodeName(path);
}
