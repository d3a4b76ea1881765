#pragma once

#include "dataobjects/TDWDocRev.h"

#include <QByteArray>
#include <QString>

#include <gtest/gtest.h>

#include <memory>

namespace dotest {
struct MetadataStack;
}

// Metadata stores and a backup folder of the test's own, with one account
// whose contacts backup is on; contact revisions are made with their
// revision folders in place, as the listing leaves them for the card writer.
class ContactCardFixture : public ::testing::Test
{
protected:
    ContactCardFixture();
    ~ContactCardFixture() override;
    void SetUp() override;
    void TearDown() override;

    // A contact revision holding `xml` whose card goes to <account>/<name>/1/<name>.vcf.
    TDWDocRev::Ptr revision(const QString &name, const QString &xml, const QString &title);
    // Where the revision's card lies.
    QString onDisk(const TDWDocRev::Ptr &rev) const;
    static QByteArray readAll(const QString &path);

private:
    std::unique_ptr<dotest::MetadataStack> m_stack;
    QString m_backupFolder;
    QString m_accountDir;
    TDWPersistentStorePtr m_store;
};
