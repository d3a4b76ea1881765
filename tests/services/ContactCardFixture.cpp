#include "ContactCardFixture.h"

#include "DataObjectsTestSupport.h"
#include "TestSupport.h"

#include "common/TDWFileMgr.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWDoc.h"
#include "platform/foundation/TDWUserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const QString Jo = QStringLiteral("jo@example.com");
const QString Contacts = QStringLiteral("contacts");

} // namespace

ContactCardFixture::ContactCardFixture() = default;
ContactCardFixture::~ContactCardFixture() = default;

void ContactCardFixture::SetUp()
{
    m_backupFolder = tdwtest::freshDir(QStringLiteral("backups"));
    TDWUserDefaults::standard()->setString(m_backupFolder, QStringLiteral("altbackuploc"));
    m_stack = std::make_unique<dotest::MetadataStack>();
    m_stack->addAccount(Jo, {Contacts});
    const TDWAccount::Ptr account = TDWAccount::byUsername(Jo, *m_stack->moc, nullptr);
    ASSERT_TRUE(account);
    m_accountDir = account->dirPath();
    m_store = m_stack->store(Jo, Contacts);
    ASSERT_TRUE(m_store);
}

void ContactCardFixture::TearDown()
{
    TDWUserDefaults::standard()->removeObjectForKey(QStringLiteral("altbackuploc"));
}

TDWDocRev::Ptr ContactCardFixture::revision(const QString &name, const QString &xml, const QString &title)
{
    const TDWDoc::Ptr doc = TDWDoc::newWithMoc(*m_stack->moc, m_store);
    doc->setDocId(name);
    doc->setService(Contacts);
    doc->setAccountUsername(Jo);
    doc->setDocType(QStringLiteral("contact"));
    doc->setDirPath(m_accountDir + u'/' + name);
    const TDWDocRev::Ptr rev = TDWDocRev::newWithMoc(*m_stack->moc, m_store);
    rev->setDoc(doc);
    rev->setTitle(title);
    rev->setXmlString(xml);
    rev->setLatest(true);
    rev->setDirPath(doc->dirPath() + QStringLiteral("/1"));
    rev->setFilePath(rev->dirPath() + u'/' + name + QStringLiteral(".vcf"));
    EXPECT_TRUE(QDir().mkpath(QFileInfo(onDisk(rev)).path()));
    return rev;
}

QString ContactCardFixture::onDisk(const TDWDocRev::Ptr &rev) const
{
    return QDir(TDWFileMgr::backedUpItemsPathForService(Contacts)).filePath(rev->filePath());
}

QByteArray ContactCardFixture::readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}
