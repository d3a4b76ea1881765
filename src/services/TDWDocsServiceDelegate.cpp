#include "services/TDWDocsServiceDelegate.h"

void TDWDocsServiceDelegate::docRevFound(const TDWDocRev::Ptr &)
{
}

bool TDWDocsServiceDelegate::useEntry(const TDWDocEntry &entry, const TDWAccount::Ptr &account)
{
    if (entry.deleted() || !account->limitGoogleDocs())
        return true;
    return !entry.mimeType().isEmpty() && getGoogleDocsMimeTypes().contains(entry.mimeType());
}

const QSet<QString> &TDWDocsServiceDelegate::getGoogleDocsMimeTypes()
{
    // A function-local static is made once, under the runtime's lock, and only read afterwards.
    static const QSet<QString> mimeTypes{
        QStringLiteral("application/vnd.google-apps.folder"),       QStringLiteral("application/vnd.google-apps.document"),
        QStringLiteral("application/vnd.google-apps.drawing"),      QStringLiteral("application/vnd.google-apps.form"),
        QStringLiteral("application/vnd.google-apps.presentation"), QStringLiteral("application/vnd.google-apps.spreadsheet"),
    };
    return mimeTypes;
}
