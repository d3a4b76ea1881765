#include "platform/http/TDWHttpOperation.h"

#include "platform/http/TDWHttpClient.h"
#include "platform/http/TDWHttpError.h"

TDWHttpOperation::TDWHttpOperation(const TDWHttpRequest &request, const TDWHttpEnvironment &environment)
    : TDWHttpOperation(std::make_shared<TDWHttpClient>(environment), request)
{
}

TDWHttpOperation::TDWHttpOperation(const std::shared_ptr<TDWHttpClient> &client, const TDWHttpRequest &request)
    : TDWAsyncOperation<TDWHttpResponse>(
          client,
          onWorkerPool([client, request](const Progress &progress, TDWError *error) {
              TDWHttpRequest sent = request;
              if (progress)
                  sent.setProgressHandler(progress);
              TDWHttpResponse response = client->perform(sent);
              tdwSetError(error, response.error());
              return response;
          }),
          [client] { client->cancel(); },
          TDWHttpError::make(TDWHttpError::Cancelled))
{
}
