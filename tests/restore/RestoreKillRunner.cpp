// A restore request run in a child process, which the kill point
// (TDW_TEST_KILL_AT_WRITE) stops with SIGKILL at a chosen durable write:
//   restore_kill_runner DATA_DIR BACKUP_DIR DEST REVISION_URI...
// restores the revisions into the folder DEST (several top-level items).
// Prints "writes N" (the durable writes made), exits 0 when everything was
// restored, 1 when not.
#include "DataObjectsTestSupport.h"

#include "platform/foundation/TDWOperationQueue.h"
#include "platform/foundation/TDWTestKillPoint.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "restore/TDWRecoveryProgress.h"
#include "restore/TDWRecoveryUserOperation.h"

#include <QCoreApplication>
#include <QThread>
#include <QUrl>

#include <cstdio>

namespace {

int fail(const char *what)
{
    std::fprintf(stderr, "restore_kill_runner: %s\n", what);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 5)
        return fail("usage: DATA_DIR BACKUP_DIR DEST REVISION_URI...");
    const dotest::MetadataStack stack(args[1]);
    if (!stack.storeMgr)
        return fail("no store");
    TDWUserDefaults::standard()->setString(args[2], QStringLiteral("altbackuploc"));

    QList<TDWQueuedRecovery> items;
    for (const QString &uri : args.mid(4))
        items << TDWQueuedRecovery{QString(), TDWManagedObjectID::fromURIRepresentation(QUrl(uri)), QString()};
    const auto request = std::make_shared<TDWRecoveryUserOperation>(items, args[3], true, QString(), false, QString());
    TDWOperationQueue queue;
    queue.addOperation(request);
    while (queue.operationCount() > 0 || request->progress()->state() == TDWRecoveryProgress::State::InProgress) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    std::printf("writes %d\n", TDWTestKillPoint::writesSoFar());
    if (request->progress()->state() != TDWRecoveryProgress::State::Finished)
        return 1;
    return 0;
}
