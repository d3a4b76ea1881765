#pragma once

#include <QList>
#include <QString>

// One task of a task list, as the task-list file rows read it. Dates are the
// RFC 3339 texts the service gives; child tasks are the tasks nested under it.
class TDWTask
{
public:
    const QString &taskId() const { return m_taskId; }
    void setTaskId(const QString &value) { m_taskId = value; }
    const QString &title() const { return m_title; }
    void setTitle(const QString &value) { m_title = value; }
    const QString &parentTaskId() const { return m_parentTaskId; }
    void setParentTaskId(const QString &value) { m_parentTaskId = value; }
    const QString &position() const { return m_position; }
    void setPosition(const QString &value) { m_position = value; }
    const QString &note() const { return m_note; }
    void setNote(const QString &value) { m_note = value; }
    bool completed() const { return m_completed; }
    void setCompleted(bool value) { m_completed = value; }
    const QString &due() const { return m_due; }
    void setDue(const QString &value) { m_due = value; }
    const QString &completedDate() const { return m_completedDate; }
    void setCompletedDate(const QString &value) { m_completedDate = value; }
    const QList<TDWTask> &childTasks() const { return m_childTasks; }
    QList<TDWTask> &childTasks() { return m_childTasks; }
    void setChildTasks(const QList<TDWTask> &value) { m_childTasks = value; }

private:
    QString m_taskId;
    QString m_title;
    QString m_parentTaskId;
    QString m_position;
    QString m_note;
    bool m_completed = false;
    QString m_due;
    QString m_completedDate;
    QList<TDWTask> m_childTasks;
};
