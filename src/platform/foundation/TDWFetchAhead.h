#pragma once

#include "platform/foundation/TDWAsyncOperation.h"
#include "platform/foundation/TDWStallWatch.h"

#include <memory>
#include <mutex>

// The next page of a list or batch of messages, asked for while the caller
// still stores the one before, so that the server's time and ours overlap:
// one request in flight at a time, answers taken in order. No thread waits
// for the answer but the one that takes it.
//
// Used from one thread, except cancel(), which may come from any.
template <class T>
class TDWFetchAhead
{
public:
    using Operation = TDWAsyncOperation<T>;

    TDWFetchAhead() = default;
    TDWFetchAhead(const TDWFetchAhead &) = delete;
    TDWFetchAhead &operator=(const TDWFetchAhead &) = delete;
    // A fetch still in flight has nobody left to answer.
    ~TDWFetchAhead() { cancel(); }

    // Starts `operation` now, under `watch` when one is given; a fetch
    // started before and not taken is cancelled.
    void start(const std::shared_ptr<Operation> &operation, const std::shared_ptr<TDWStallWatch> &watch = nullptr)
    {
        cancel();
        auto pending = watch ? watch->begin(operation) : operation->begin();
        std::lock_guard lock(m_mutex);
        m_operation = operation;
        m_pending = std::move(pending);
    }

    // Whether a fetch was started and not yet taken.
    bool isStarted() const
    {
        std::lock_guard lock(m_mutex);
        return m_operation != nullptr;
    }

    // Waits for the answer of the fetch started last and takes it (once
    // cancelled, that operation's Cancelled error); with none started, an
    // empty answer.
    T take(TDWError *error)
    {
        std::shared_ptr<Operation> operation;
        std::shared_ptr<typename Operation::Pending> pending;
        {
            std::lock_guard lock(m_mutex);
            operation = m_operation;
            pending = m_pending;
        }
        if (!operation)
            return T{};
        // Held here while waiting, so that cancel() still reaches it.
        T result = operation->wait(pending, error);
        std::lock_guard lock(m_mutex);
        m_operation.reset();
        m_pending.reset();
        return result;
    }

    // Ends the fetch in flight; take() then answers at once.
    void cancel()
    {
        std::shared_ptr<Operation> operation;
        {
            std::lock_guard lock(m_mutex);
            operation = m_operation;
        }
        if (operation)
            operation->cancel();
    }

private:
    mutable std::mutex m_mutex;
    std::shared_ptr<Operation> m_operation;
    std::shared_ptr<typename Operation::Pending> m_pending;
};
