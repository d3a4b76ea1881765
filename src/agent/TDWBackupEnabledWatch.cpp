#include "agent/TDWBackupEnabledWatch.h"

#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/store/TDWContextReset.h"

#include <QList>

#include <mutex>

struct TDWBackupEnabledWatch::Observing
{
    std::mutex mutex;
    TDWBackupEnabledWatch *watch = nullptr;
    std::function<void()> cancel;
    QList<TDWNotificationCenter::Token> tokens;
};

TDWBackupEnabledWatch::TDWBackupEnabledWatch(QString username, QString service, std::function<void()> cancel)
    : m_username(std::move(username))
    , m_service(std::move(service))
    , m_observing(std::make_shared<Observing>())
{
    m_observing->watch = this;
    m_observing->cancel = std::move(cancel);
    TDWNotificationCenter &center = TDWNotificationCenter::defaultCenter();
    for (const QString &name : {QStringLiteral("accountUpdate"), QStringLiteral("deletedAccount")}) {
        m_observing->tokens.append(center.addObserver(name, [observing = m_observing](const TDWNotification &notification) {
            std::lock_guard lock(observing->mutex);
            if (observing->watch)
                observing->watch->checkDisabled(notification);
        }));
    }
}

TDWBackupEnabledWatch::~TDWBackupEnabledWatch()
{
    for (TDWNotificationCenter::Token token : m_observing->tokens)
        TDWNotificationCenter::defaultCenter().removeObserver(token);
    std::lock_guard lock(m_observing->mutex);
    m_observing->watch = nullptr;
}

void TDWBackupEnabledWatch::checkDisabled(const TDWNotification &notification)
{
    if (notification.userInfo().value(QStringLiteral("accountUsername")).toString() == m_username)
        checkBackupEnabled();
}

void TDWBackupEnabledWatch::checkBackupEnabled()
{
    // Without the stores there is no account to back up either.
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    const TDWContextReset resetOnExit{moc.get()};
    TDWError error;
    const TDWAccount::Ptr account = moc ? TDWAccount::byUsername(m_username, *moc, &error) : nullptr;
    if (!account || !account->enabledForService(m_service))
        m_observing->cancel();
}
