#include "platform/store/TDWSqliteTransaction.h"

#include "platform/store/TDWSqliteConnection.h"

#include <sqlite3.h>

#include <utility>

TDWSqliteTransaction::TDWSqliteTransaction(TDWSqliteTransaction &&other) noexcept
    : m_connection(other.m_connection), m_active(std::exchange(other.m_active, false))
{
}

TDWSqliteTransaction &TDWSqliteTransaction::operator=(TDWSqliteTransaction &&other) noexcept
{
    if (this != &other) {
        rollback();
        m_connection = other.m_connection;
        m_active = std::exchange(other.m_active, false);
    }
    return *this;
}

bool TDWSqliteTransaction::begin(TDWError *error)
{
    rollback();
    m_active = m_connection->exec(QStringLiteral("BEGIN IMMEDIATE"), error);
    return m_active;
}

bool TDWSqliteTransaction::commit(TDWError *error)
{
    if (!m_active) {
        tdwSetError(error, m_connection->errorFor(SQLITE_MISUSE, QStringLiteral("COMMIT without BEGIN")));
        return false;
    }
    // A failed COMMIT (a busy reader, a full disk) leaves the transaction open;
    // it stays active so that the destructor rolls it back.
    if (!m_connection->exec(QStringLiteral("COMMIT"), error))
        return false;
    m_active = false;
    return true;
}

void TDWSqliteTransaction::rollback()
{
    if (std::exchange(m_active, false))
        m_connection->rollback();
}
