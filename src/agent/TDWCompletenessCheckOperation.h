#pragma once

#include "platform/foundation/TDWOperation.h"

#include <QDateTime>
#include <QString>

#include <atomic>

// Answers, before a whole-account export, whether one account service still
// has latest revisions of live items that are pending, failed or missing. It
// trusts the download counters when they are up to date and no snapshot date
// is given, and counts the store otherwise. Failures are logged and answer no.
class TDWCompletenessCheckOperation : public TDWOperation
{
    Q_OBJECT

public:
    // A null snapshot date means now.
    TDWCompletenessCheckOperation(QString accountUsername, QString service, QDateTime snapshotDate);

    void main() override;

    // Nothing pending, failed or missing; false until main() has found so.
    bool complete() const { return m_complete; }

private:
    QString m_accountUsername;
    QString m_service;
    QDateTime m_snapshotDate;
    std::atomic<bool> m_complete = false;
};
