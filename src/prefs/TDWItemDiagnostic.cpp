#include "prefs/TDWItemDiagnostic.h"

#include "accounts/TDWCredential.h"
#include "accounts/TDWKeychainMgr.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWMasterStore.h"
#include "prefs/TDWItemDiagnosticReport.h"

TDWItemDiagnostic::TDWItemDiagnostic(const TDWManagedObjectID &docRevObjectId, TDWItemDiagnosticReport *report)
    : m_docRevObjectId(docRevObjectId)
    , m_report(report)
{
}

TDWItemDiagnostic::~TDWItemDiagnostic() = default;

QString TDWItemDiagnostic::reformattedEntry(const QString &xmlString)
{
    if (xmlString.isNull())
        return QStringLiteral("(null)");
    QString text = xmlString;
    return text.replace(QStringLiteral("><"), QStringLiteral(">\n<"));
}

TDWDocRev::Ptr TDWItemDiagnostic::revision(TDWManagedObjectContext &moc) const
{
    return std::dynamic_pointer_cast<TDWDocRev>(moc.existingObjectWithID(m_docRevObjectId, nullptr));
}

std::optional<TDWItemDiagnostic::Stored> TDWItemDiagnostic::storedOrFinish()
{
    {
        const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
        const TDWDocRev::Ptr docRev = moc ? revision(*moc) : nullptr;
        if (const std::shared_ptr<TDWDoc> doc = docRev ? docRev->doc() : nullptr)
            return Stored{doc->docId(), docRev->xmlString()};
    }
    m_report->addOutputString(RevisionMissingMessage);
    m_report->done();
    return std::nullopt;
}

QByteArray TDWItemDiagnostic::accessToken() const
{
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    const TDWDocRev::Ptr docRev = moc ? revision(*moc) : nullptr;
    const std::shared_ptr<TDWDoc> doc = docRev ? docRev->doc() : nullptr;
    if (!doc)
        return {};
    const std::shared_ptr<TDWCredential> credential = TDWKeychainMgr::keychainMgr()->credentialForUsername(doc->accountUsername());
    return credential ? credential->accessToken().toUtf8() : QByteArray();
}
