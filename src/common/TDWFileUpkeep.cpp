#include "common/TDWFileUpkeep.h"

#include "common/TDWFileMgr.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWPrivateFiles.h"
#include "platform/foundation/TDWSafeFile.h"
#include "platform/foundation/TDWUserDefaults.h"

#include <QDir>

QStringList TDWFileUpkeep::foldersAtStartup(const QString &dataDir, const QString &configDir)
{
    QStringList folders = {dataDir, configDir};
    const QString chosen = TDWFileMgr::altBackupLocation();
    if (!chosen.isEmpty())
        folders.append(chosen);
    return folders;
}

void TDWFileUpkeep::atStartup(const QString &dataDir, const QString &configDir)
{
    const QStringList folders = foldersAtStartup(dataDir, configDir);
    for (const QString &folder : folders)
        TDWSafeFile::sweepTemporaryFiles(folder);

    // Each folder is walked once, however large: the files made since are
    // private from their creation. A newly chosen backup folder is walked at
    // the first start that finds it chosen.
    TDWUserDefaults *defaults = TDWUserDefaults::standard();
    QStringList done = defaults->stringArrayForKey(MadePrivateKey);
    const qsizetype doneBefore = done.size();
    for (const QString &folder : folders) {
        const QString path = QDir::cleanPath(folder);
        if (done.contains(path))
            continue;
        if (const qint64 failed = TDWPrivateFiles::makePrivate(path)) {
            tdwLog(QStringLiteral("ERROR: Unable to make %1 files private in %2").arg(failed).arg(path));
            continue;
        }
        done.append(path);
    }
    if (done.size() != doneBefore) {
        QVariantList list;
        for (const QString &path : std::as_const(done))
            list.append(path);
        defaults->setObject(list, MadePrivateKey);
        defaults->synchronize();
    }
}
