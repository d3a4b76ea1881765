#include "platform/imap/TDWImapError.h"

TDWError TDWImapError::make(Code code, const QString &description, const QVariantMap &extra)
{
    QVariantMap info = extra;
    info.insert(TDWError::LocalizedDescriptionKey, description);
    return TDWError(Domain, code, info);
}
