#pragma once

#include <QByteArray>
#include <QList>

// Numbered file contents for the kill tests: each version has its own size and
// bytes, so a torn or mixed file is never mistaken for a complete one.
namespace safefiletest {

inline QByteArray versionContent(qint64 version)
{
    QByteArray content = "version " + QByteArray::number(version) + '\n';
    const qsizetype payload = 96 * 1024 + (version % 7) * 4096;
    content.reserve(content.size() + payload + 32);
    for (qsizetype i = 0; i < payload; ++i)
        content.append(char((version * 31 + i) % 251));
    content.append("\nend " + QByteArray::number(version) + '\n');
    return content;
}

// The version a file holds, or -1 when it is not exactly one complete version.
inline qint64 versionOf(const QByteArray &content)
{
    const qsizetype newline = content.indexOf('\n');
    if (!content.startsWith("version ") || newline < 0)
        return -1;
    bool ok = false;
    const qint64 version = content.mid(8, newline - 8).toLongLong(&ok);
    return ok && content == versionContent(version) ? version : -1;
}

} // namespace safefiletest
