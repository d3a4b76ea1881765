// Drive list retrieval of a large account from the fake Google server: a
// first full run, a full run with nothing changed, a full run with 1% of the
// files changed, and an incremental run over another 1%. Prints entries per
// second and the peak resident memory of each; and, for scale, how fast
// the same pages arrive when only fetched.
//
//   ./build/bench/services/bench_list_retrieval                 # 100,000 files in pages of 1,000
//   TDW_BENCH_FILES=10000 ./build/bench/services/bench_list_retrieval
#include "DataObjectsTestSupport.h"
#include "FakeGoogleServer.h"

#include "accounts/TDWCredential.h"
#include "accounts/TDWGoogleEndpoints.h"
#include "accounts/TDWKeychainMgr.h"
#include "agent/TDWApiBackupOperation.h"
#include "app/TDWRegisterClasses.h"
#include "common/TDWUrlEncoding.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWDataProperty.h"
#include "dataobjects/TDWDoc.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWOperationQueue.h"
#include "platform/http/TDWHttpClient.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <cstdio>

#include <malloc.h>

#include <gtest/gtest.h>

namespace {

const QString User = QStringLiteral("bench@example.com");
const QString Docs = QStringLiteral("docs");
constexpr int PageSize = 1000;

int fileCount()
{
    const int files = qEnvironmentVariableIntValue("TDW_BENCH_FILES");
    return files > 0 ? files : 100000;
}

// The resident high-water mark since the last reset, so that each phase is
// measured on its own (the scenario built for the fake is not counted). What
// the driver freed before a phase is handed back to the system first: its
// allocator would otherwise keep it resident and count it into every phase.
void resetPeak()
{
    malloc_trim(0);
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
}

// A field of /proc/self/status in megabytes ("VmHWM", "RssFile", ...).
double statusMegabytes(const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray prefix = field + ':';
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

// Files in 100 folders; each run changes every hundredth file's title.
QJsonObject scenario(int files)
{
    QJsonArray items;
    for (int folder = 0; folder < 100; ++folder)
        items.append(QJsonObject{{"id", QStringLiteral("folder%1").arg(folder)}, {"title", QStringLiteral("Folder %1").arg(folder)},
                                 {"mimeType", "application/vnd.google-apps.folder"}});
    for (int i = 100; i < files; ++i)
        items.append(QJsonObject{{"id", QStringLiteral("file%1").arg(i)}, {"title", QStringLiteral("Report %1.pdf").arg(i)},
                                 {"mimeType", "application/pdf"}, {"parents", QJsonArray{QStringLiteral("folder%1").arg(i % 100)}}});
    QJsonArray runs;
    for (int run = 0; run < 2; ++run) {
        QJsonArray changes;
        for (int i = 100 + run; i < files; i += 100)
            changes.append(QJsonObject{{"id", QStringLiteral("file%1").arg(i)}, {"title", QStringLiteral("Report %1 v%2.pdf").arg(i).arg(run + 2)}});
        runs.append(QJsonObject{{User, QJsonObject{{"docs", QJsonObject{{"files", QJsonObject{{"change", changes}}}}}}}});
    }
    return QJsonObject{{"accounts", QJsonArray{QJsonObject{{"email", User}, {"access_token", "at-bench"}}}},
                       {"lists", QJsonObject{{"page_size", PageSize}, {"data", QJsonObject{{User, QJsonObject{{"docs", QJsonObject{{"files", items}}}}}}},
                                             {"runs", runs}}}};
}

class ListRetrievalBench : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TDWRegisterClasses();
        stack.addAccount(User, {Docs});
        auto credential = std::make_shared<TDWCredential>();
        credential->setAccessToken(QStringLiteral("at-bench"));
        credential->setAccessTokenExpires(TDWClock::now().addSecs(36000));
        ASSERT_TRUE(TDWKeychainMgr::keychainMgr()->setCredential(credential, User, true));
    }

    // One retrieval in a new iteration; its seconds.
    double runOnce()
    {
        const TDWBackupIteration::Ptr iteration = TDWBackupIteration::newWithMoc(*stack.moc);
        iteration->setIterationStartTime(QDateTime::fromSecsSinceEpoch(TDWClock::now().toSecsSinceEpoch() + ++m_runs, Qt::UTC));
        TDWError error;
        EXPECT_TRUE(stack.moc->save(&error));
        const TDWManagedObjectID iterationId = iteration->objectID();
        stack.moc->reset();
        resetPeak();
        std::shared_ptr<TDWOperation> retrieval(
            TDWListRetrievalClasses::shared().create(TDWApiBackupOperation::ListRetrievalClass, User, Docs, iterationId, nullptr));
        QElapsedTimer timer;
        timer.start();
        TDWOperationQueue queue;
        queue.addOperation(retrieval);
        queue.waitUntilAllOperationsAreFinished();
        return double(timer.nsecsElapsed()) / 1e9;
    }

    void forgetChangeId()
    {
        TDWDataProperty::removePropertyForName(QStringLiteral("lastChangeId"), stack.store(User, Docs), *stack.moc);
        TDWError error;
        EXPECT_TRUE(stack.moc->save(&error));
        stack.moc->reset();
    }

    void report(const char *name, double seconds, qint64 entries)
    {
        const double peak = statusMegabytes("VmHWM");
        // File pages resident at the end (the stores are read through a memory map): part of the peak.
        const double mapped = statusMegabytes("RssFile");
        TDWError error;
        const qint64 items = TDWDoc::countByStore(stack.store(User, Docs), *stack.moc, &error);
        stack.moc->reset();
        std::printf("%-26s %7lld entries %7.2f s %7.0f entries/s  peak %4.0f MB (file-backed %3.0f MB)  %lld items stored\n", name,
                    (long long)entries, seconds, double(entries) / seconds, peak, mapped, (long long)items);
        std::fflush(stdout);
    }

    dotest::MetadataStack stack;

private:
    int m_runs = 0;
};

TEST_F(ListRetrievalBench, DriveAccountInPagesOfAThousand)
{
    const int files = fileCount();
    tdwtest::FakeGoogleServer fake;
    ASSERT_TRUE(fake.start(scenario(files)));

    // The pages alone, for scale: what the fake and the transport take.
    resetPeak();
    QElapsedTimer fetchTimer;
    fetchTimer.start();
    QString url = QStringLiteral("https://www.googleapis.com/drive/v2/files?maxResults=1000&q=")
                  + TDWUrlEncoding::stringByUrlEncoding(QStringLiteral("trashed=false"));
    TDWHttpClient client;
    while (!url.isEmpty()) {
        TDWHttpRequest request{QUrl(url)};
        request.setBearerToken("at-bench", TDWGoogleEndpoints::bearerHosts());
        const TDWHttpResponse response = client.perform(request);
        ASSERT_EQ(response.statusCode(), 200);
        url = QJsonDocument::fromJson(response.body()).object().value(QStringLiteral("nextLink")).toString();
    }
    report("pages fetched only", double(fetchTimer.nsecsElapsed()) / 1e9, files);

    report("first run (full)", runOnce(), files);
    forgetChangeId();
    report("unchanged (full)", runOnce(), files);
    ASSERT_EQ(fake.nextRun(), 1);
    forgetChangeId();
    report("1% changed (full)", runOnce(), files);
    ASSERT_EQ(fake.nextRun(), 2);
    report("1% changed (incremental)", runOnce(), files / 100);
}

} // namespace
