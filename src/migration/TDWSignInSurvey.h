#pragma once

#include <QStringList>

class TDWManagedObjectContext;

// What the first start after the switch to OAuth learns in place of converting
// stored IMAP passwords (which this program never stored): every account, and
// those that need a new sign-in because the keyring answered that it holds no
// credential for them. An account whose lookup could not be answered (no
// keyring, a locked one) is not listed: its credential may be there and good.
struct TDWSignInSurvey
{
    QStringList allUsernames;
    QStringList failedUsernames;

    // False when the accounts cannot be read (logged).
    static bool take(TDWManagedObjectContext &moc, TDWSignInSurvey *survey);
};
