#pragma once

#include <QString>
#include <QVariantMap>

// Where the "Login required" notice for an account goes: the desktop's user
// notifications, once a notifier for them is installed. Without one, notices
// are dropped (the account's state still changes and is posted).
class TDWLoginNotifier
{
public:
    struct Notice
    {
        QString title;
        QString informativeText;
        QString actionButtonTitle;
        QVariantMap userInfo;
    };

    virtual ~TDWLoginNotifier() = default;
    // Called on the main thread.
    virtual void deliver(const Notice &notice) = 0;

    // The installed notifier (not owned), or null.
    static TDWLoginNotifier *shared();
    static void setShared(TDWLoginNotifier *notifier);
};
