#include "services/TDWTaskListExportOperation.h"

#include "dataobjects/TDWDocRev.h"

#include <QCoreApplication>

#include <algorithm>

void TDWTaskListExportOperation::main()
{
    if (!isCancelled())
        storeRetrievalStatus(TDWDocRev::NothingToDownload, QString());
}

void TDWTaskListExportOperation::addTask(const TDWTask &task, QString &output, int indentLevel)
{
    output += QLatin1Char('\n');
    addFieldValue(QString(QStringLiteral("    ")).repeated(indentLevel) + task.title(), output);
    output += QLatin1Char(',');
    addFieldValue(task.note(), output);
    output += QLatin1Char(',');
    addFieldValue(QCoreApplication::translate("TDWTaskListExportOperation", task.completed() ? "yes" : "no"), output);
    output += QLatin1Char(',');
    output += calDateOnlyFromJsonDate(task.completedDate());
    output += QLatin1Char(',');
    output += calDateOnlyFromJsonDate(task.due());
    QList<TDWTask> children = task.childTasks();
    sortTaskArray(children);
    for (const TDWTask &child : children)
        addTask(child, output, indentLevel + 1);
}

void TDWTaskListExportOperation::addFieldValue(const QString &value, QString &output)
{
    static const QString needsQuotes = QStringLiteral(",\"\n\r\\");
    if (!std::any_of(value.begin(), value.end(), [](QChar c) { return needsQuotes.contains(c); })) {
        output += value;
        return;
    }
    QString quoted = value;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    quoted.replace(QLatin1String("\r\n"), QLatin1String("\r"));
    quoted.replace(QLatin1Char('\n'), QLatin1Char('\r'));
    output += QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString TDWTaskListExportOperation::calDateOnlyFromJsonDate(const QString &date)
{
    const qsizetype t = date.indexOf(QLatin1Char('T'));
    return t < 0 ? date : date.left(t);
}

void TDWTaskListExportOperation::sortTaskArray(QList<TDWTask> &tasks)
{
    std::stable_sort(tasks.begin(), tasks.end(), [](const TDWTask &a, const TDWTask &b) { return a.position() < b.position(); });
}
