#pragma once

#include "dataobjects/TDWDocRev.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <memory>

namespace dotest {
struct MetadataStack;
}

// Metadata stores and a backup folder of the test's own, with one account
// whose contacts and calendar backups are on; revisions are made with their
// revision folders in place, as the listing leaves them for the writers.
class WriterFixture : public ::testing::Test
{
protected:
    static inline const QString Contacts = QStringLiteral("contacts");
    static inline const QString Calendar = QStringLiteral("calendar");

    WriterFixture();
    ~WriterFixture() override;
    void SetUp() override;
    void TearDown() override;

    // A contact revision holding `xml` whose card goes to <account>/<name>/1/<name>.vcf.
    TDWDocRev::Ptr revision(const QString &name, const QString &xml, const QString &title);
    // A revision of the service whose file goes to <account>/<name>/1/<name>.<extension>.
    TDWDocRev::Ptr revision(const QString &service, const QString &docType, const QString &name, const QString &extension);
    // Where the revision's file lies.
    QString onDisk(const TDWDocRev::Ptr &rev) const;

    struct ScriptRun
    {
        int exitCode = -1;
        QString output; // standard output and error, merged
    };
    // Runs a Python script of tests/services with Debian's interpreter, which
    // sees the python3-* packages (vobject) that independent reads need.
    static ScriptRun runScript(const QString &script, const QStringList &arguments);

private:
    std::unique_ptr<dotest::MetadataStack> m_stack;
    QString m_backupFolder;
    QString m_accountDir;
};
