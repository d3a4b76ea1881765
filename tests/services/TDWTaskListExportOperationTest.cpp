// The task-list export: a task-list revision gets a final status instead of
// being queued again every run, and the rows of a comma-separated task list.
#include "DownloadFixture.h"

#include "platform/foundation/TDWUserDefaults.h"
#include "services/TDWTaskListExportOperation.h"

namespace {

using namespace dltest;

class TDWTaskListExportOperationTest : public DownloadTest
{
protected:
    TDWManagedObjectID seedTaskList(qint64 exportStatus)
    {
        Seed list;
        list.service = QStringLiteral("calendar");
        list.docType = QStringLiteral("tasklist");
        list.title = QStringLiteral("Home");
        list.exportStatus = exportStatus;
        return seed(list);
    }
};

TEST_F(TDWTaskListExportOperationTest, ATaskListIsRecordedAsHavingNothingToDownloadAndIsNotQueuedAgain)
{
    const TDWManagedObjectID pending = seedTaskList(TDWDocRev::DownloadPending);
    const TDWManagedObjectID failed = seedTaskList(TDWDocRev::DownloadFailed);
    run(QStringLiteral("TDWTaskListExportOperation"), pending);
    run(QStringLiteral("TDWTaskListExportOperation"), failed);
    for (const TDWManagedObjectID &id : {pending, failed}) {
        EXPECT_EQ(stored(id)->exportStatus(), TDWDocRev::NothingToDownload);
        EXPECT_TRUE(stored(id)->lastExportFailureError().isNull());
    }
    TDWError error;
    const auto queued = TDWDocRev::idsNeedingRetrievalByService(QStringLiteral("calendar"), stack.store(Alice, QStringLiteral("calendar")),
                                                                TDWDocRev::NoLimit, *stack.moc, &error);
    ASSERT_TRUE(queued);
    EXPECT_TRUE(queued->isEmpty());
    // Nothing was downloaded, so the monitor hears of nothing.
    EXPECT_EQ(notificationsPosted(QStringLiteral("retrievalattempted")), 0);
}

TEST_F(TDWTaskListExportOperationTest, TheDoNotBackUpRuleStillExcludesATaskList)
{
    TDWUserDefaults::standard()->setString(QStringLiteral("title == 'Home'"), QStringLiteral("dontbackuppredicate"));
    const TDWManagedObjectID id = seedTaskList(TDWDocRev::DownloadPending);
    run(QStringLiteral("TDWTaskListExportOperation"), id);
    EXPECT_EQ(stored(id)->exportStatus(), TDWDocRev::ExcludedByRule);
}

TDWTask task(const QString &title, const QString &position, const QList<TDWTask> &children = {})
{
    TDWTask made;
    made.setTitle(title);
    made.setPosition(position);
    made.setChildTasks(children);
    return made;
}

TEST(TDWTaskListRows, FieldsAreQuotedWhereNeededAndChildrenFollowByPosition)
{
    struct Case
    {
        QString value;
        QString written;
    };
    const QList<Case> fields{
        {QStringLiteral("plain"), QStringLiteral("plain")},
        {QString(), QString()},
        {QStringLiteral("a,b"), QStringLiteral("\"a,b\"")},
        {QStringLiteral("say \"hi\"\nnow"), QStringLiteral("\"say \"\"hi\"\"\rnow\"")},
        {QStringLiteral("one\r\ntwo"), QStringLiteral("\"one\rtwo\"")},
        {QStringLiteral("C:\\dir"), QStringLiteral("\"C:\\dir\"")},
    };
    for (const Case &c : fields) {
        QString output;
        TDWTaskListExportOperation::addFieldValue(c.value, output);
        EXPECT_EQ(output, c.written) << c.value.toStdString();
    }

    EXPECT_EQ(TDWTaskListExportOperation::calDateOnlyFromJsonDate(QStringLiteral("2013-05-01T00:00:00.000Z")), QStringLiteral("2013-05-01"));
    EXPECT_EQ(TDWTaskListExportOperation::calDateOnlyFromJsonDate(QString()), QString());
    EXPECT_EQ(TDWTaskListExportOperation::calDateOnlyFromJsonDate(QStringLiteral("2013-05-01")), QStringLiteral("2013-05-01"));

    TDWTask parent = task(QStringLiteral("Shop"), QStringLiteral("0001"), {task(QStringLiteral("b"), QStringLiteral("0002")), task(QStringLiteral("a,b"), QStringLiteral("0001"))});
    parent.setNote(QStringLiteral("list"));
    parent.setCompleted(true);
    parent.setCompletedDate(QStringLiteral("2013-04-30T10:00:00.000Z"));
    parent.setDue(QStringLiteral("2013-05-01T00:00:00.000Z"));
    QString rows;
    TDWTaskListExportOperation::addTask(parent, rows, 0);
    EXPECT_EQ(rows, QStringLiteral("\nShop,list,yes,2013-04-30,2013-05-01"
                                   "\n\"    a,b\",,no,,"
                                   "\n    b,,no,,"));
}

} // namespace
