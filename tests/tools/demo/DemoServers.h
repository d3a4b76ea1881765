#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

namespace demotest {

// tools/demo/servers.sh run by this test process, as scripts/demo runs it: the
// servers end with this process, and the settings come from servers.env as
// the script's shell reads it.
class DemoServers
{
public:
    // The sample account that tools/demo/make_sample.py writes.
    static inline const QString Address = QStringLiteral("demo@example.com");
    // Its fixed access token, which both fakes know from the start.
    static inline const QString SampleToken = QStringLiteral("ya29.demo-sample-account");

    bool start();
    void stop();

    // The folder "servers.sh start" was given: the sample is in sample/.
    const QString &folder() const { return m_folder; }
    // A value of servers.env.
    QString value(const QString &name) const { return m_values.value(name); }
    // Exports what scripts/demo exports for the program: the host map, the
    // test CA and the consent page's address for the browser.
    void exportProgramEnvironment() const;
    // The "Hostname" setting that sends the program's Gmail to the fake IMAP server.
    QString imapHostname() const;

private:
    static bool run(const QStringList &arguments);

    QString m_folder;
    QHash<QString, QString> m_values;
};

} // namespace demotest
