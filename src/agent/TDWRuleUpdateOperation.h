#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/foundation/TDWOperation.h"
#include "platform/predicate/TDWPredicate.h"
#include "platform/store/TDWPersistentStore.h"

#include <QStringList>

#include <atomic>
#include <optional>

// Applies the exclusion rules to the stored revisions: the latest revision of
// a live item that is to be downloaded, failed or missing and that the rules
// now exclude goes to "excluded" (5); an excluded one they no longer exclude
// goes back to "to download" (1). Backed-up revisions and those with nothing to
// download are never touched. Every account service visited then has its
// download counters marked stale.
//
// Callers run main() directly on their own background thread. Failures are
// logged, never raised.
class TDWRuleUpdateOperation : public TDWOperation
{
    Q_OBJECT

public:
    // Revisions are changed this many at a time, each batch in a context of its own.
    static constexpr qsizetype BatchSize = 100;

    // No user names means every account; no services, every service of the table.
    TDWRuleUpdateOperation(std::optional<QStringList> accountUsernames, std::optional<QStringList> services);

    void main() override;

    // Whether the re-include step found revisions to return to "to download".
    bool someEnabled() const { return m_someEnabled; }
    // Whether the exclude step found revisions to exclude.
    bool someDisabled() const { return m_someDisabled; }

    // What the rules exclude for one account and service: for mail, the messages
    // of unselected labels (and, unless the account backs them up, those without
    // a label); otherwise the rule text under "dontbackuppredicate", nothing when
    // it is absent. A null predicate, with the error, when the rule text does not parse.
    static TDWPredicate shouldNotBackUpPredicateForAccountUsername(const QString &username, const QString &service, TDWError *error);

    // Sets the status on the store's revisions that match, BatchSize at a time,
    // saving each batch; one backed up meanwhile keeps its status. Whether any matched.
    bool setDocRevsWithPredicate(const TDWPredicate &predicate, const TDWPersistentStorePtr &store, qint64 exportStatus);

private:
    bool updateAccountService(const QString &username, const QString &service, const TDWPredicate &candidates, const TDWPredicate &excluded,
                              TDWError *error);
    static void markDownloadCountsStale(const QString &username, const QString &service);

    std::optional<QStringList> m_accountUsernames;
    std::optional<QStringList> m_services;
    std::atomic<bool> m_someEnabled = false;
    std::atomic<bool> m_someDisabled = false;
};
