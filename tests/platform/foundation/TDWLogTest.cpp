#include "platform/foundation/TDWLog.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

TEST(TDWLog, WritesOneLinePerEventToTheFileAndObservers)
{
    const QString path = QDir(tdwtest::freshDir()).filePath(QStringLiteral("logs/tidewell.log"));
    TDWLog::setLogFile(path);
    tdwtest::LogCapture capture;

    tdwLog(QStringLiteral("ERROR: first\nsecond half"));
    tdwLog(QStringLiteral("plain"));
    TDWLog::setLogFile({});

    EXPECT_EQ(capture.lines(), (QStringList{QStringLiteral("ERROR: first second half"), QStringLiteral("plain")}));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    ASSERT_EQ(lines.size(), 3); // two lines and the empty tail
    EXPECT_TRUE(lines[0].endsWith("ERROR: first second half"));
    EXPECT_TRUE(lines[1].endsWith("plain"));
}

// Token-endpoint error bodies end up in the log: only the user may read it,
// whatever the umask, and a log left readable by an older version is closed up.
TEST(TDWLog, TheLogFileIsPrivate)
{
    const QString dir = tdwtest::freshDir();
    const QString fresh = QDir(dir).filePath(QStringLiteral("fresh.log"));
    const QString old = QDir(dir).filePath(QStringLiteral("old.log"));
    QFile oldFile(old);
    ASSERT_TRUE(oldFile.open(QIODevice::WriteOnly));
    oldFile.close();
    ASSERT_EQ(::chmod(QFile::encodeName(old).constData(), 0644), 0);

    const mode_t savedMask = ::umask(0);
    for (const QString &path : {fresh, old}) {
        SCOPED_TRACE(qPrintable(path));
        TDWLog::setLogFile(path);
        tdwLog(QStringLiteral("line"));
        TDWLog::setLogFile({});
        struct stat info;
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, mode_t(0600));
    }
    ::umask(savedMask);
}
