#pragma once

#include <QObject>

class QSocketNotifier;

// Watches the kernel's routing tables over a netlink socket: links going up or
// down, addresses and routes added or removed, in the network namespace of the
// thread that makes it. The socket is read on that thread's event loop (the
// main thread in the program), and one changed() is emitted per burst of
// kernel messages. Without netlink (a sandbox that refuses the socket) it logs
// one line and never emits.
class TDWNetlinkWatcher : public QObject
{
    Q_OBJECT

public:
    explicit TDWNetlinkWatcher(QObject *parent = nullptr);
    ~TDWNetlinkWatcher() override;

    bool isWatching() const { return m_socket >= 0; }

signals:
    void changed();

private:
    void readMessages();

    int m_socket = -1;
    QSocketNotifier *m_notifier = nullptr;
};
