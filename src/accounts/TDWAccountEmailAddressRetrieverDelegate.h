#pragma once

#include "platform/foundation/TDWError.h"

#include <QString>

class TDWAccountEmailAddressRetriever;

// How a TDWAccountEmailAddressRetriever reports its one result.
class TDWAccountEmailAddressRetrieverDelegate
{
public:
    virtual ~TDWAccountEmailAddressRetrieverDelegate() = default;
    // No address was obtained (TDWAccountAccessError::AddressFailed); the
    // description is ready to show.
    virtual void emailAddressRetrieverEncounteredError(TDWAccountEmailAddressRetriever *retriever, const TDWError &error) = 0;
    // The account's address, in lower case.
    virtual void emailAddressRetrieverReceivedEmailAddress(TDWAccountEmailAddressRetriever *retriever, const QString &address) = 0;
    // Google refused the access token.
    virtual void emailAddressRetrieverEncounteredAuthorizationError(TDWAccountEmailAddressRetriever *retriever) = 0;
};
