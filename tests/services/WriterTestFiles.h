#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Whole-file reads and writes for the writer tests.
namespace writertest {

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

// The file as an earlier backup left it.
inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace writertest
