#pragma once

#include "platform/foundation/TDWError.h"

class TDWSqliteConnection;

// The one way to write in a transaction:
//
//   TDWSqliteTransaction transaction(connection);
//   if (!transaction.begin(error)) return false;
//   ... writes, returning false on any failure ...
//   return transaction.commit(error);
//
// Whatever path leaves the scope before commit() succeeds, the destructor rolls
// back, so no failure can leave the file's write lock held or half a change
// pending. begin() is BEGIN IMMEDIATE: the write lock is taken at once, so a
// transaction never has to upgrade from reading to writing (which the busy
// handler cannot resolve).
class TDWSqliteTransaction
{
public:
    explicit TDWSqliteTransaction(TDWSqliteConnection &connection) : m_connection(&connection) {}
    ~TDWSqliteTransaction() { rollback(); }
    TDWSqliteTransaction(TDWSqliteTransaction &&other) noexcept;
    TDWSqliteTransaction &operator=(TDWSqliteTransaction &&other) noexcept;
    TDWSqliteTransaction(const TDWSqliteTransaction &) = delete;

    bool begin(TDWError *error);
    bool commit(TDWError *error);
    // Undoes everything since begin(); does nothing once committed.
    void rollback();
    bool isActive() const { return m_active; }

private:
    TDWSqliteConnection *m_connection;
    bool m_active = false;
};
