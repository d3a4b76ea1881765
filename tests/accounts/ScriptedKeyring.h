#pragma once

#include "platform/keychain/TDWKeyringBackend.h"

#include <atomic>
#include <functional>
#include <memory>

// A keyring that passes calls on to a real one, and can be told to fail:
// to refuse stores (a full disk, a keyring that rejects the write), or to be
// unavailable altogether (a locked keyring). It counts the finds and removes
// that reach it.
class ScriptedKeyring : public TDWKeyringBackend
{
public:
    explicit ScriptedKeyring(std::shared_ptr<TDWKeyringBackend> inner) : m_inner(std::move(inner)) { }

    std::atomic<bool> refuseStores{false};
    std::atomic<bool> unavailable{false};
    std::atomic<int> finds{0};
    std::atomic<int> removes{0};
    // Runs inside every find, before it answers.
    std::function<void()> duringFind;

    QString name() const override { return m_inner->name(); }

    TDWKeyringStatus find(const QString &service, const QString &account, QByteArray *secret, TDWError *error) override
    {
        ++finds;
        if (duringFind)
            duringFind();
        if (unavailable)
            return failed(error, TDWKeyringError::Locked), TDWKeyringStatus::Unavailable;
        return m_inner->find(service, account, secret, error);
    }

    bool store(const QString &service, const QString &account, const QByteArray &secret, TDWError *error) override
    {
        if (unavailable)
            return failed(error, TDWKeyringError::Locked);
        if (refuseStores)
            return failed(error, TDWKeyringError::WriteFailed);
        return m_inner->store(service, account, secret, error);
    }

    TDWKeyringStatus remove(const QString &service, const QString &account, TDWError *error) override
    {
        ++removes;
        if (unavailable)
            return failed(error, TDWKeyringError::Locked), TDWKeyringStatus::Unavailable;
        return m_inner->remove(service, account, error);
    }

private:
    static bool failed(TDWError *error, TDWKeyringError::Code code)
    {
        tdwSetError(error, TDWKeyringError::make(code, QStringLiteral("scripted failure")));
        return false;
    }

    std::shared_ptr<TDWKeyringBackend> m_inner;
};
