#include "accounts/TDWPreflightMgr.h"

#include "accounts/TDWAccountAccessError.h"
#include "accounts/TDWPreflight.h"
#include "accounts/TDWPreflightDelegate.h"
#include "common/TDWServiceTable.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWOperationQueue.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <mutex>

// One service's check; `preflight` is null when the service's class is unknown.
struct TDWPreflightMgr::Check
{
    QString service;
    std::unique_ptr<TDWPreflight> preflight;
};

// What the workers share with the manager: how many checks are still running,
// and the manager while it exists (under the lock, so it cannot go away while
// the last worker queues the outcome).
struct TDWPreflightMgr::Shared
{
    std::mutex mutex;
    TDWPreflightMgr *manager = nullptr;
    int remaining = 0;
};

TDWPreflightMgr::TDWPreflightMgr(const QString &accountUsername, const QString &accessToken, const QStringList &services,
                                 TDWPreflightDelegate *delegate, QObject *parent)
    : QObject(parent)
    , m_accountUsername(accountUsername)
    , m_accessToken(accessToken)
    , m_services(services)
    , m_delegate(delegate)
    , m_authenticatorQueue(std::make_unique<TDWOperationQueue>())
{
    m_authenticatorQueue->setMaxConcurrentOperationCount(4);
}

TDWPreflightMgr::~TDWPreflightMgr()
{
    if (m_shared) {
        std::lock_guard lock(m_shared->mutex);
        m_shared->manager = nullptr;
    }
    for (const auto &check : m_authenticators) {
        if (check->preflight)
            check->preflight->cancel();
    }
    // Waits for the checks under way to return.
    m_authenticatorQueue.reset();
}

void TDWPreflightMgr::start()
{
    if (m_running)
        return;
    m_running = true;
    m_authenticators.clear();
    m_mailPreflightOperation = nullptr;

    for (const QString &service : std::as_const(m_services)) {
        const QString className = TDWServiceTable::shared().serviceConfig(service).preflightClass;
        auto check = std::make_shared<Check>();
        check->service = service;
        check->preflight = TDWPreflightClasses::shared().create(className, m_accountUsername, m_accessToken, service);
        if (!check->preflight)
            tdwLog(QStringLiteral("ERROR: No preflight check \"%1\" for service %2").arg(className, service));
        else if (className == MailPreflightClass)
            m_mailPreflightOperation = check->preflight.get();
        m_authenticators.push_back(check);
    }

    m_shared = std::make_shared<Shared>();
    m_shared->manager = this;
    m_shared->remaining = int(m_authenticators.size());
    if (m_authenticators.empty()) {
        // Nothing to check is a success, reported like any other outcome:
        // after start() has returned.
        QMetaObject::invokeMethod(this, &TDWPreflightMgr::finishRun, Qt::QueuedConnection);
        return;
    }
    for (const auto &check : m_authenticators) {
        m_authenticatorQueue->addOperation([check, shared = m_shared] {
            if (check->preflight)
                check->preflight->run();
            std::lock_guard lock(shared->mutex);
            if (--shared->remaining == 0 && shared->manager)
                QMetaObject::invokeMethod(shared->manager, &TDWPreflightMgr::finishRun, Qt::QueuedConnection);
        });
    }
}

void TDWPreflightMgr::finishRun()
{
    m_running = false;
    for (const auto &check : m_authenticators) {
        TDWError error;
        if (check->preflight) {
            error = check->preflight->error();
            if (error.isNull())
                continue;
        } else {
            const QString label = TDWServiceTable::shared().serviceConfig(check->service).listOfItemsLabel;
            error = TDWAccountAccessError::make(TDWAccountAccessError::NoServiceCheck,
                                                QCoreApplication::translate("TDWPreflightMgr", "Unable to retrieve the %1: %2")
                                                    .arg(label.isEmpty() ? check->service : label,
                                                         QCoreApplication::translate("TDWPreflightMgr", "No check is available for this service.")));
        }
        m_delegate->handlePreflightFailure(error);
        return;
    }
    m_delegate->handlePreflightSuccess();
}
