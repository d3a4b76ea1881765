#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/keychain/TDWKeyringError.h"

#include <QByteArray>
#include <QString>

// What a keyring answered. "No such item" and "could not look" are different
// answers: a caller that took the second for the first would write over, or
// give up on, a secret that is still there.
enum class TDWKeyringStatus {
    Found,
    NotFound,
    Unavailable, // no service, a locked collection, an unreadable item or store
};

// A store of secrets addressed by (service, account), the way generic
// password items are. Implementations are safe to call from any thread.
class TDWKeyringBackend
{
public:
    virtual ~TDWKeyringBackend() = default;

    // "secret-service" or "file".
    virtual QString name() const = 0;

    // The item's secret bytes through `secret` when Found; `error` says why
    // when Unavailable.
    virtual TDWKeyringStatus find(const QString &service, const QString &account, QByteArray *secret, TDWError *error) = 0;

    // Creates the item or replaces its secret in one step: until the new
    // secret is stored the old one stays readable, and a failure keeps it.
    virtual bool store(const QString &service, const QString &account, const QByteArray &secret, TDWError *error) = 0;

    // Found when an item was there and is gone now.
    virtual TDWKeyringStatus remove(const QString &service, const QString &account, TDWError *error) = 0;
};
