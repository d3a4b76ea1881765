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
    // "Unable to retrieve the <list label>: <reason>".
    TDWError error() const override { return m_error; }
    QString username() const override { return m_username; }
    QString service() const override { return m_service; }

private:
    TDWError failure(const QString &reason) const;

    QString m_username;
    QString m_accessToken;
    QString m_service;
    TDWError m_error;
    std::unique_ptr<TDWHttpClient> m_client;
};
