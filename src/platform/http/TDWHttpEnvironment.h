#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Where requests really go, from the process environment, so that tests and
// the demo can keep the production URLs and still reach local servers:
//
//   TDW_HOST_MAP="accounts.google.com=127.0.0.1:8443,www.google.com:80=127.0.0.1:8080"
//       sends a host (on any port, or on the one given) to another address;
//       the request keeps its host name, so TLS still checks the certificate
//       against it.
//   TDW_EXTRA_CA=/path/ca.pem
//       trusts the certificates of that PEM file besides the system's.
//
// Proxies come from the usual http_proxy/https_proxy/no_proxy variables;
// mapped hosts always bypass them.
class TDWHttpEnvironment
{
public:
    TDWHttpEnvironment() = default;
    // Reads both variables now; a malformed map entry is logged and skipped.
    static TDWHttpEnvironment fromProcessEnvironment();
    static TDWHttpEnvironment fromStrings(const QString &hostMap, const QString &extraCaFile);

    // libcurl CONNECT_TO lines ("HOST:PORT:TARGET:TARGETPORT").
    const QStringList &connectTo() const { return m_connectTo; }
    // The mapped host names, for the proxy bypass.
    const QStringList &mappedHosts() const { return m_mappedHosts; }
    // The host that connections to `host` really go to: the first map entry's
    // target (on whichever port), else the host itself.
    QString targetHost(const QString &host) const;
    // The malformed entries that were skipped.
    const QStringList &rejectedEntries() const { return m_rejected; }

    const QString &extraCaFile() const { return m_extraCaFile; }
    // The PEM text of the extra CA file, read once; empty when none is set or
    // the file cannot be read (logged).
    const QByteArray &extraCaPem() const { return m_extraCaPem; }

private:
    void addMapEntry(const QString &entry);

    QStringList m_connectTo;
    QStringList m_mappedHosts;
    QStringList m_rejected;
    QString m_extraCaFile;
    QByteArray m_extraCaPem;
};
