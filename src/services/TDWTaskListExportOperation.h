#pragma once

#include "services/TDWExportOperation.h"
#include "services/TDWTask.h"

#include <QList>
#include <QString>

// The download operation for task lists ("tasklist" items). A task list is
// listed and versioned in the store, but its tasks are never fetched, so there
// is no file to write: the revision is recorded as having nothing to download
// (status 0, or 5 under the do-not-back-up rule), so it is not queued again
// run after run and the service can report that it is backed up.
//
// The class also carries the row format of a comma-separated task-list file.
class TDWTaskListExportOperation : public TDWExportOperation
{
    Q_OBJECT

public:
    using TDWExportOperation::TDWExportOperation;

    // Appends the task's row, then its child tasks' rows by position, each
    // row beginning with "\n"; titles are indented four blanks a level.
    static void addTask(const TDWTask &task, QString &output, int indentLevel);
    // Appends the value, in double quotes when it holds a comma, double quote,
    // line break or backslash (quotes doubled, line breaks written as CR).
    static void addFieldValue(const QString &value, QString &output);
    // The date part of an RFC 3339 date-time: the text before its "T".
    static QString calDateOnlyFromJsonDate(const QString &date);
    static void sortTaskArray(QList<TDWTask> &tasks);

protected:
    void main() override;
};
