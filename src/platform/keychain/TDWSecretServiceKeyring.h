#pragma once

#include "platform/keychain/TDWKeyringBackend.h"

#include <mutex>

struct _SecretService;

// Secrets kept by the desktop's Secret Service (gnome-keyring, KWallet's
// bridge, ...) over the session bus, as items of our own schema with the
// attributes "service" and "account". New items go to the default
// collection. A locked item or collection counts as unavailable: the program
// never asks the user to unlock from a background thread, and never takes a
// locked keyring for an empty one.
class TDWSecretServiceKeyring : public TDWKeyringBackend
{
public:
    static inline const char *SchemaName = "org.tidewell.Tidewell.GenericPassword";

    TDWSecretServiceKeyring() = default;
    ~TDWSecretServiceKeyring() override;
    TDWSecretServiceKeyring(const TDWSecretServiceKeyring &) = delete;
    TDWSecretServiceKeyring &operator=(const TDWSecretServiceKeyring &) = delete;

    // Whether a Secret Service answers on the session bus now.
    bool isAvailable(TDWError *error);

    QString name() const override;
    TDWKeyringStatus find(const QString &service, const QString &account, QByteArray *secret, TDWError *error) override;
    bool store(const QString &service, const QString &account, const QByteArray &secret, TDWError *error) override;
    TDWKeyringStatus remove(const QString &service, const QString &account, TDWError *error) override;

private:
    _SecretService *connection(TDWError *error);
    void forgetConnection();

    std::mutex m_mutex; // one call at a time, and guards m_service
    _SecretService *m_service = nullptr;
};
