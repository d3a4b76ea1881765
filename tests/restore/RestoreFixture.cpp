#include "RestoreFixture.h"

#include "TestSupport.h"

#include "common/TDWFileMgr.h"
#include "common/TDWFileUtils.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWDoc.h"
#include "platform/foundation/TDWFileLock.h"
#include "platform/foundation/TDWOperationQueue.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "restore/TDWRecoveryUserOperation.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTest>

namespace {

constexpr int RunTimeoutMs = 120000;

} // namespace

void RestoreFixture::SetUp()
{
    m_backupFolder = tdwtest::freshDir(QStringLiteral("backups"));
    TDWUserDefaults::standard()->setString(m_backupFolder, QStringLiteral("altbackuploc"));
    m_stack.addAccount(Alice, {Docs, Mail});
    const TDWAccount::Ptr account = TDWAccount::byUsername(Alice, *m_stack.moc, nullptr);
    ASSERT_TRUE(account);
    m_accountDir = account->dirPath();
    ASSERT_FALSE(m_accountDir.isEmpty());
    m_dest = tdwtest::freshDir(QStringLiteral("restored"));
}

void RestoreFixture::TearDown()
{
    TDWUserDefaults::standard()->removeObjectForKey(QStringLiteral("altbackuploc"));
}

QList<TDWManagedObjectID> RestoreFixture::addItem(const QString &service, const QString &docType, const QString &title, const QString &extension,
                                                  const QList<Revision> &revisions)
{
    TDWManagedObjectContext &moc = *m_stack.moc;
    const TDWPersistentStorePtr store = m_stack.store(Alice, service);
    const TDWDoc::Ptr doc = TDWDoc::newWithMoc(moc, store);
    doc->setDocId(QStringLiteral("item-%1").arg(++m_itemNumber));
    doc->setService(service);
    doc->setAccountUsername(Alice);
    doc->setDocType(docType);
    doc->setDirPath(m_accountDir + QStringLiteral("/item %1").arg(m_itemNumber));
    QList<TDWDocRev::Ptr> added;
    const QString items = TDWFileMgr::backedUpItemsPathForService(service);
    for (int i = 0; i < revisions.size(); ++i) {
        const TDWDocRev::Ptr rev = TDWDocRev::newWithMoc(moc, store);
        rev->setDoc(doc);
        rev->setTitle(title);
        rev->setExportStatus(revisions[i].exportStatus);
        rev->setLatest(i == revisions.size() - 1);
        rev->setFirstSeenDate(QDateTime::fromSecsSinceEpoch(1700000000 + i * 1000, Qt::UTC));
        rev->setDirPath(doc->dirPath() + QLatin1Char('/') + QString::number(i + 1));
        if (!doc->isGrouping()) {
            rev->setFilePath(rev->dirPath() + QLatin1Char('/') + TDWFileUtils::generateFilenameFromString(title, extension));
            if (revisions[i].onDisk) {
                const QString path = QDir(items).filePath(rev->filePath());
                EXPECT_TRUE(QDir().mkpath(QFileInfo(path).path()));
                QFile file(path);
                EXPECT_TRUE(file.open(QIODevice::WriteOnly));
                file.write(revisions[i].contents);
                file.close();
                EXPECT_TRUE(TDWFileLock::setLocked(path, true));
            }
        }
        added << rev;
    }
    TDWError error;
    EXPECT_TRUE(moc.save(&error)) << error.description().toStdString();
    QList<TDWManagedObjectID> ids;
    for (const TDWDocRev::Ptr &rev : added)
        ids << rev->objectID();
    return ids;
}

TDWManagedObjectID RestoreFixture::addFile(const QString &title, const QByteArray &contents, const QString &extension)
{
    return addItem(Docs, QStringLiteral("file"), title, extension, {{contents}}).last();
}

TDWManagedObjectID RestoreFixture::addGrouping(const QString &service, const QString &docType, const QString &title)
{
    return addItem(service, docType, title, {}, {{{}, TDWDocRev::NothingToDownload, false}}).last();
}

QString RestoreFixture::backedUpFile(const TDWManagedObjectID &revision) const
{
    const auto rev = std::dynamic_pointer_cast<TDWDocRev>(m_stack.moc->existingObjectWithID(revision, nullptr));
    EXPECT_TRUE(rev);
    return rev ? QDir(TDWFileMgr::backedUpItemsPathForService(rev->doc()->service())).filePath(rev->filePath()) : QString();
}

void RestoreFixture::setFilePath(const TDWManagedObjectID &revision, const QString &filePath)
{
    const auto rev = std::dynamic_pointer_cast<TDWDocRev>(m_stack.moc->existingObjectWithID(revision, nullptr));
    ASSERT_TRUE(rev);
    rev->setFilePath(filePath);
    TDWError error;
    ASSERT_TRUE(m_stack.moc->save(&error)) << error.description().toStdString();
}

void RestoreFixture::purge(const TDWManagedObjectID &revision)
{
    m_stack.moc->deleteObject(m_stack.moc->existingObjectWithID(revision, nullptr));
    TDWError error;
    ASSERT_TRUE(m_stack.moc->save(&error)) << error.description().toStdString();
}

TDWQueuedRecovery RestoreFixture::queued(const TDWManagedObjectID &revision, const QString &prefix, const QString &predeterminedName)
{
    return {prefix, revision, predeterminedName};
}

RestoreFixture::Outcome RestoreFixture::run(const QList<TDWQueuedRecovery> &items, const QString &dest, bool multipleTopLevel, const QString &title,
                                            bool asMailbox, const QString &rootUUID,
                                            const std::function<void(TDWRecoveryUserOperation &, const TDWRecoveryProgress &)> &onReport)
{
    const auto request = std::make_shared<TDWRecoveryUserOperation>(items, dest, multipleTopLevel, title, asMailbox, rootUUID);
    const TDWRecoveryProgress &progress = *request->progress();
    Outcome outcome;
    const QMetaObject::Connection watch = QObject::connect(request->progress().get(), &TDWRecoveryProgress::updated, [&] {
        outcome.bars << progress.barValue();
        outcome.states << progress.state();
        if (onReport)
            onReport(*request, progress);
    });
    TDWOperationQueue queue;
    queue.addOperation(request);
    // The reports arrive on the main thread after the request's own end.
    EXPECT_TRUE(QTest::qWaitFor([&] { return request->isFinished() && progress.state() != TDWRecoveryProgress::State::InProgress; },
                                RunTimeoutMs))
        << "the request did not end: " << progress.text().toStdString();
    queue.waitUntilAllOperationsAreFinished();
    QCoreApplication::processEvents();
    outcome.state = progress.state();
    outcome.text = progress.text();
    outcome.numSteps = progress.plan().numSteps;
    outcome.numDocsRecovered = progress.numDocsRecovered();
    outcome.numDirsRecovered = progress.numDirsRecovered();
    QObject::disconnect(watch);
    return outcome;
}

QByteArray RestoreFixture::contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QStringList RestoreFixture::entriesUnder(const QString &folder)
{
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << QDir(folder).relativeFilePath(it.next());
    entries.sort();
    return entries;
}
