#pragma once

#include "platform/imap/TDWImapSession.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>

// The Dovecot peer that the CTest fixture started for this run (its folder is
// compiled in; IMAP_PEER_ROOT overrides it for a peer started by hand), and
// doveadm to read the same mailbox behind IMAP's back.
class ImapPeer
{
public:
    static const ImapPeer &instance();

    bool isRunning() const { return m_port != 0; }
    QString root() const { return m_root; }
    quint16 port() const { return m_port; }
    QString caFile() const { return m_caFile; }
    QString user() const { return m_user; }
    QString token() const { return m_token; }

    // A session for the peer: 127.0.0.1, its CA, XOAUTH2 with the valid token.
    std::shared_ptr<TDWImapSession> session(int maximumConnections = 1) const;

    // doveadm with the peer's configuration; the output, or a failed test.
    QString doveadm(const QStringList &arguments) const;
    // `doveadm -f tab fetch -u USER FIELDS mailbox FOLDER all`: one map per message.
    QList<QMap<QString, QString>> fetch(const QString &fields, const QString &folder) const;
    // `doveadm mailbox status`: field -> value.
    QMap<QString, QString> status(const QString &fields, const QString &folder) const;

private:
    ImapPeer();
    QString m_root;
    quint16 m_port = 0;
    QString m_caFile;
    QString m_user;
    QString m_token;
};
