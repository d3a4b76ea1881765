#pragma once

#include "platform/foundation/TDWAsyncOperation.h"
#include "platform/http/TDWHttpEnvironment.h"
#include "platform/http/TDWHttpRequest.h"
#include "platform/http/TDWHttpResponse.h"

#include <memory>

class TDWHttpClient;

// One request in the program's asynchronous form: start() it with a completion
// on the main thread, or run() it on a worker thread; the exchange itself runs
// on a thread of the global thread pool (so run() must not be called from one).
// The error handed over is the response's own (null for any HTTP answer);
// cancel() ends the exchange within one poll and run() then answers
// TDWHttpError::Cancelled. Its owner cancels it when it goes away.
//
//   auto operation = std::make_shared<TDWHttpOperation>(request);
//   operation->start([](const TDWError &error, const TDWHttpResponse &response) { ... });
class TDWHttpOperation : public TDWAsyncOperation<TDWHttpResponse>
{
public:
    explicit TDWHttpOperation(const TDWHttpRequest &request,
                              const TDWHttpEnvironment &environment = TDWHttpEnvironment::fromProcessEnvironment());

private:
    TDWHttpOperation(const std::shared_ptr<TDWHttpClient> &client, const TDWHttpRequest &request);
};
