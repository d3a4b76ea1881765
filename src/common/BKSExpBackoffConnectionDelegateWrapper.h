#pragma once

#include "common/BKSExpBackoffDelegateWrapper.h"
#include "platform/foundation/TDWAsyncOperation.h"
#include "platform/http/TDWHttpEnvironment.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>

class TDWHttpClient;
class TDWHttpOperation;

// One request sent with the back-off between the sender and its caller: the
// caller sees only the final answer, never one that was resent. Asynchronous
// like every request: start() it with a completion on the main thread, or
// run() it on a worker thread (the synchronous send), and cancel() it from
// any thread; a cancelled wrapper reports nothing after start() and answers
// TDWHttpError::Cancelled from run().
//
// A transport failure (no HTTP answer) is handed over at once after start(),
// unless the request is a download (a download path is set): a download, and
// every request sent by run(), is resent after a failure that may pass
// (time-out, name resolution, connection, broken answer) as after a 5xx.
//
// A redirect handler of the request still decides every redirect; the request
// it lets through is the one that a resend sends.
//
//   auto request = std::make_shared<BKSExpBackoffConnectionDelegateWrapper>(TDWHttpRequest(url));
//   request->start([](const TDWError &error, const TDWHttpResponse &response) { ... });
class BKSExpBackoffConnectionDelegateWrapper : public BKSExpBackoffDelegateWrapper,
                                               public std::enable_shared_from_this<BKSExpBackoffConnectionDelegateWrapper>
{
public:
    using Completion = TDWAsyncOperation<TDWHttpResponse>::Completion;
    // Calls `resume` once `pause` has passed (on any thread). Unless replaced,
    // start() waits on a timer of the main thread and run() on its own thread,
    // both for TDWClock::duration(pause).
    using Pause = std::function<void(std::chrono::milliseconds pause, std::function<void()> resume)>;

    explicit BKSExpBackoffConnectionDelegateWrapper(const TDWHttpRequest &request,
                                                    const TDWHttpEnvironment &environment = TDWHttpEnvironment::fromProcessEnvironment());
    ~BKSExpBackoffConnectionDelegateWrapper() override;

    // Before start() or run().
    void setPause(Pause pause);

    // On the main thread, of a wrapper held by a std::shared_ptr.
    void start(Completion completion);
    // On a worker thread; blocks through the pauses.
    TDWHttpResponse run(TDWError *error = nullptr);
    void cancel();
    bool isCancelled() const { return m_cancelled; }

protected:
    void resendAfter(std::chrono::milliseconds pause) override;

private:
    // The request with a redirect handler that records what the caller's handler lets through.
    TDWHttpRequest requestToSend();
    void sendLastRequest();
    void received(const TDWError &error, const TDWHttpResponse &response);
    // Whether a request that got no answer is sent again.
    bool retryTransportFailure(const TDWError &error);
    // run(): waits out the pause, or until cancel().
    void waitOnThisThread(std::chrono::milliseconds pause);

    const TDWHttpEnvironment m_environment;
    const TDWHttpRequest::RedirectHandler m_callerRedirectHandler;
    Pause m_pause;
    Completion m_completion;
    bool m_synchronous = false;
    std::atomic<bool> m_cancelled = false;

    std::mutex m_sendMutex; // guards the sender of the running attempt, which cancel() reaches from any thread
    std::shared_ptr<TDWHttpOperation> m_connection; // start()
    std::shared_ptr<TDWHttpClient> m_client;        // run()

    // run(): the wait between attempts, which cancel() ends.
    struct Wait
    {
        std::mutex mutex;
        std::condition_variable condition;
        bool resumed = false;
    };
    std::shared_ptr<Wait> m_wait;
};
