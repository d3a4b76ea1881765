#pragma once

#include "platform/http/TDWHttpRequest.h"
#include "platform/http/TDWHttpResponse.h"

#include <QObject>

#include <memory>

// Runs one request on a worker thread and reports on the thread this object
// lives on (which needs a running event loop), for callers on the main thread
// that must not block.
//
// finished() is emitted exactly once per start(), always after start() has
// returned, unless the task was cancelled or destroyed first: then nothing is
// emitted. Destroying a running task cancels its request.
class TDWHttpTask : public QObject
{
    Q_OBJECT

public:
    explicit TDWHttpTask(const TDWHttpRequest &request, QObject *parent = nullptr);
    ~TDWHttpTask() override;

    void start();
    void cancel();
    bool isRunning() const { return m_running; }

signals:
    void finished(const TDWHttpResponse &response);

private:
    struct Shared;

    void deliver(const TDWHttpResponse &response, quint64 generation);

    TDWHttpRequest m_request;
    std::shared_ptr<Shared> m_shared;
    bool m_running = false;
    quint64 m_generation = 0;
};
