#pragma once

#include "DataObjectsTestSupport.h"

#include "dataobjects/TDWAccountServiceSetting.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "platform/store/TDWManagedObjectID.h"

#include <QList>
#include <QString>

#include <gtest/gtest.h>

namespace bktest {

inline const QString Alice = QStringLiteral("alice@example.com");
inline const QString Docs = QStringLiteral("docs");
inline const QString Contacts = QStringLiteral("contacts");
inline const QString Mail = QStringLiteral("mail");

// One seeded revision: its item's state and its own.
struct Seed
{
    qint64 status = TDWDocRev::DownloadPending;
    bool latest = true;
    bool deleted = false;
    bool includeInStatus = true;
    QString title = QStringLiteral("Report");
    QString docType = QStringLiteral("document");
};

// Every export status 0 to 5, latest or not, of a live or deleted item.
QList<Seed> statusTable();

// A metadata stack with Alice's docs, contacts and mail stores, where the
// tests seed revisions and read them back in a fresh context.
class BookkeepingTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Seeds one item with one revision per seed and saves; the revisions' identifiers.
    QList<TDWManagedObjectID> seed(const QList<Seed> &seeds, const QString &service = Docs);
    // A revision's export status as stored now.
    qint64 statusOf(const TDWManagedObjectID &id);
    // The account service's setting, read afresh.
    TDWAccountServiceSetting::Ptr setting(const QString &service = Docs);
    void setCounts(const QString &service, bool upToDate, qint64 pending, qint64 failed, qint64 missing, qint64 done = 0);

    dotest::MetadataStack stack;
    int m_nextDocId = 1;
};

} // namespace bktest
