#include "platform/http/TDWHttpTask.h"

#include "platform/http/TDWHttpClient.h"

#include <QMetaObject>
#include <QPointer>
#include <QThreadPool>

#include <mutex>

// Outlives the task when the worker is still running: the worker reports
// through it only while the task exists, and the lock keeps the task from
// going away in the middle of a report being queued.
struct TDWHttpTask::Shared
{
    TDWHttpClient client;
    std::mutex mutex;
    TDWHttpTask *task = nullptr;
    bool cancelled = false;
    quint64 generation = 0;
};

TDWHttpTask::TDWHttpTask(const TDWHttpRequest &request, QObject *parent)
    : QObject(parent)
    , m_request(request)
{
    qRegisterMetaType<TDWHttpResponse>();
}

TDWHttpTask::~TDWHttpTask()
{
    cancel();
}

void TDWHttpTask::start()
{
    if (m_running)
        return;
    m_running = true;
    m_shared = std::make_shared<Shared>();
    m_shared->task = this;
    m_shared->generation = ++m_generation;
    QThreadPool::globalInstance()->start([shared = m_shared, request = m_request] {
        const TDWHttpResponse response = shared->client.perform(request);
        std::lock_guard lock(shared->mutex);
        if (shared->task && !shared->cancelled) {
            TDWHttpTask *task = shared->task;
            // Queued, so the report always comes after start() returned and on
            // the task's own thread; it is dropped if the task is gone by then.
            QMetaObject::invokeMethod(
                task, [task, response, generation = shared->generation] { task->deliver(response, generation); },
                Qt::QueuedConnection);
        }
    });
}

void TDWHttpTask::cancel()
{
    if (!m_shared)
        return;
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->cancelled = true;
        m_shared->task = nullptr;
    }
    m_shared->client.cancel();
    m_shared.reset();
    m_running = false;
}

void TDWHttpTask::deliver(const TDWHttpResponse &response, quint64 generation)
{
    // A cancel (or a restart) between the worker's report and its delivery wins.
    if (!m_running || generation != m_generation)
        return;
    m_running = false;
    m_shared.reset();
    emit finished(response);
}
