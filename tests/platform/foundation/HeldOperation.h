#pragma once

#include "platform/foundation/TDWAsyncOperation.h"

#include <memory>

namespace foundationtest {

// An asynchronous operation whose answer the test gives, by hand, through
// `deliver`; it counts how often its work was launched.
struct HeldOperation
{
    static constexpr qint64 CancelledCode = 9;

    HeldOperation() = default;
    HeldOperation(const HeldOperation &) = delete;
    HeldOperation &operator=(const HeldOperation &) = delete;

    int launches = 0;
    TDWAsyncOperation<int>::Deliver deliver;
    std::shared_ptr<TDWAsyncOperation<int>> operation = std::make_shared<TDWAsyncOperation<int>>(
        nullptr,
        [this](TDWAsyncOperation<int>::Deliver d, TDWAsyncOperation<int>::Progress) {
            ++launches;
            deliver = std::move(d);
        },
        nullptr, TDWError::withDescription(QStringLiteral("Test"), CancelledCode, QStringLiteral("cancelled")));
};

} // namespace foundationtest
