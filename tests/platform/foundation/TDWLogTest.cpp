#include "platform/foundation/TDWLog.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

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
