#include "MetadataStoreChecks.h"

#include "DataObjectsTestSupport.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace migrationtest {

QStringList metadataStoreFiles(const QString &dataPath)
{
    QStringList stores{dataPath};
    const QDir auxiliary(QFileInfo(dataPath).dir().filePath(QStringLiteral("Auxiliary Stores")));
    const QString names = dotest::sqlite(dataPath, QStringLiteral("SELECT storeFilename FROM AccountServiceSetting "
                                                                  "WHERE storeFilename IS NOT NULL ORDER BY storeFilename"));
    for (const QString &name : names.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (QFileInfo::exists(auxiliary.filePath(name)))
            stores.append(auxiliary.filePath(name));
    return stores;
}

QString tableRowCounts(const QString &path)
{
    const QStringList tables =
        dotest::sqlite(path, QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QStringList counts;
    for (const QString &table : tables)
        counts.append(QStringLiteral("SELECT '%1=' || count(*) FROM \"%1\"").arg(table));
    return counts.isEmpty() ? QString() : dotest::sqlite(path, counts.join(QStringLiteral(" UNION ALL ")) + QLatin1Char(';'));
}

QString layoutVersion(const QString &path)
{
    return dotest::sqlite(path, QStringLiteral("SELECT value FROM tdw_metadata WHERE key = 'layoutVersion'"));
}

bool hasColumn(const QString &path, const QString &table, const QString &column)
{
    return dotest::sqlite(path, QStringLiteral("SELECT count(*) FROM pragma_table_info('%1') WHERE name = '%2'").arg(table, column)) == QStringLiteral("1");
}

void expectSound(const QString &path)
{
    EXPECT_EQ(dotest::sqlite(path, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok")) << path.toStdString();
    EXPECT_EQ(dotest::sqlite(path, QStringLiteral("PRAGMA foreign_key_check")), QString()) << path.toStdString();
}

} // namespace migrationtest
