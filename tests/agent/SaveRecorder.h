#pragma once

#include "platform/store/TDWPersistentStoreCoordinator.h"

#include <QList>
#include <QMetaObject>

#include <memory>
#include <mutex>

// Records, while it lives, how many objects each save on the coordinator
// changed, from whichever thread saved.
class SaveRecorder
{
public:
    explicit SaveRecorder(const std::shared_ptr<TDWPersistentStoreCoordinator> &coordinator)
    {
        m_connection = QObject::connect(
            coordinator.get(), &TDWPersistentStoreCoordinator::contextDidSave, coordinator.get(),
            [this](const TDWSaveNotification &notification) {
                std::lock_guard lock(m_mutex);
                m_updatedCounts.append(notification.updated.size());
            },
            Qt::DirectConnection);
    }
    ~SaveRecorder() { QObject::disconnect(m_connection); }

    QList<qsizetype> updatedCounts() const
    {
        std::lock_guard lock(m_mutex);
        return m_updatedCounts;
    }

private:
    QMetaObject::Connection m_connection;
    mutable std::mutex m_mutex;
    QList<qsizetype> m_updatedCounts;
};
