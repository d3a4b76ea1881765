#pragma once

#include "platform/foundation/TDWError.h"

#include <QString>

class TDWAccessTokenRetriever;

// How a TDWAccessTokenRetriever reports its one result.
class TDWAccessTokenDelegate
{
public:
    virtual ~TDWAccessTokenDelegate() = default;
    // The refresh succeeded and the renewed credential is saved.
    virtual void accessTokenRetrieverReceivedAccessToken(TDWAccessTokenRetriever *retriever, const QString &accessToken) = 0;
    // The refresh failed (TDWAccountAccessError::TokenRefreshFailed); the
    // description is ready to show to the user.
    virtual void accessTokenRetrieverEncounteredError(TDWAccessTokenRetriever *retriever, const TDWError &error) = 0;
};
