#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// Keeps to one running application per user: the first start listens on a
// local socket in the user's runtime folder; a later start (or the launch URL
// opened through the desktop) finds it there, asks it to come forward and ends.
class TDWSingleInstance : public QObject
{
    Q_OBJECT

public:
    // The folder holds the socket and the lock that serialises concurrent starts.
    explicit TDWSingleInstance(QString folder = defaultFolder(), QObject *parent = nullptr);
    ~TDWSingleInstance() override;

    static QString defaultFolder();

    // False when another instance answered (it has been asked to come
    // forward). True otherwise: this process is the one instance, or, when
    // the socket cannot be made (logged), runs unguarded rather than not at all.
    bool claim();

signals:
    // Another start asked this instance to come forward.
    void activationRequested();

private:
    QString socketPath() const;
    bool askRunningInstance() const;

    const QString m_folder;
    QLocalServer *m_server = nullptr;
};
