#include "platform/foundation/TDWResources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace TDWResources {

QString directory()
{
    const QString overridden = qEnvironmentVariable("TIDEWELL_RESOURCES");
    if (!overridden.isEmpty())
        return QDir::cleanPath(overridden);
    if (QCoreApplication::instance()) {
        const QString installed = QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/tidewell"));
        if (QFileInfo(installed).isDir())
            return installed;
    }
    return QStringLiteral(TDW_RESOURCES_DIR_FALLBACK);
}

QString path(const QString &name, const QString &type)
{
    if (name.isEmpty())
        return {};
    const QString file = type.isEmpty() ? name : name + u'.' + type;
    const QString candidate = QDir(directory()).filePath(file);
    return QFileInfo(candidate).isFile() ? QDir::cleanPath(candidate) : QString();
}

} // namespace TDWResources
