#pragma once

#include "platform/foundation/TDWClassRegistry.h"
#include "platform/foundation/TDWError.h"
#include "platform/foundation/TDWOperation.h"
#include "platform/store/TDWManagedObjectID.h"

#include <QDateTime>
#include <QString>

#include <mutex>

// What the list retrieval needs of the operation that brings one calendar's
// event store up to date after a full calendar listing: made by name from the
// calendar's current revision, the user name and the iteration's start time,
// run on a queue, and asked afterwards whether it succeeded.
class TDWCalendarDatabaseUpdate : public TDWOperation
{
    Q_OBJECT

public:
    static inline const QString ClassName = QStringLiteral("TDWCalendarDatabaseUpdateOperation");

    virtual bool successful() const = 0;

    // The protocol layer's error when the update failed because of it, whose
    // scope says whether the other calendars may still succeed; null otherwise.
    TDWError failureCause() const
    {
        std::lock_guard lock(m_failureMutex);
        return m_failureCause;
    }

protected:
    void setFailureCause(const TDWError &error)
    {
        std::lock_guard lock(m_failureMutex);
        m_failureCause = error;
    }

private:
    mutable std::mutex m_failureMutex;
    TDWError m_failureCause;
};

using TDWCalendarUpdateClasses = TDWClassRegistry<TDWCalendarDatabaseUpdate, const TDWManagedObjectID &, const QString &, const QDateTime &>;
