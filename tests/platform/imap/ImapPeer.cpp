#include "ImapPeer.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

const ImapPeer &ImapPeer::instance()
{
    static const ImapPeer peer;
    return peer;
}

ImapPeer::ImapPeer()
    : m_root(qEnvironmentVariable("IMAP_PEER_ROOT", QStringLiteral(TDW_IMAP_PEER_ROOT)))
{
    QFile ports(m_root + QStringLiteral("/ports"));
    if (m_root.isEmpty() || !ports.open(QIODevice::ReadOnly))
        return;
    QMap<QString, QString> values;
    for (const QByteArray &line : ports.readAll().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            values.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
    }
    m_port = quint16(values.value(QStringLiteral("IMAPS_PORT")).toUInt());
    m_caFile = values.value(QStringLiteral("CA_CERT"));
    m_user = values.value(QStringLiteral("IMAP_USER"));
    m_token = values.value(QStringLiteral("IMAP_TOKEN"));
}

std::shared_ptr<TDWImapSession> ImapPeer::session(int maximumConnections) const
{
    auto session = TDWImapSession::create();
    session->setHostname(QStringLiteral("127.0.0.1"));
    session->setPort(m_port);
    session->setUsername(m_user);
    session->setConnectionType(TDWImapConnectionTypeTLS);
    session->setAuthType(TDWImapAuthTypeXOAuth2);
    session->setTimeout(30);
    session->setOAuth2Token(m_token);
    session->setMaximumConnections(maximumConnections);
    session->setCertificateAuthorityFile(m_caFile);
    return session;
}

QString ImapPeer::doveadm(const QStringList &arguments) const
{
    QProcess process;
    process.start(QStringLiteral("doveadm"), QStringList{QStringLiteral("-c"), m_root + QStringLiteral("/dovecot.conf")} + arguments);
    process.waitForFinished(60000);
    EXPECT_EQ(process.exitCode(), 0) << "doveadm " << arguments.join(' ').toStdString() << ": "
                                     << process.readAllStandardError().toStdString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

QList<QMap<QString, QString>> ImapPeer::fetch(const QString &fields, const QString &folder) const
{
    const QString out = doveadm({QStringLiteral("-f"), QStringLiteral("tab"), QStringLiteral("fetch"), QStringLiteral("-u"), m_user,
                                 fields, QStringLiteral("mailbox"), folder, QStringLiteral("all")});
    QList<QMap<QString, QString>> rows;
    const QStringList lines = out.split(u'\n', Qt::SkipEmptyParts);
    if (lines.isEmpty())
        return rows;
    const QStringList names = lines.first().split(u'\t');
    for (const QString &line : lines.mid(1)) {
        const QStringList cells = line.split(u'\t');
        QMap<QString, QString> row;
        for (qsizetype i = 0; i < names.size() && i < cells.size(); ++i)
            row.insert(names[i], cells[i]);
        rows.append(row);
    }
    return rows;
}

QMap<QString, QString> ImapPeer::status(const QString &fields, const QString &folder) const
{
    const QString out = doveadm({QStringLiteral("-f"), QStringLiteral("tab"), QStringLiteral("mailbox"), QStringLiteral("status"),
                                 QStringLiteral("-u"), m_user, fields, folder});
    const QStringList lines = out.split(u'\n', Qt::SkipEmptyParts);
    QMap<QString, QString> values;
    if (lines.size() == 2) {
        const QStringList names = lines[0].split(u'\t');
        const QStringList cells = lines[1].split(u'\t');
        for (qsizetype i = 0; i < names.size() && i < cells.size(); ++i)
            values.insert(names[i], cells[i]);
    }
    return values;
}
