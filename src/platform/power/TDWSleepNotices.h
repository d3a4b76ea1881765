#pragma once

#include <QObject>

// Notice that the machine is about to sleep and that it woke, emitted on the
// main thread. The backup scheduler holds one; tests give it a double.
class TDWSleepNotices : public QObject
{
    Q_OBJECT

public:
    explicit TDWSleepNotices(QObject *parent = nullptr);
    ~TDWSleepNotices() override;

signals:
    void willSleep();
    void didWake();
};
