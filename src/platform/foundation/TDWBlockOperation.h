#pragma once

#include "platform/foundation/TDWOperation.h"

#include <functional>

// An operation whose work is a function, for work too small for a class.
class TDWBlockOperation : public TDWOperation
{
    Q_OBJECT

public:
    explicit TDWBlockOperation(std::function<void()> block);

protected:
    void main() override;

private:
    std::function<void()> m_block;
};
