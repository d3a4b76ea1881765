#pragma once

#include "dataobjects/TDWDocRev.h"
#include "services/TDWCardCalWriter.h"

#include <QString>
#include <QVariantList>

// Writes task lists of the Google Tasks API as one iCalendar file of to-do
// components, at the revision's path in the calendar backup folder. Each task
// list is a map whose "items" holds the Tasks API's task objects ("id",
// "updated", "title", "completed", "due", "notes"), written in their order.
//
// One writer serves one file.
class TDWCalWriter : public TDWCardCalWriter
{
public:
    TDWCalWriter(TDWDocRev::Ptr docRev, QVariantList taskLists); // initWithDocRev:taskLists:

    // True when the file was written; otherwise the reason is logged and an
    // existing file is left as it was.
    bool writeCalendarFile();

    // "2012-03-04T05:06:07.000Z" gives "20120304T050607Z".
    static QString calDateTimeFromJsonDate(const QString &date);
    // "2012-03-04T00:00:00.000Z" gives "20120304".
    static QString calDateOnlyFromJsonDate(const QString &date);

private:
    void addTask(const QVariantMap &task);

    TDWDocRev::Ptr m_docRev;
    QVariantList m_taskLists;
};
