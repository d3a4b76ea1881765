#include "platform/http/TDWHttpOperation.h"

#include "platform/http/TDWHttpClient.h"
#include "platform/http/TDWHttpError.h"

#include <QThreadPool>

TDWHttpOperation::TDWHttpOperation(const TDWHttpRequest &request, const TDWHttpEnvironment &environment)
    : TDWHttpOperation(std::make_shared<TDWHttpClient>(environment), request)
{
}

TDWHttpOperation::TDWHttpOperation(const std::shared_ptr<TDWHttpClient> &client, const TDWHttpRequest &request)
    : TDWAsyncOperation<TDWHttpResponse>(
          client,
          [client, request](Deliver deliver, Progress progress) {
              QThreadPool::globalInstance()->start([client, request, deliver = std::move(deliver), progress]() mutable {
                  TDWHttpRequest sent = request;
                  if (progress)
                      sent.setProgressHandler(progress);
                  TDWHttpResponse response = client->perform(sent);
                  const TDWError error = response.error();
                  deliver(error, std::move(response));
              });
          },
          [client] { client->cancel(); },
          TDWHttpError::make(TDWHttpError::Cancelled))
{
}
