#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class TDWOperationQueue;
class TDWPreflight;
class TDWPreflightDelegate;

// Checks with one access token that every chosen service of an account can be
// read: one check per service (of the class the service table names under
// "preflightClass", made through TDWPreflightClasses), up to 4 at a time on
// an operation queue's worker threads, then one outcome on
// the manager's thread: the message of the first failing check in the order
// of `services` (not the first to finish), or success. An empty service list
// succeeds at once. A service whose check class is unknown fails.
//
// Destroying the manager cancels its checks and reports nothing.
class TDWPreflightMgr : public QObject
{
    Q_OBJECT

public:
    // The class name of the Gmail check, kept for the sign-in and settings views.
    static inline const QString MailPreflightClass = QStringLiteral("TDWMailPreflightOperation");

    TDWPreflightMgr(const QString &accountUsername, const QString &accessToken, const QStringList &services,
                    TDWPreflightDelegate *delegate, QObject *parent = nullptr);
    ~TDWPreflightMgr() override;

    // Starts a run; ignored while one is under way.
    void start();
    bool isRunning() const { return m_running; }

    // The check of class TDWMailPreflightOperation of the last run, or null;
    // valid while the manager lives.
    TDWPreflight *mailPreflightOperation() const { return m_mailPreflightOperation; }

private:
    struct Check;
    struct Shared;

    void finishRun();

    QString m_accountUsername;
    QString m_accessToken;
    QStringList m_services;
    TDWPreflightDelegate *m_delegate;
    std::unique_ptr<TDWOperationQueue> m_authenticatorQueue;
    std::vector<std::shared_ptr<Check>> m_authenticators;
    std::shared_ptr<Shared> m_shared;
    TDWPreflight *m_mailPreflightOperation = nullptr;
    bool m_running = false;
};
