#pragma once

#include "DataObjectsTestSupport.h"
#include "FakeGoogleTest.h"

#include "dataobjects/TDWDocRev.h"
#include "platform/store/TDWManagedObjectID.h"
#include "status/TDWActivityMonitor.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>

namespace dltest {

inline const QString Alice = QStringLiteral("alice@example.com");
inline const QString Token = QStringLiteral("at-alice");

// One revision to seed: its item's service and type, and the revision's own state.
struct Seed
{
    QString service = QStringLiteral("docs");
    QString docType = QStringLiteral("file");
    QString title = QStringLiteral("Report.pdf");
    QString contentUrl;
    qint64 exportStatus = TDWDocRev::DownloadPending;
    QString photoEtag;
    QString xmlString;
    // The file object the listing gave (Drive's "fileSize", "md5Checksum", ...); empty: none.
    QVariantMap listed;
};

// The fake Google server with Alice's data (one server for the whole suite,
// its faults and request log cleared for each test), the metadata stores and a
// backup folder of the test's own, Alice's stored credential, the program's
// own class registrations and the shared activity monitor.
class DownloadTest : public tdwtest::FakeGoogleTest
{
protected:
    // Alice's items at the fake, per service and collection.
    static QJsonObject aliceData();
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;

    TDWManagedObjectID seed(const Seed &seed);
    // A Drive file's revision with that content URL and status.
    TDWManagedObjectID seedFile(const QString &contentUrl, qint64 exportStatus = TDWDocRev::DownloadPending, const QVariantMap &listed = {});
    // Makes the operation by the class name through the program's registry and runs it on this thread.
    void run(const QString &className, const TDWManagedObjectID &revId, bool cancelFirst = false);

    // The revision as stored now, read in a fresh context.
    TDWDocRev::Ptr stored(const TDWManagedObjectID &revId);
    QString pathOf(const TDWManagedObjectID &revId);
    QByteArray fileAt(const TDWManagedObjectID &revId);
    // Files in the revision's folder other than its own file (temporary files left behind).
    QStringList strayFiles(const TDWManagedObjectID &revId);
    // The requests the fake logged for that path.
    QJsonArray requestsTo(const QString &path) { return s_fake->requestsTo(path); }
    int notificationsPosted(const QString &name);

    dotest::MetadataStack stack;
    TDWActivityMonitor monitor;
    QStringList log;

private:
    std::mutex m_mutex; // guards log and m_notifications, appended from worker threads
    QStringList m_notifications;
    QList<quint64> m_tokens;
    std::unique_ptr<TDWManagedObjectContext> m_readMoc; // holds what stored() answers
    int m_nextDocId = 1;
};

} // namespace dltest
