#pragma once

#include "TestSupport.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>

namespace mailtest {

// Python's verdict (tests/mail/check_message_file.py) on a message file against
// the bytes the server sent and the flags it had: empty when it accepts it.
inline QString messageFileVerdict(const QString &messageFile, const QByteArray &serverBytes, qint64 flags)
{
    const QString raw = tdwtest::freshDir(QStringLiteral("raw")) + QStringLiteral("/message.eml");
    QFile out(raw);
    if (!out.open(QIODevice::WriteOnly) || out.write(serverBytes) != serverBytes.size())
        return QStringLiteral("cannot write the server's bytes");
    out.close();
    QProcess python;
    python.start(QStringLiteral("python3"),
                 {tdwtest::sourcePath(QStringLiteral("tests/mail/check_message_file.py")), messageFile, raw, QString::number(flags)});
    if (!python.waitForFinished(30000))
        return QStringLiteral("python3 did not finish");
    return python.exitCode() == 0 ? QString() : QString::fromUtf8(python.readAllStandardOutput() + python.readAllStandardError());
}

} // namespace mailtest
