#pragma once

#include "platform/notify/TDWNotification.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// Delivers named notifications to the observers registered for them. A post
// runs every matching observer synchronously on the posting thread; posting
// onto the main thread is the business of the callers (BKSNotUtils).
//
// Safe to use from any thread. Observers may add and remove observers while a
// post runs: one removed during a post is not called any more by it, one added
// during a post is first called by the next post. Removal does not wait for a
// call already running on another thread, which is why the program posts on
// the main thread only and ends registrations there.
class TDWNotificationCenter
{
public:
    using Callback = std::function<void(const TDWNotification &)>;
    // Identifies one registration; 0 is never handed out.
    using Token = quint64;

    TDWNotificationCenter();
    ~TDWNotificationCenter();
    TDWNotificationCenter(const TDWNotificationCenter &) = delete;
    TDWNotificationCenter &operator=(const TDWNotificationCenter &) = delete;

    // The process-wide centre that the program's notifications go through.
    static TDWNotificationCenter &defaultCenter();

    // Calls `callback` for every later notification named `name` (every
    // notification when `name` is empty). When `context` is given, the
    // registration ends by itself when that object is destroyed.
    Token addObserver(const QString &name, Callback callback, QObject *context = nullptr);
    // Ends a registration; unknown or already removed tokens are ignored.
    void removeObserver(Token token);

    void post(const TDWNotification &notification);
    void post(const QString &name, QObject *object = nullptr, const QVariantMap &userInfo = {});

private:
    struct Observer;

    std::mutex m_mutex;
    std::vector<std::shared_ptr<Observer>> m_observers;
    std::atomic<Token> m_lastToken = 0;
};
