#include "DownloadFixture.h"

#include "TestSupport.h"

#include "accounts/TDWCredential.h"
#include "accounts/TDWKeychainMgr.h"
#include "common/TDWFileMgr.h"
#include "agent/TDWApiBackupOperation.h"
#include "app/TDWRegisterClasses.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/notify/TDWNotificationCenter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

namespace dltest {

QJsonObject DownloadTest::aliceData()
{
    return QJsonDocument::fromJson(R"({
      "docs": {"files": [
        {"id": "f1", "title": "Report.pdf", "mimeType": "application/pdf", "content": "%PDF-1.4 the report"},
        {"id": "big", "title": "Big.bin", "mimeType": "application/octet-stream", "size": 3000017},
        {"id": "d1", "title": "Notes", "mimeType": "application/vnd.google-apps.document", "content": "exported notes"}]},
      "contacts": {"contacts": [
        {"id": "c1", "title": "Ann", "photo_etag": "\"p1\"", "photo": "\u00ff\u00d8\u00ff\u00e0JFIF", "photo_type": "image/jpeg"},
        {"id": "c2", "title": "Bob", "photo_etag": "\"p2\""},
        {"id": "c3", "title": "Cy"}]},
      "picasaweb": {"albums": [{"id": "100", "title": "Trip"}],
                    "photos": [{"id": "200", "title": "IMG_1.JPG", "parents": ["100"], "content": "photo bytes"}]}
    })").object();
}

void DownloadTest::SetUpTestSuite()
{
    TDWRegisterClasses();
    const QJsonObject scenario{
        {QStringLiteral("accounts"), QJsonArray{QJsonObject{{QStringLiteral("email"), Alice}, {QStringLiteral("access_token"), Token}}}},
        {QStringLiteral("lists"), QJsonObject{{QStringLiteral("data"), QJsonObject{{Alice, aliceData()}}}}}};
    startFake(scenario);
}

void DownloadTest::SetUp()
{
    ASSERT_TRUE(s_fake);
    FakeGoogleTest::SetUp();
    s_fake->clearRequests();
    TDWUserDefaults *defaults = TDWUserDefaults::standard();
    defaults->setString(tdwtest::freshDir(QStringLiteral("backups")), QStringLiteral("altbackuploc"));
    defaults->setBool(true, QStringLiteral("lockBackupFiles"));
    defaults->removeObjectForKey(QStringLiteral("dontbackuppredicate"));
    stack.addAccount(Alice, {QStringLiteral("docs"), QStringLiteral("contacts"), QStringLiteral("picasaweb"), QStringLiteral("calendar")});
    auto credential = std::make_shared<TDWCredential>();
    credential->setRefreshToken(QStringLiteral("rt-alice"));
    credential->setAccessToken(Token);
    ASSERT_TRUE(TDWKeychainMgr::keychainMgr()->setCredential(credential, Alice, true));

    TDWActivityMonitor::setShared(&monitor);
    for (const QString &name : {QStringLiteral("retrievalstarted"), QStringLiteral("retrievalattempted")}) {
        m_tokens.append(TDWNotificationCenter::defaultCenter().addObserver(name, [this, name](const TDWNotification &) {
            std::lock_guard lock(m_mutex);
            m_notifications.append(name);
        }));
    }
    TDWLog::setObserver([this](const QString &line) {
        std::lock_guard lock(m_mutex);
        log.append(line);
    });
}

void DownloadTest::TearDown()
{
    // What the test's operations posted to this thread is delivered here, not in the next test.
    QCoreApplication::processEvents();
    TDWLog::setObserver({});
    for (quint64 token : m_tokens)
        TDWNotificationCenter::defaultCenter().removeObserver(token);
    TDWActivityMonitor::setShared(nullptr);
    TDWUserDefaults *defaults = TDWUserDefaults::standard();
    for (const QString &key : {QStringLiteral("altbackuploc"), QStringLiteral("lockBackupFiles"), QStringLiteral("dontbackuppredicate")})
        defaults->removeObjectForKey(key);
}

TDWManagedObjectID DownloadTest::seed(const Seed &seed)
{
    TDWManagedObjectContext &moc = *stack.moc;
    const TDWAccount::Ptr account = TDWAccount::byUsername(Alice, moc, nullptr);
    const TDWDoc::Ptr doc = TDWDoc::newWithMoc(moc, stack.store(Alice, seed.service));
    const QString number = QString::number(m_nextDocId++);
    doc->setDocId(QStringLiteral("item") + number);
    doc->setService(seed.service);
    doc->setAccountUsername(Alice);
    doc->setDocType(seed.docType);
    doc->setDirPath(account->dirPath() + QStringLiteral("/Item") + number);
    const TDWDocRev::Ptr rev = TDWDocRev::newWithMoc(moc, stack.store(Alice, seed.service));
    rev->setDoc(doc);
    rev->setTitle(seed.title);
    rev->setLatest(true);
    rev->setDirPath(doc->dirPath() + QStringLiteral("/1"));
    rev->setFilePath(rev->dirPath() + QLatin1Char('/') + seed.title);
    rev->setContentUrl(seed.contentUrl);
    rev->setExportStatus(seed.exportStatus);
    rev->setPhotoEtag(seed.photoEtag);
    rev->setXmlString(seed.xmlString);
    if (!seed.listed.isEmpty())
        rev->setExtensibleProperty(seed.listed, QStringLiteral("jsonDictionary"));
    TDWError error;
    EXPECT_TRUE(moc.save(&error)) << error.description().toStdString();
    return rev->objectID();
}

TDWManagedObjectID DownloadTest::seedFile(const QString &contentUrl, qint64 exportStatus, const QVariantMap &listed)
{
    Seed file;
    file.contentUrl = contentUrl;
    file.exportStatus = exportStatus;
    file.listed = listed;
    return seed(file);
}

void DownloadTest::run(const QString &className, const TDWManagedObjectID &revId, bool cancelFirst)
{
    const std::shared_ptr<TDWOperation> operation(TDWExportOperationClasses::shared().create(className, revId, Alice));
    ASSERT_TRUE(operation) << className.toStdString() << " is not registered";
    if (cancelFirst)
        operation->cancel();
    operation->start();
    operation->waitUntilFinished();
    // Delivers what the monitor posted to this (the main) thread.
    QCoreApplication::processEvents();
}

TDWDocRev::Ptr DownloadTest::stored(const TDWManagedObjectID &revId)
{
    m_readMoc = TDWMasterStore::shared().newMoc();
    return std::dynamic_pointer_cast<TDWDocRev>(m_readMoc->existingObjectWithID(revId, nullptr));
}

QString DownloadTest::pathOf(const TDWManagedObjectID &revId)
{
    const TDWDocRev::Ptr rev = stored(revId);
    return QDir(TDWFileMgr::backedUpItemsPathForService(rev->doc()->service())).filePath(rev->filePath());
}

QByteArray DownloadTest::fileAt(const TDWManagedObjectID &revId)
{
    QFile file(pathOf(revId));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

QStringList DownloadTest::strayFiles(const TDWManagedObjectID &revId)
{
    const QFileInfo file(pathOf(revId));
    QStringList names = QDir(file.absolutePath()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    names.removeAll(file.fileName());
    return names;
}

int DownloadTest::notificationsPosted(const QString &name)
{
    QCoreApplication::processEvents();
    std::lock_guard lock(m_mutex);
    return int(m_notifications.count(name));
}

} // namespace dltest
