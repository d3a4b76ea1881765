#include "WriterFixture.h"

#include "DataObjectsTestSupport.h"
#include "TestSupport.h"

#include "common/TDWFileMgr.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWDoc.h"
#include "platform/foundation/TDWUserDefaults.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace {

const QString Jo = QStringLiteral("jo@example.com");

} // namespace

WriterFixture::WriterFixture() = default;
WriterFixture::~WriterFixture() = default;

void WriterFixture::SetUp()
{
    m_backupFolder = tdwtest::freshDir(QStringLiteral("backups"));
    TDWUserDefaults::standard()->setString(m_backupFolder, QStringLiteral("altbackuploc"));
    m_stack = std::make_unique<dotest::MetadataStack>();
    m_stack->addAccount(Jo, {Contacts, Calendar});
    const TDWAccount::Ptr account = TDWAccount::byUsername(Jo, *m_stack->moc, nullptr);
    ASSERT_TRUE(account);
    m_accountDir = account->dirPath();
}

void WriterFixture::TearDown()
{
    TDWUserDefaults::standard()->removeObjectForKey(QStringLiteral("altbackuploc"));
}

TDWDocRev::Ptr WriterFixture::revision(const QString &name, const QString &xml, const QString &title)
{
    const TDWDocRev::Ptr rev = revision(Contacts, QStringLiteral("contact"), name, QStringLiteral("vcf"));
    rev->setTitle(title);
    rev->setXmlString(xml);
    return rev;
}

TDWDocRev::Ptr WriterFixture::revision(const QString &service, const QString &docType, const QString &name, const QString &extension)
{
    const TDWPersistentStorePtr store = m_stack->store(Jo, service);
    EXPECT_TRUE(store);
    const TDWDoc::Ptr doc = TDWDoc::newWithMoc(*m_stack->moc, store);
    doc->setDocId(name);
    doc->setService(service);
    doc->setAccountUsername(Jo);
    doc->setDocType(docType);
    doc->setDirPath(m_accountDir + u'/' + name);
    const TDWDocRev::Ptr rev = TDWDocRev::newWithMoc(*m_stack->moc, store);
    rev->setDoc(doc);
    rev->setTitle(name);
    rev->setLatest(true);
    rev->setDirPath(doc->dirPath() + QStringLiteral("/1"));
    rev->setFilePath(rev->dirPath() + u'/' + name + u'.' + extension);
    EXPECT_TRUE(QDir().mkpath(QFileInfo(onDisk(rev)).path()));
    return rev;
}

QString WriterFixture::onDisk(const TDWDocRev::Ptr &rev) const
{
    return QDir(TDWFileMgr::backedUpItemsPathForService(rev->doc()->service())).filePath(rev->filePath());
}

WriterFixture::ScriptRun WriterFixture::runScript(const QString &script, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(qEnvironmentVariable("TDW_DEBIAN_PYTHON3", QStringLiteral("python3")),
                  QStringList{tdwtest::sourcePath(QStringLiteral("tests/services/") + script)} + arguments);
    ScriptRun run;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        run.output = QStringLiteral("the script did not finish: ") + process.errorString() + u'\n';
    else
        run.exitCode = process.exitCode();
    run.output += QString::fromUtf8(process.readAll());
    return run;
}
