#pragma once

#include "services/TDWServiceDelegate.h"

#include <QSet>
#include <QString>

// Drive: an account limited to Google's own document types stores only those.
class TDWDocsServiceDelegate : public TDWServiceDelegate
{
public:
    // Every Drive revision is left to the download operation.
    void docRevFound(const TDWDocRev::Ptr &docRev) override;
    // Deleted entries always (so the item is marked deleted); otherwise every
    // entry unless the account is limited, when only Google's own types.
    bool useEntry(const TDWDocEntry &entry, const TDWAccount::Ptr &account) override;

    // The MIME types of Google's own document types; built once, shared by the process.
    static const QSet<QString> &getGoogleDocsMimeTypes();
};
