#include "agent/TDWRuleUpdateOperation.h"

#include "common/TDWServiceIds.h"
#include "common/TDWServiceTable.h"
#include "common/TDWSettingsKeys.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWAccountServiceSetting.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/store/TDWStoreError.h"

namespace {


// A label link counts when it is current and its folder record is current; a
// label is selected when its folder is backed up.
const QString UnselectedLabelsPredicate =
    QStringLiteral("(subquery(doc.mailItems, $x, $x.current = 1 and $x.mailFolder.current = 1).@count != 0) and "
                   "(subquery(doc.mailItems, $x, $x.current = 1 and $x.mailFolder.current = 1 and $x.mailFolder.backup = 1).@count = 0)");
const QString UnselectedOrNoLabelsPredicate =
    QStringLiteral("(subquery(doc.mailItems, $x, $x.current = 1 and $x.mailFolder.current = 1).@count = 0) or "
                   "(subquery(doc.mailItems, $x, $x.current = 1 and $x.mailFolder.current = 1 and $x.mailFolder.backup = 1).@count = 0)");

TDWPredicate mailPredicate(const QString &username, TDWError *error)
{
    std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    if (!moc) {
        tdwSetError(error, TDWStoreError::make(TDWStoreError::StoreNotFound, QStringLiteral("No store is open")));
        return {};
    }
    TDWError failure;
    const TDWAccount::Ptr account = TDWAccount::byUsername(username, *moc, &failure);
    if (!account && !failure.isNull()) {
        // A failed read says nothing about the labels: nothing is re-included on a guess.
        tdwSetError(error, failure);
        return {};
    }
    if (!account) {
        tdwLog(QStringLiteral("ERROR: Unable to find account in TDWRuleUpdateOperation shouldNotBackUpPredicateForAccountUsername:service:"));
        return TDWPredicate::falsePredicate();
    }
    return TDWPredicate::parse(account->backupUnlabeled() ? UnselectedLabelsPredicate : UnselectedOrNoLabelsPredicate, {}, error);
}

TDWPredicate rulePredicate(TDWError *error)
{
    const QString rule = TDWUserDefaults::standard()->stringForKey(TDWSettingsKeys::DontBackupPredicate);
    // An emptied rule excludes nothing, as a removed one does.
    if (rule.trimmed().isEmpty())
        return TDWPredicate::falsePredicate();
    return TDWPredicate::parse(rule, {}, error);
}

QStringList allServiceIds()
{
    QStringList ids;
    for (const TDWServiceConfig &config : TDWServiceTable::shared().serviceConfigs())
        ids.append(config.id);
    return ids;
}

} // namespace

TDWRuleUpdateOperation::TDWRuleUpdateOperation(std::optional<QStringList> accountUsernames, std::optional<QStringList> services)
    : m_accountUsernames(std::move(accountUsernames))
    , m_services(std::move(services))
{
}

TDWPredicate TDWRuleUpdateOperation::shouldNotBackUpPredicateForAccountUsername(const QString &username, const QString &service,
                                                                                TDWError *error)
{
    return service == TDWServiceIds::Mail ? mailPredicate(username, error) : rulePredicate(error);
}

void TDWRuleUpdateOperation::main()
{
    QStringList usernames;
    if (m_accountUsernames) {
        usernames = *m_accountUsernames;
    } else {
        std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
        const auto accounts = moc ? TDWAccount::all(*moc, nullptr) : std::nullopt;
        if (!accounts) {
            tdwLog(QStringLiteral("ERROR: Did not perform rule updates because unable to find accounts."));
            return;
        }
        for (const TDWAccount::Ptr &account : *accounts)
            usernames.append(account->username());
    }
    const QStringList services = m_services ? *m_services : allServiceIds();

    const QVariantList toExclude{qlonglong(TDWDocRev::DownloadPending), qlonglong(TDWDocRev::DownloadFailed), qlonglong(TDWDocRev::FileMissing)};
    const TDWPredicate candidates = TDWPredicate::parse(
        QStringLiteral("(exportStatus == %@ or exportStatus == %@ or exportStatus == %@) and (doc.deleted == 0) and (latest == 1)"), toExclude);
    const TDWPredicate excluded =
        TDWPredicate::parse(QStringLiteral("(exportStatus == %@) and (doc.deleted == 0) and (latest == 1)"), {qlonglong(TDWDocRev::ExcludedByRule)});

    for (const QString &username : std::as_const(usernames)) {
        for (const QString &service : services) {
            TDWError error;
            if (!updateAccountService(username, service, candidates, excluded, &error))
                tdwLog(QStringLiteral("ERROR: Unable to perform TDWRuleUpdateOperation: %1").arg(error.description()));
        }
    }
}

bool TDWRuleUpdateOperation::updateAccountService(const QString &username, const QString &service, const TDWPredicate &candidates,
                                                  const TDWPredicate &excluded, TDWError *error)
{
    // A null rule would drop out of the conjunctions below and select every candidate.
    const TDWPredicate exclusion = shouldNotBackUpPredicateForAccountUsername(username, service, error);
    if (exclusion.isNull())
        return false;
    const std::shared_ptr<TDWStoreMgr> storeMgr = TDWMasterStore::shared().storeMgr();
    const TDWPersistentStorePtr store = storeMgr ? storeMgr->storeForAccountUsername(username, service) : nullptr;
    if (!store) {
        tdwSetError(error, TDWStoreError::make(TDWStoreError::StoreNotFound,
                                               QStringLiteral("No store for account %1 and service %2").arg(username, service)));
        return false;
    }
    if (setDocRevsWithPredicate(TDWPredicate::andPredicate({candidates, exclusion}), store, TDWDocRev::ExcludedByRule))
        m_someDisabled = true;
    if (setDocRevsWithPredicate(TDWPredicate::andPredicate({excluded, TDWPredicate::notPredicate(exclusion)}), store, TDWDocRev::DownloadPending))
        m_someEnabled = true;
    markDownloadCountsStale(username, service);
    return true;
}

bool TDWRuleUpdateOperation::setDocRevsWithPredicate(const TDWPredicate &predicate, const TDWPersistentStorePtr &store, qint64 exportStatus)
{
    std::optional<QList<TDWManagedObjectID>> ids;
    if (std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc())
        ids = TDWDocRev::idsWithRulePredicate(predicate, store, *moc, nullptr);
    if (!ids || ids->isEmpty())
        return false;
    for (qsizetype start = 0; start < ids->size(); start += BatchSize) {
        std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
        if (!moc)
            break;
        TDWError error;
        const auto batch = moc->existingObjectsWithIDs(ids->mid(start, BatchSize), &error);
        if (!batch) {
            tdwLog(QStringLiteral("ERROR: Unable to load revisions in setDocRevsWithPredicate -- %1").arg(error.description()));
            break;
        }
        for (const TDWManagedObjectPtr &object : *batch) {
            const auto revision = std::static_pointer_cast<TDWDocRev>(object);
            // A download that finished since the identifiers were read stands.
            if (revision->exportStatus() != TDWDocRev::BackedUp)
                revision->setExportStatus(exportStatus);
        }
        if (!moc->save(&error)) {
            tdwLog(QStringLiteral("ERROR: Unable to save in setDocRevsWithPredicate -- %1").arg(error.description()));
            break;
        }
        if (isCancelled())
            break;
    }
    return true;
}

void TDWRuleUpdateOperation::markDownloadCountsStale(const QString &username, const QString &service)
{
    std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    const TDWAccountServiceSetting::Ptr setting = moc ? TDWAccountServiceSetting::byAccountUsername(username, service, *moc) : nullptr;
    if (!setting)
        return;
    setting->setDownloadCountsUpToDate(false);
    TDWError error;
    if (!moc->save(&error))
        tdwLog(QStringLiteral("ERROR: Unable to save download counts not up-to-date in TDWRuleUpdateOperation: %1").arg(error.description()));
}
