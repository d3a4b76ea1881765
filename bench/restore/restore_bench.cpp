// A restore of many messages as mailboxes through the program's own restore
// request (every copy through the safe writer: a temporary file, fsync,
// rename, fsync of the folder), beside a plain `cp -a` of the same backed-up
// files. Prints messages per second for both and their ratio. See bench/README.md.
//   bench_restore [--messages N] [--root FOLDER]
#include "common/TDWFileMgr.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "mail/TDWMailUtils.h"
#include "platform/foundation/TDWOperationQueue.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/store/TDWPersistentStoreCoordinator.h"
#include "restore/TDWRecoveryProgress.h"
#include "restore/TDWRecoveryUserOperation.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <QUuid>

#include <cstdio>

namespace {

const QString Mail = QStringLiteral("mail");
const QString User = QStringLiteral("bench@example.com");

int fail(const char *what)
{
    std::fprintf(stderr, "bench_restore: %s\n", what);
    return 2;
}

// A message file of about 3 KB, as the backup writes them.
QByteArray messageFile(int number)
{
    const QByteArray message = QStringLiteral("From: a@example.org\nSubject: Message %1\n\n").arg(number).toUtf8() + QByteArray(3000, 'm') + '\n';
    return QByteArray::number(message.size()).leftJustified(10, ' ') + '\n' + message + "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict/></plist>\n";
}

// The account's label and messages in its mail store, their files in the
// backup folder; the request's items.
QList<TDWQueuedRecovery> makeBackup(int messages, const QString &mailbox)
{
    const auto moc = TDWMasterStore::shared().newMoc();
    if (!TDWAccount::addAccountWithUsername(User, QString(), 1, {Mail}, false, *moc))
        return {};
    const TDWAccount::Ptr account = TDWAccount::byUsername(User, *moc, nullptr);
    const TDWPersistentStorePtr store = TDWMasterStore::shared().storeMgr()->storeForAccountUsername(User, Mail);
    const QString items = TDWFileMgr::backedUpItemsPathForService(Mail);
    QList<TDWDocRev::Ptr> revisions;
    const auto add = [&](const QString &docType, const QString &title, const QString &filePath) {
        const TDWDoc::Ptr doc = TDWDoc::newWithMoc(*moc, store);
        doc->setDocId(QUuid::createUuid().toString());
        doc->setService(Mail);
        doc->setAccountUsername(User);
        doc->setDocType(docType);
        const TDWDocRev::Ptr rev = TDWDocRev::newWithMoc(*moc, store);
        rev->setDoc(doc);
        rev->setTitle(title);
        rev->setLatest(true);
        rev->setExportStatus(filePath.isEmpty() ? TDWDocRev::NothingToDownload : TDWDocRev::BackedUp);
        rev->setFilePath(filePath);
        revisions << rev;
    };
    add(QStringLiteral("imapfolder"), QStringLiteral("All Mail"), QString());
    for (int n = 1; n <= messages; ++n) {
        const QString relative = QStringLiteral("%1/%2/%3.emlx").arg(account->dirPath()).arg(n / 1000).arg(n);
        QDir().mkpath(QFileInfo(QDir(items).filePath(relative)).path());
        QFile file(QDir(items).filePath(relative));
        if (!file.open(QIODevice::WriteOnly) || file.write(messageFile(n)) < 0)
            return {};
        add(QStringLiteral("message"), QStringLiteral("Message %1").arg(n), relative);
    }
    if (!moc->save(nullptr))
        return {};
    QList<TDWQueuedRecovery> queued;
    for (int i = 0; i < revisions.size(); ++i)
        queued << TDWQueuedRecovery{i == 0 ? QString() : mailbox, revisions[i]->objectID(), QString()};
    return queued;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int messages = 20000;
    QString root = QStringLiteral("/tmp/tdw-restore-bench");
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--messages"))
            messages = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--root"))
            root = args[i + 1];
    }
    QDir(root).removeRecursively();
    QDir().mkpath(root);
    TDWFileMgr::initAltDataDir(root + QStringLiteral("/data"));
    TDWUserDefaults::standard()->setString(root + QStringLiteral("/backup"), QStringLiteral("altbackuploc"));
    TDWMasterStore &master = TDWMasterStore::shared();
    const auto coordinator = master.persistentStoreCoordinatorMigrating(false);
    if (!coordinator)
        return fail("no store");
    master.setPersistentStoreCoordinator(coordinator);
    master.setStoreMgr(TDWStoreMgr::initWithPersistentStoreCoordinator(coordinator, master.masterStore()));

    const QString mailbox = TDWMailUtils::mailboxFolderName(QStringLiteral("All Mail"));
    const QList<TDWQueuedRecovery> items = makeBackup(messages, mailbox);
    if (items.isEmpty())
        return fail("could not make the backup");
    const QString dest = root + QStringLiteral("/restored.mbox");
    const QString rootUUID = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    TDWMailUtils::createMailboxDirectoryAtPath(dest, rootUUID);

    QElapsedTimer clock;
    clock.start();
    {
        const auto request = std::make_shared<TDWRecoveryUserOperation>(items, dest, true, QString(), true, rootUUID);
        TDWOperationQueue queue;
        queue.addOperation(request);
        while (queue.operationCount() > 0 || request->progress()->state() == TDWRecoveryProgress::State::InProgress) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(1);
        }
        if (request->progress()->state() != TDWRecoveryProgress::State::Finished)
            return fail("the restore did not finish");
    }
    const double restoreSeconds = clock.nsecsElapsed() / 1e9;

    clock.restart();
    const int copied = QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-a"), TDWFileMgr::backedUpItemsPathForService(Mail), root + QStringLiteral("/copied")});
    const double copySeconds = clock.nsecsElapsed() / 1e9;
    if (copied != 0)
        return fail("cp -a failed");

    std::printf("messages                 %d\n", messages);
    std::printf("restore (safe writer)    %.2f s, %.0f messages/s\n", restoreSeconds, messages / restoreSeconds);
    std::printf("cp -a                    %.2f s, %.0f messages/s\n", copySeconds, messages / copySeconds);
    std::printf("restore / cp -a time     %.1f\n", restoreSeconds / copySeconds);
    master.setStoreMgr(nullptr);
    master.setPersistentStoreCoordinator(nullptr);
    QDir(root).removeRecursively();
    return 0;
}
