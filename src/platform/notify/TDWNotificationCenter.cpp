#include "platform/notify/TDWNotificationCenter.h"

#include <algorithm>
#include <atomic>

struct TDWNotificationCenter::Observer
{
    Token token = 0;
    QString name;
    Callback callback;
    QMetaObject::Connection contextConnection;
    // Set under the centre's lock when the registration ends, so a post that
    // took its snapshot earlier skips it.
    std::atomic<bool> removed = false;
};

TDWNotificationCenter::TDWNotificationCenter() = default;

TDWNotificationCenter::~TDWNotificationCenter()
{
    std::vector<std::shared_ptr<Observer>> observers;
    {
        std::lock_guard lock(m_mutex);
        observers.swap(m_observers);
    }
    // A context destroyed later must not reach a centre that is gone.
    for (const auto &observer : observers)
        QObject::disconnect(observer->contextConnection);
}

TDWNotificationCenter &TDWNotificationCenter::defaultCenter()
{
    // Never destroyed: contexts and threads may outlive static destruction.
    static auto *center = new TDWNotificationCenter;
    return *center;
}

TDWNotificationCenter::Token TDWNotificationCenter::addObserver(const QString &name, Callback callback, QObject *context)
{
    auto observer = std::make_shared<Observer>();
    observer->token = ++m_lastToken;
    observer->name = name;
    observer->callback = std::move(callback);
    if (context) {
        // Direct connection: the registration ends in the thread that destroys
        // the context, before any later post can call into a dead object.
        // Made before the observer is shared, so no other thread reads the
        // connection while it is written.
        observer->contextConnection = QObject::connect(context, &QObject::destroyed, [this, token = observer->token] { removeObserver(token); });
    }
    std::lock_guard lock(m_mutex);
    m_observers.push_back(observer);
    return observer->token;
}

void TDWNotificationCenter::removeObserver(Token token)
{
    std::shared_ptr<Observer> removed;
    {
        std::lock_guard lock(m_mutex);
        const auto it = std::find_if(m_observers.begin(), m_observers.end(), [token](const auto &o) { return o->token == token; });
        if (it == m_observers.end())
            return;
        removed = *it;
        removed->removed = true;
        m_observers.erase(it);
    }
    // Outside the lock: disconnecting takes Qt's own locks.
    QObject::disconnect(removed->contextConnection);
}

void TDWNotificationCenter::post(const TDWNotification &notification)
{
    std::vector<std::shared_ptr<Observer>> matching;
    {
        std::lock_guard lock(m_mutex);
        for (const auto &observer : m_observers)
            if (observer->name.isEmpty() || observer->name == notification.name())
                matching.push_back(observer);
    }
    for (const auto &observer : matching)
        if (!observer->removed)
            observer->callback(notification);
}

void TDWNotificationCenter::post(const QString &name, QObject *object, const QVariantMap &userInfo)
{
    post(TDWNotification(name, object, userInfo));
}
