#pragma once

#include "accounts/TDWPreflight.h"

#include <QString>

#include <atomic>
#include <memory>

class TDWHttpClient;

// The access check of an HTTP API service: one authenticated GET of the
// service's "preflighturl" (with its "gdataversion" as GData-Version, when the
// table has one) must answer 200; the body is not examined.
class TDWApiPreflightOperation : public TDWPreflight
{
public:
    TDWApiPreflightOperation(const QString &username, const QString &accessToken, const QString &service);
    ~TDWApiPreflightOperation() override;

    void run() override;
    void cancel() override;
    bool success() const override { return !m_failure; }
    // "Unable to retrieve the <list label>: <reason>".
    QString message() const override;
    QString username() const override { return m_username; }
    QString service() const override { return m_service; }

private:
    QString m_username;
    QString m_accessToken;
    QString m_service;
    bool m_failure = true;
    QString m_failureReason;
    std::unique_ptr<TDWHttpClient> m_client;
};
