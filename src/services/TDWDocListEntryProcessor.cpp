#include "services/TDWDocListEntryProcessor.h"

#include "services/TDWServiceDelegate.h"

TDWDocListEntryProcessor::TDWDocListEntryProcessor(const QString &accountUsername, const QString &service,
                                                   const TDWManagedObjectID &backupIterationObjectID,
                                                   TDWPersistentStorePtr accountServiceStore, const QString &serviceFolderType,
                                                   TDWServiceDelegate *serviceDelegate)
    : m_accountUsername(accountUsername)
    , m_service(service)
    , m_backupIterationObjectID(backupIterationObjectID)
    , m_accountServiceStore(std::move(accountServiceStore))
    , m_serviceFolderType(serviceFolderType)
    , m_serviceDelegate(serviceDelegate)
{
}

bool TDWDocListEntryProcessor::processEntries(const QList<TDWDocEntry> &)
{
    return false;
}

void TDWDocListEntryProcessor::obsoleteDoc(const TDWDoc::Ptr &, const TDWDocRev::Ptr &, const QDateTime &)
{
}
