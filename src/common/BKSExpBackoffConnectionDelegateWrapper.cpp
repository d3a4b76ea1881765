#include "common/BKSExpBackoffConnectionDelegateWrapper.h"

#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWMainThread.h"
#include "platform/http/TDWHttpClient.h"
#include "platform/http/TDWHttpError.h"
#include "platform/http/TDWHttpOperation.h"

#include <QCoreApplication>
#include <QTimer>

BKSExpBackoffConnectionDelegateWrapper::BKSExpBackoffConnectionDelegateWrapper(const TDWHttpRequest &request,
                                                                               const TDWHttpEnvironment &environment)
    : BKSExpBackoffDelegateWrapper(request)
    , m_environment(environment)
    , m_callerRedirectHandler(request.redirectHandler())
{
}

BKSExpBackoffConnectionDelegateWrapper::~BKSExpBackoffConnectionDelegateWrapper() = default;

void BKSExpBackoffConnectionDelegateWrapper::setPause(Pause pause)
{
    m_pause = std::move(pause);
}

void BKSExpBackoffConnectionDelegateWrapper::start(Completion completion)
{
    m_completion = std::move(completion);
    sendLastRequest();
}

TDWHttpResponse BKSExpBackoffConnectionDelegateWrapper::run(TDWError *error)
{
    m_synchronous = true;
    std::shared_ptr<TDWHttpClient> client = std::make_shared<TDWHttpClient>(m_environment);
    {
        std::lock_guard lock(m_sendMutex);
        m_client = client;
    }
    for (;;) {
        // A cancel() before the client was kept is seen here; one after ends the exchange.
        TDWHttpResponse response = m_cancelled ? TDWHttpResponse() : client->perform(requestToSend());
        const bool resent = !m_cancelled && (response.hasResponse() ? retryResponse(response) : retryTransportFailure(response.error()));
        if (m_cancelled) {
            const TDWError cancelled = TDWHttpError::make(TDWHttpError::Cancelled);
            tdwSetError(error, cancelled);
            return TDWHttpResponse::failure(cancelled, lastRequestSent().url());
        }
        if (!resent) {
            tdwSetError(error, response.error());
            return response;
        }
    }
}

void BKSExpBackoffConnectionDelegateWrapper::cancel()
{
    if (m_cancelled.exchange(true))
        return;
    std::shared_ptr<TDWHttpOperation> connection;
    std::shared_ptr<TDWHttpClient> client;
    std::shared_ptr<Wait> wait;
    {
        std::lock_guard lock(m_sendMutex);
        connection = std::move(m_connection);
        client = m_client;
        wait = m_wait;
    }
    if (connection)
        connection->cancel();
    if (client)
        client->cancel();
    if (wait) {
        std::lock_guard lock(wait->mutex);
        wait->condition.notify_all();
    }
}

TDWHttpRequest BKSExpBackoffConnectionDelegateWrapper::requestToSend()
{
    TDWHttpRequest request = lastRequestSent();
    // Called while the request is being sent, which this wrapper outlives:
    // run() waits for it, and after start() the attempt's completion holds the wrapper.
    request.setRedirectHandler([this, caller = m_callerRedirectHandler](const TDWHttpResponse &redirect, TDWHttpRequest &next) {
        if (caller && !caller(redirect, next))
            return false;
        TDWHttpRequest followed = next;
        followed.setRedirectHandler(caller);
        setLastRequestSent(followed);
        return true;
    });
    return request;
}

void BKSExpBackoffConnectionDelegateWrapper::sendLastRequest()
{
    auto connection = std::make_shared<TDWHttpOperation>(requestToSend(), m_environment);
    {
        std::lock_guard lock(m_sendMutex);
        if (m_cancelled)
            return;
        m_connection = connection;
    }
    connection->start([self = shared_from_this()](const TDWError &error, const TDWHttpResponse &response) { self->received(error, response); });
}

void BKSExpBackoffConnectionDelegateWrapper::received(const TDWError &error, const TDWHttpResponse &response)
{
    {
        std::lock_guard lock(m_sendMutex);
        m_connection.reset();
    }
    if (m_cancelled)
        return;
    const bool resent = response.hasResponse() ? retryResponse(response)
                                               : !lastRequestSent().downloadPath().isEmpty() && retryTransportFailure(error);
    if (resent)
        return;
    Completion completion = std::move(m_completion);
    m_completion = nullptr;
    if (completion)
        completion(error, response);
}

bool BKSExpBackoffConnectionDelegateWrapper::retryTransportFailure(const TDWError &error)
{
    // Failures that another attempt may not meet; a refused certificate, a
    // bad URL or a full disk would only fail five more times.
    switch (error.code()) {
    case TDWHttpError::Timeout:
    case TDWHttpError::Resolve:
    case TDWHttpError::Connect:
    case TDWHttpError::Network:
        return error.domain() == TDWHttpError::Domain && retryFailure(error.localizedDescription());
    default:
        return false;
    }
}

void BKSExpBackoffConnectionDelegateWrapper::resendAfter(std::chrono::milliseconds pause)
{
    if (m_synchronous) {
        waitOnThisThread(pause);
        return;
    }
    // The next attempt starts on the main thread, whatever thread the pause ends on.
    auto resume = [self = shared_from_this()] {
        TDWMainThread::post([self] {
            if (!self->isCancelled())
                self->sendLastRequest();
        });
    };
    if (m_pause)
        m_pause(pause, std::move(resume));
    else
        QTimer::singleShot(TDWClock::duration(pause), QCoreApplication::instance(), std::move(resume));
}

void BKSExpBackoffConnectionDelegateWrapper::waitOnThisThread(std::chrono::milliseconds pause)
{
    auto wait = std::make_shared<Wait>();
    {
        std::lock_guard lock(m_sendMutex);
        m_wait = wait;
    }
    if (m_pause) {
        m_pause(pause, [wait] {
            std::lock_guard lock(wait->mutex);
            wait->resumed = true;
            wait->condition.notify_all();
        });
    }
    std::unique_lock lock(wait->mutex);
    if (m_pause)
        wait->condition.wait(lock, [&] { return wait->resumed || m_cancelled; });
    else
        wait->condition.wait_for(lock, TDWClock::duration(pause), [&] { return m_cancelled.load(); });
}
