#include "services/TDWCalWriter.h"

#include "common/TDWFileMgr.h"
#include "common/TDWServiceIds.h"
#include "platform/foundation/TDWLog.h"

#include <QDir>

TDWCalWriter::TDWCalWriter(TDWDocRev::Ptr docRev, QVariantList taskLists)
    : m_docRev(std::move(docRev))
    , m_taskLists(std::move(taskLists))
{
}

bool TDWCalWriter::writeCalendarFile()
{
    addICalendarHeader();
    for (const QVariant &taskList : std::as_const(m_taskLists))
        for (const QVariant &task : taskList.toMap().value(QStringLiteral("items")).toList())
            addTask(task.toMap());
    addLine(QStringLiteral("END:VCALENDAR"));

    const QString path = QDir(TDWFileMgr::backedUpItemsPathForService(TDWServiceIds::Calendar)).filePath(m_docRev->filePath());
    TDWError error;
    if (!writeContents(path, &error)) {
        tdwLog(QStringLiteral("ERROR: Unable to write to task list .ics file: %1: %2").arg(path, error.description()));
        return false;
    }
    return true;
}

// Titles and notes are text the user typed: escaped, so that a line break or
// a line such as "END:VCALENDAR" in a note stays inside its value.
void TDWCalWriter::addTask(const QVariantMap &task)
{
    const auto text = [&task](const char *key) { return task.value(QLatin1String(key)).toString(); };
    addLine(QStringLiteral("BEGIN:VTODO"));
    addLine(QStringLiteral("UID:") + escape(text("id")));
    addLine(QStringLiteral("DTSTAMP:") + calDateTimeFromJsonDate(text("updated")));
    addLine(QStringLiteral("SUMMARY:") + escape(text("title")));
    addLine(QStringLiteral("SEQUENCE:0"));
    if (task.contains(QStringLiteral("completed")))
        addLine(QStringLiteral("COMPLETED:") + calDateTimeFromJsonDate(text("completed")));
    if (task.contains(QStringLiteral("due")))
        addLine(QStringLiteral("DUE;VALUE=DATE:") + calDateOnlyFromJsonDate(text("due")));
    if (task.contains(QStringLiteral("notes")))
        addLine(QStringLiteral("DESCRIPTION:") + escape(text("notes")));
    addLine(QStringLiteral("END:VTODO"));
}

QString TDWCalWriter::calDateTimeFromJsonDate(const QString &date)
{
    QString basic = withoutLineBreaks(date).remove(u'-').remove(u':');
    const qsizetype dot = basic.indexOf(u'.');
    if (dot >= 0)
        basic.truncate(dot);
    return basic + u'Z';
}

QString TDWCalWriter::calDateOnlyFromJsonDate(const QString &date)
{
    QString basic = withoutLineBreaks(date).remove(u'-');
    const qsizetype t = basic.indexOf(u'T');
    if (t >= 0)
        basic.truncate(t);
    return basic;
}
