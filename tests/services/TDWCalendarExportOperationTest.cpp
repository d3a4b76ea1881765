#include "CalendarFixture.h"

#include "TestSupport.h"
#include "services/TDWCalendarExportOperation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

using namespace caltest;
using dotest::at;

using CalendarExportTest = CalendarFixture;

TEST_F(CalendarExportTest, ACalendarWithoutAStoreGetsOneAndAFileWithoutEvents)
{
    const TDWManagedObjectID revId = seedCalendar(TDWDocRev::DownloadPending);
    exportCalendar(revId);
    const TDWDocRev::Ptr rev = revision(revId);
    EXPECT_EQ(rev->exportStatus(), TDWDocRev::BackedUp) << rev->lastExportFailureError().toStdString();
    EXPECT_TRUE(calendarDoc()->databaseFilePath().startsWith(QLatin1String("alice at example dot com/")));
    EXPECT_TRUE(QFileInfo::exists(eventStorePath()));
    QFile file(backupFilePath(rev));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.startsWith("BEGIN:VCALENDAR\r\nPRODID:"));
    EXPECT_TRUE(text.endsWith("END:VCALENDAR\r\n"));
    EXPECT_FALSE(text.contains("BEGIN:VEVENT"));
}

// A calendar file that cannot be written is recorded as a failed download with the reason, and the
// file written before stays.
TEST_F(CalendarExportTest, AFileThatCannotBeWrittenIsRecordedAsFailedWithItsReason)
{
    const TDWManagedObjectID revId = seedCalendar(TDWDocRev::DownloadPending);
    ASSERT_TRUE(synchronise(revId, at(1)));
    const QString path = backupFilePath(revision(revId));
    // A folder where the file belongs: nothing can be renamed over it.
    ASSERT_TRUE(QDir().mkpath(path));
    tdwtest::LogCapture log;
    exportCalendar(revId);
    TDWDocRev::Ptr rev = revision(revId);
    EXPECT_EQ(rev->exportStatus(), TDWDocRev::DownloadFailed);
    EXPECT_TRUE(rev->lastExportFailureError().startsWith(QStringLiteral("ERROR: Unable to write to calendar file: ") + path))
        << rev->lastExportFailureError().toStdString();
    EXPECT_TRUE(rev->lastExportAttemptDate().isValid());
    EXPECT_TRUE(log.contains(QStringLiteral("Unable to write to calendar file")));

    // Writable again: the next backup writes it.
    ASSERT_TRUE(QDir(path).removeRecursively());
    exportCalendar(revId);
    rev = revision(revId);
    EXPECT_EQ(rev->exportStatus(), TDWDocRev::BackedUp);
    EXPECT_TRUE(rev->lastExportFailureError().isNull());
    EXPECT_EQ(icalendarProblems(path, QStringLiteral("expected-first.json")), QString());
}

TEST_F(CalendarExportTest, AnEventStoreThatCannotBeOpenedFailsTheDownload)
{
    const TDWManagedObjectID revId = seedCalendar(TDWDocRev::DownloadPending);
    ASSERT_TRUE(synchronise(revId, at(1)));
    // Something that is no store where the store should be.
    const QString storePath = eventStorePath();
    ASSERT_TRUE(QFile::remove(storePath));
    QFile junk(storePath);
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'x'));
    junk.close();
    exportCalendar(revId);
    const TDWDocRev::Ptr rev = revision(revId);
    EXPECT_EQ(rev->exportStatus(), TDWDocRev::DownloadFailed);
    EXPECT_EQ(rev->lastExportFailureError(), TDWCalendarExportOperation::NoEventStoreMessage);
}

} // namespace
