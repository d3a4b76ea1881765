#pragma once

#include <QObject>

// Whether the network reaches a host, and notice when it may have changed.
// The backup scheduler holds one; tests give it a double they switch by hand.
// Lives on the main thread: changed() is emitted there.
class TDWReachability : public QObject
{
    Q_OBJECT

public:
    explicit TDWReachability(QObject *parent = nullptr);
    ~TDWReachability() override;

    // Asked afresh on every call; synchronous.
    virtual bool isOnline() = 0;

signals:
    // The links or routes changed: the answer of isOnline() may be different now.
    void changed();
};
