// The task-list writer: the to-do components, their dates, text that must
// stay inside its value, the file read back by vobject, and a failed write.
#include "services/TDWCalWriter.h"

#include "FileSizeLimit.h"
#include "TestSupport.h"
#include "WriterFixture.h"
#include "WriterTestFiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

using TDWCalWriterTest = WriterFixture;

const QString Header = QStringLiteral(
    "BEGIN:VCALENDAR\r\nPRODID:-//Tidewell//Tidewell Calendar Backup//EN\r\nMETHOD:PUBLISH\r\nVERSION:2.0\r\nCALSCALE:GREGORIAN\r\n");

QVariantMap task(const QVariantMap &fields)
{
    QVariantMap task{{"id", "t1"}, {"updated", "2012-03-04T05:06:07.000Z"}, {"title", "Task"}};
    task.insert(fields);
    return task;
}

QVariantMap taskList(const QVariantList &items)
{
    return {{"kind", "tasks#tasks"}, {"items", items}};
}

TEST(TDWCalWriter, ConvertsServerDatesToTheBasicForm)
{
    EXPECT_EQ(TDWCalWriter::calDateTimeFromJsonDate(QStringLiteral("2012-03-04T05:06:07.000Z")), QStringLiteral("20120304T050607Z"));
    EXPECT_EQ(TDWCalWriter::calDateTimeFromJsonDate(QStringLiteral("2012-03-04T05:06:07Z")), QStringLiteral("20120304T050607ZZ"));
    EXPECT_EQ(TDWCalWriter::calDateOnlyFromJsonDate(QStringLiteral("2012-03-04T00:00:00.000Z")), QStringLiteral("20120304"));
    EXPECT_EQ(TDWCalWriter::calDateOnlyFromJsonDate(QStringLiteral("2012-03-04")), QStringLiteral("20120304"));
    EXPECT_EQ(TDWCalWriter::calDateOnlyFromJsonDate(QStringLiteral("2012-03-04\r\nX")), QStringLiteral("20120304\\nX"));
}

TEST_F(TDWCalWriterTest, WritesEveryTaskOfEveryListAsAToDo)
{
    const QVariantList lists = {
        taskList({task({}), task({{"id", "t2"}, {"title", "Pay; rent, now"}, {"completed", "2012-03-05T10:00:00.000Z"},
                                  {"due", "2012-03-06T00:00:00.000Z"}, {"notes", "first\nEND:VCALENDAR"}})}),
        QVariantMap{{"kind", "tasks#tasks"}},
        taskList({task({{"id", "t3"}})}),
    };
    const TDWDocRev::Ptr rev = revision(Calendar, QStringLiteral("tasklist"), QStringLiteral("Tasks"), QStringLiteral("ics"));
    tdwtest::LogCapture log;
    ASSERT_TRUE(TDWCalWriter(rev, lists).writeCalendarFile());
    EXPECT_EQ(log.lines(), QStringList());
    const QString todo = QStringLiteral("BEGIN:VTODO\r\nUID:%1\r\nDTSTAMP:20120304T050607Z\r\nSUMMARY:Task\r\nSEQUENCE:0\r\nEND:VTODO\r\n");
    EXPECT_EQ(writertest::readAll(onDisk(rev)).toStdString(),
              (Header + todo.arg("t1") +
               "BEGIN:VTODO\r\nUID:t2\r\nDTSTAMP:20120304T050607Z\r\nSUMMARY:Pay\\; rent\\, now\r\nSEQUENCE:0\r\n"
               "COMPLETED:20120305T100000Z\r\nDUE;VALUE=DATE:20120306\r\nDESCRIPTION:first\\nEND:VCALENDAR\r\nEND:VTODO\r\n" +
               todo.arg("t3") + "END:VCALENDAR\r\n")
                  .toStdString());

    const ScriptRun read = runScript(QStringLiteral("read_ics_todos.py"), {onDisk(rev)});
    ASSERT_EQ(read.exitCode, 0) << read.output.toStdString();
    const QJsonObject calendar = QJsonDocument::fromJson(read.output.toUtf8()).object();
    EXPECT_EQ(calendar.value("PRODID").toString(), QStringLiteral("-//Tidewell//Tidewell Calendar Backup//EN"));
    const QJsonObject second = calendar.value("todos").toArray().at(1).toObject();
    EXPECT_EQ(calendar.value("todos").toArray().size(), 3);
    EXPECT_EQ(second.value("SUMMARY").toString(), QStringLiteral("Pay; rent, now"));
    EXPECT_EQ(second.value("DESCRIPTION").toString(), QStringLiteral("first\nEND:VCALENDAR"));
    EXPECT_EQ(second.value("DUE").toString(), QStringLiteral("2012-03-06"));
    EXPECT_EQ(second.value("COMPLETED").toString(), QStringLiteral("2012-03-05T10:00:00+00:00"));
}

TEST_F(TDWCalWriterTest, NoListsGiveAnEmptyCalendar)
{
    const TDWDocRev::Ptr rev = revision(Calendar, QStringLiteral("tasklist"), QStringLiteral("Empty"), QStringLiteral("ics"));
    ASSERT_TRUE(TDWCalWriter(rev, {}).writeCalendarFile());
    EXPECT_EQ(writertest::readAll(onDisk(rev)).toStdString(), (Header + "END:VCALENDAR\r\n").toStdString());
}

TEST_F(TDWCalWriterTest, AFailedWriteKeepsTheOldFile)
{
    const TDWDocRev::Ptr rev = revision(Calendar, QStringLiteral("tasklist"), QStringLiteral("Kept"), QStringLiteral("ics"));
    const QString path = onDisk(rev);
    ASSERT_TRUE(writertest::writeFile(path, "old tasks"));
    QVariantList items;
    for (int i = 0; i < 50; ++i)
        items << task({{"notes", QString(100, u'n')}});
    tdwtest::LogCapture log;
    {
        FileSizeLimit limit(1024);
        EXPECT_FALSE(TDWCalWriter(rev, {taskList(items)}).writeCalendarFile());
    }
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to write to task list .ics file: %1: ").arg(path)));
    EXPECT_EQ(writertest::readAll(path), QByteArray("old tasks"));
}

} // namespace
