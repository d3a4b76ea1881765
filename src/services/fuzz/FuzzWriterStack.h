#pragma once

// What the writer fuzzers share: metadata stores and a backup folder of their
// own with one account, revisions made as the listing leaves them for the
// writers, and the reader the writers' own tests use, kept running as a
// Python process that answers one file at a time.

#include "common/TDWFileMgr.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "platform/foundation/TDWUserDefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace fuzzwriters {

inline const QString Jo = QStringLiteral("jo@example.com");

inline void check(bool condition, const char *what, const QByteArray &file = {})
{
    if (condition)
        return;
    std::fprintf(stderr, "%s\n%s\n", what, file.constData());
    std::abort();
}

class Stack
{
public:
    // `checker` is a script of tests/services, started with "--serve".
    explicit Stack(const QString &service, const QString &checker)
        : m_service(service)
    {
        qputenv("TIDEWELL_RESOURCES", TDW_RESOURCES_DIR);
        TDWFileMgr::initAltDataDir(m_folder.filePath(QStringLiteral("metadata")));
        TDWUserDefaults::standard()->setString(m_folder.filePath(QStringLiteral("backups")), QStringLiteral("altbackuploc"));
        TDWMasterStore &master = TDWMasterStore::shared();
        const auto coordinator = master.persistentStoreCoordinatorMigrating(false);
        check(bool(coordinator), "no store coordinator");
        master.setPersistentStoreCoordinator(coordinator);
        m_storeMgr = TDWStoreMgr::initWithPersistentStoreCoordinator(coordinator, master.masterStore());
        check(bool(m_storeMgr), "no store manager");
        master.setStoreMgr(m_storeMgr);
        moc = master.newMoc();
        check(TDWAccount::addAccountWithUsername(Jo, {}, 1, {service}, false, *moc), "no account");
        m_accountDir = TDWAccount::byUsername(Jo, *moc, nullptr)->dirPath();

        m_reader.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_reader.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(TDW_SOURCE_ROOT "/tests/services/") + checker, QStringLiteral("--serve")});
        check(m_reader.waitForStarted(), "the reader did not start");
    }

    QString folder() const { return m_folder.path(); }

    // A new revision whose file goes to <account>/<name>/1/<name>.<extension>, its folder made.
    TDWDocRev::Ptr revision(const QString &docType, const QString &extension)
    {
        const QString name = QStringLiteral("d%1").arg(++m_count);
        const TDWPersistentStorePtr store = m_storeMgr->storeForAccountUsername(Jo, m_service);
        const TDWDoc::Ptr doc = TDWDoc::newWithMoc(*moc, store);
        doc->setDocId(name);
        doc->setService(m_service);
        doc->setAccountUsername(Jo);
        doc->setDocType(docType);
        doc->setDirPath(m_accountDir + u'/' + name);
        const TDWDocRev::Ptr rev = TDWDocRev::newWithMoc(*moc, store);
        rev->setDoc(doc);
        rev->setTitle(name);
        rev->setLatest(true);
        rev->setDirPath(doc->dirPath() + QStringLiteral("/1"));
        rev->setFilePath(rev->dirPath() + u'/' + name + u'.' + extension);
        QDir().mkpath(QFileInfo(onDisk(rev)).path());
        return rev;
    }

    QString onDisk(const TDWDocRev::Ptr &rev) const
    {
        return QDir(TDWFileMgr::backedUpItemsPathForService(m_service)).filePath(rev->filePath());
    }

    // Takes the revision, its item and its folder away again.
    void remove(const TDWDocRev::Ptr &rev)
    {
        const TDWDoc::Ptr doc = rev->doc();
        QDir(QFileInfo(onDisk(rev)).path()).removeRecursively();
        moc->deleteObject(rev);
        moc->deleteObject(doc);
    }

    // The reader's answer for one request line: "ok" or the problems it found.
    QByteArray read(const QByteArray &request)
    {
        m_reader.write(request + '\n');
        m_reader.waitForBytesWritten();
        while (!m_reader.canReadLine())
            check(m_reader.waitForReadyRead(60000), "the reader stopped");
        return m_reader.readLine().trimmed();
    }

    std::unique_ptr<TDWManagedObjectContext> moc;

private:
    QString m_service;
    QTemporaryDir m_folder;
    std::shared_ptr<TDWStoreMgr> m_storeMgr;
    QString m_accountDir;
    QProcess m_reader;
    int m_count = 0;
};

// The application object the stores and the reader's process expect, made once.
inline void ensureApplication()
{
    static int argc = 1;
    static char name[] = "fuzz_writer";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    check(file.open(QIODevice::ReadOnly), "the written file cannot be read");
    return file.readAll();
}

// The lines of a written file: valid UTF-8, each line ending in CR LF and no CR or LF elsewhere.
// (How long a folded line is readers do not mind: the fold keeps escapes and characters whole.)
inline bool wellEnded(const QByteArray &text)
{
    if (!text.endsWith("\r\n") || QString::fromUtf8(text).toUtf8() != text)
        return false;
    QList<QByteArray> lines = text.split('\n');
    lines.removeLast(); // what follows the last line end: nothing
    for (const QByteArray &line : std::as_const(lines)) {
        if (!line.endsWith('\r') || line.chopped(1).contains('\r'))
            return false;
    }
    return true;
}

} // namespace fuzzwriters
