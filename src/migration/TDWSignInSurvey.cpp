#include "migration/TDWSignInSurvey.h"

#include "accounts/TDWKeychainMgr.h"
#include "dataobjects/TDWAccount.h"
#include "platform/foundation/TDWLog.h"

bool TDWSignInSurvey::take(TDWManagedObjectContext &moc, TDWSignInSurvey *survey)
{
    TDWError error;
    const auto accounts = TDWAccount::all(moc, &error);
    if (!accounts) {
        tdwLog(QStringLiteral("ERROR: Unable to find accounts: %1").arg(error.localizedDescription()));
        return false;
    }
    for (const TDWAccount::Ptr &account : *accounts) {
        const QString username = account->username();
        survey->allUsernames.append(username);
        TDWKeychainLookup outcome = TDWKeychainLookup::Unavailable;
        TDWKeychainMgr::keychainMgr()->credentialForUsername(username, &outcome);
        if (outcome == TDWKeychainLookup::NotFound)
            survey->failedUsernames.append(username);
    }
    return true;
}
