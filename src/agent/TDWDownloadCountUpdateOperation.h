#pragma once

#include "platform/foundation/TDWOperation.h"

#include <QString>

// Recounts the download counters of one account service from its store (the
// latest revisions of live items that count in the status, by export status)
// and marks them up to date. Callers run main() directly, except the
// scheduler, which queues it. Failures are logged and leave the counters and
// their up-to-date mark as they were.
class TDWDownloadCountUpdateOperation : public TDWOperation
{
    Q_OBJECT

public:
    TDWDownloadCountUpdateOperation(QString accountUsername, QString service);

    void main() override;

    const QString &accountUsername() const { return m_accountUsername; }
    const QString &service() const { return m_service; }

private:
    QString m_accountUsername;
    QString m_service;
};
