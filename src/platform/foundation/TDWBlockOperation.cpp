#include "platform/foundation/TDWBlockOperation.h"

TDWBlockOperation::TDWBlockOperation(std::function<void()> block)
    : m_block(std::move(block))
{
}

void TDWBlockOperation::main()
{
    if (m_block)
        m_block();
}
