// Straight downloads from the fake Google server through the program's own
// registration, with the bookkeeping of the download base: the stored status,
// failure text and lock, the file replaced only by a complete body, and the
// account's token sent only where it may go.
#include "DownloadFixture.h"

#include "agent/TDWApiBackupOperation.h"
#include "agent/TDWItemDownload.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "services/TDWStraightDownloadOperation.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

using namespace dltest;

const QString Straight = QStringLiteral("TDWStraightDownloadOperation");
const QString ReportUrl = QStringLiteral("https://www.googleapis.com/drive/v2/files/f1?alt=media");
const QString BigUrl = QStringLiteral("https://www.googleapis.com/drive/v2/files/big?alt=media");
const QString NotesExport = QStringLiteral("https://docs.google.com/feeds/download/export?id=d1&exportFormat="
                                           "application%2Fvnd.openxmlformats-officedocument.wordprocessingml.document");
const QString PhotoUrl = QStringLiteral("https://lh3.googleusercontent.com/fake/100/200/IMG_1.JPG");

QByteArray pattern(qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char(i % 251);
    return bytes;
}

bool isLocked(const QString &path)
{
    return (QFileInfo(path).permissions() & (QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther)) == 0;
}

// The Authorization header the fake saw on the requests for that path.
QStringList authorizationsSentTo(const QJsonArray &requests)
{
    QStringList sent;
    for (const QJsonValue &request : requests)
        sent << request[QStringLiteral("headers")][QStringLiteral("authorization")].toString(QStringLiteral("<none>"));
    return sent;
}

class TDWStraightDownloadOperationTest : public DownloadTest
{
protected:
    // A revision that was backed up before: its file holds "old copy", locked.
    TDWManagedObjectID seedWithOldFile(const QString &contentUrl, const QVariantMap &listed = {})
    {
        const TDWManagedObjectID id = seedFile(contentUrl, TDWDocRev::DownloadFailed, listed);
        QFileInfo file(pathOf(id));
        EXPECT_TRUE(QDir().mkpath(file.absolutePath()));
        QFile old(file.filePath());
        EXPECT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old copy");
        old.close();
        EXPECT_TRUE(QFile::setPermissions(file.filePath(), QFile::ReadOwner | QFile::ReadGroup));
        return id;
    }
};

TEST_F(TDWStraightDownloadOperationTest, BodiesArriveByteForByteAndAreRecordedAsBackedUp)
{
    struct Case
    {
        QString url;
        QByteArray body;
    };
    const QList<Case> cases{{ReportUrl, "%PDF-1.4 the report"}, {BigUrl, pattern(3000017)}, {NotesExport, "exported notes"}, {PhotoUrl, "photo bytes"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        const TDWManagedObjectID id = seedFile(c.url);
        run(Straight, id);
        EXPECT_EQ(fileAt(id), c.body);
        const TDWDocRev::Ptr rev = stored(id);
        EXPECT_EQ(rev->exportStatus(), TDWDocRev::BackedUp);
        EXPECT_TRUE(rev->lastExportFailureError().isNull());
        EXPECT_TRUE(rev->lastExportAttemptDate().isValid());
        EXPECT_TRUE(isLocked(pathOf(id)));
        EXPECT_EQ(strayFiles(id), QStringList());
    }
    EXPECT_EQ(notificationsPosted(QStringLiteral("retrievalstarted")), cases.size());
    EXPECT_EQ(notificationsPosted(QStringLiteral("retrievalattempted")), cases.size());
}

TEST_F(TDWStraightDownloadOperationTest, ADownloadAgainReplacesTheLockedFileAndLocksAsTheSettingSays)
{
    for (const bool lock : {true, false}) {
        TDWUserDefaults::standard()->setBool(lock, QStringLiteral("lockBackupFiles"));
        const TDWManagedObjectID id = seedWithOldFile(ReportUrl);
        run(Straight, id);
        EXPECT_EQ(fileAt(id), "%PDF-1.4 the report");
        EXPECT_EQ(isLocked(pathOf(id)), lock);
        EXPECT_EQ(stored(id)->exportStatus(), TDWDocRev::BackedUp);
    }
}

TEST_F(TDWStraightDownloadOperationTest, AFailedDownloadKeepsThePreviousFileAndRecordsWhy)
{
    struct Case
    {
        const char *name;
        QJsonObject fault;
        QString expected; // the start of the failure text
    };
    const QString path = QStringLiteral("/drive/v2/files/big");
    const QList<Case> cases{
        {"not found", {{"path", path}, {"status", 404}}, QStringLiteral("Unexpected status: 404")},
        {"server error", {{"path", path}, {"status", 503}}, QStringLiteral("Unexpected status: 503")},
        {"no content", {{"path", path}, {"status", 204}}, QStringLiteral("Unexpected status: 204")},
        {"partial content", {{"path", path}, {"status", 206}, {"body", "part"}, {"headers", QJsonObject{{"Content-Range", "bytes 0-3/4000"}}}},
         QStringLiteral("Unexpected status: 206")},
        {"body breaks off", {{"path", path}, {"break_after", 1000000}}, QString()},
        {"connection dropped", {{"path", path}, {"drop", true}}, QString()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        s_fake->addFault(c.fault);
        const TDWManagedObjectID id = seedWithOldFile(BigUrl);
        run(Straight, id);
        EXPECT_EQ(fileAt(id), "old copy");
        EXPECT_EQ(strayFiles(id), QStringList());
        const TDWDocRev::Ptr rev = stored(id);
        EXPECT_EQ(rev->exportStatus(), TDWDocRev::DownloadFailed);
        EXPECT_FALSE(rev->lastExportFailureError().isEmpty());
        if (!c.expected.isEmpty()) {
            EXPECT_EQ(rev->lastExportFailureError(), c.expected);
        }
        EXPECT_TRUE(log.last().startsWith(QStringLiteral("ERROR: Unable to download “%1” to “%2”: ").arg(BigUrl, pathOf(id))))
            << log.last().toStdString();
    }
}

TEST_F(TDWStraightDownloadOperationTest, WithoutAContentUrlTheFailureIsRecordedWithoutARequest)
{
    const TDWManagedObjectID id = seedFile(QString());
    run(Straight, id);
    EXPECT_EQ(stored(id)->exportStatus(), TDWDocRev::DownloadFailed);
    EXPECT_EQ(stored(id)->lastExportFailureError(), QStringLiteral("No URL specified."));
    EXPECT_TRUE(s_fake->requests().isEmpty());
}

TEST_F(TDWStraightDownloadOperationTest, ExcludedOrCancelledDownloadsTouchNothing)
{
    const TDWManagedObjectID excluded = seedWithOldFile(ReportUrl);
    {
        const TDWDocRev::Ptr rev = stored(excluded);
        rev->setExportStatus(TDWDocRev::ExcludedByRule);
        ASSERT_TRUE(rev->managedObjectContext()->save(nullptr));
    }
    run(Straight, excluded);
    const TDWManagedObjectID cancelled = seedWithOldFile(ReportUrl);
    run(Straight, cancelled, true);

    EXPECT_TRUE(s_fake->requests().isEmpty());
    EXPECT_EQ(stored(excluded)->exportStatus(), TDWDocRev::ExcludedByRule);
    EXPECT_EQ(stored(cancelled)->exportStatus(), TDWDocRev::DownloadFailed);
    EXPECT_FALSE(stored(cancelled)->lastExportAttemptDate().isValid());
    EXPECT_EQ(fileAt(excluded), "old copy");
    EXPECT_EQ(fileAt(cancelled), "old copy");
    EXPECT_EQ(notificationsPosted(QStringLiteral("retrievalstarted")), 0);
}

TEST_F(TDWStraightDownloadOperationTest, TheFolderOfANewRevisionIsMadeWithItsParents)
{
    const TDWManagedObjectID id = seedFile(ReportUrl);
    ASSERT_FALSE(QFileInfo::exists(QFileInfo(pathOf(id)).absolutePath()));
    run(Straight, id);
    EXPECT_EQ(fileAt(id), "%PDF-1.4 the report");
}

TEST_F(TDWStraightDownloadOperationTest, TheTokenGoesOnlyToHttpsGoogleHostsEvenAfterARedirect)
{
    // Drive's content host and its export host get the token; public photo content and plain http do not.
    for (const QString &url : {ReportUrl, NotesExport, PhotoUrl, QStringLiteral("http://www.googleapis.com/drive/v2/files/f1?alt=media")})
        run(Straight, seedFile(url));
    EXPECT_EQ(authorizationsSentTo(requestsTo(QStringLiteral("/drive/v2/files/f1"))),
              QStringList({QStringLiteral("Bearer ") + Token, QStringLiteral("<none>")}));
    EXPECT_EQ(authorizationsSentTo(requestsTo(QStringLiteral("/feeds/download/export"))), QStringList{QStringLiteral("Bearer ") + Token});
    EXPECT_EQ(authorizationsSentTo(requestsTo(QStringLiteral("/fake/100/200/IMG_1.JPG"))), QStringList{QStringLiteral("<none>")});

    // A content URL that redirects elsewhere: the next hop goes without the token.
    s_fake->clearRequests();
    s_fake->addFault({{"path", "/drive/v2/files/big"}, {"status", 302}, {"location", PhotoUrl}});
    const TDWManagedObjectID redirected = seedFile(BigUrl);
    run(Straight, redirected);
    EXPECT_EQ(fileAt(redirected), "photo bytes");
    EXPECT_EQ(authorizationsSentTo(requestsTo(QStringLiteral("/drive/v2/files/big"))), QStringList{QStringLiteral("Bearer ") + Token});
    EXPECT_EQ(authorizationsSentTo(requestsTo(QStringLiteral("/fake/100/200/IMG_1.JPG"))), QStringList{QStringLiteral("<none>")});
}

TEST_F(TDWStraightDownloadOperationTest, TheDoNotBackUpRuleTurnsAFailureIntoAnExclusionButNeverASuccess)
{
    TDWUserDefaults::standard()->setString(QStringLiteral("title BEGINSWITH 'Report'"), QStringLiteral("dontbackuppredicate"));
    s_fake->addFault({{"path", "/drive/v2/files/big"}, {"status", 404}});
    const TDWManagedObjectID failed = seedFile(BigUrl);
    run(Straight, failed);
    EXPECT_EQ(stored(failed)->exportStatus(), TDWDocRev::ExcludedByRule);
    EXPECT_EQ(stored(failed)->lastExportFailureError(), QStringLiteral("Unexpected status: 404"));

    const TDWManagedObjectID succeeded = seedFile(ReportUrl);
    run(Straight, succeeded);
    EXPECT_EQ(stored(succeeded)->exportStatus(), TDWDocRev::BackedUp);

    // A rule that does not parse changes nothing and says why.
    TDWUserDefaults::standard()->setString(QStringLiteral("title BEGINSWITH"), QStringLiteral("dontbackuppredicate"));
    const TDWManagedObjectID unparsable = seedFile(QStringLiteral("https://www.googleapis.com/drive/v2/files/none?alt=media"));
    run(Straight, unparsable);
    EXPECT_EQ(stored(unparsable)->exportStatus(), TDWDocRev::DownloadPending);
    EXPECT_FALSE(stored(unparsable)->lastExportAttemptDate().isValid());
    EXPECT_TRUE(log.last().startsWith(QStringLiteral("ERROR: Error in ExportOperation main: "))) << log.last().toStdString();
}

} // namespace

namespace {

// The process's resident set now, and its peak since resetPeakRss(), in KiB (from /proc/self/status).
qint64 statusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qsizetype(qstrlen(field))).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

bool resetPeakRss()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}

// Whether the file holds `size` bytes of the fake's generated pattern (byte i is i % 251), read a chunk at a time.
bool holdsPattern(const QString &path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() != size)
        return false;
    // Every chunk, whatever its offset, is one slice of this.
    const QByteArray block = pattern(251).repeated(2 + (1 << 20) / 251);
    qint64 offset = 0;
    while (offset < size) {
        const QByteArray chunk = file.read(1 << 20);
        if (chunk.isEmpty())
            return false;
        if (chunk != block.mid(offset % 251, chunk.size()))
            return false;
        offset += chunk.size();
    }
    return true;
}

TEST_F(TDWStraightDownloadOperationTest, AGigabyteStreamsToDiskWithFlatMemory)
{
    constexpr qint64 Size = qint64(1) << 30;
    s_fake->control(QStringLiteral("scenario"),
                    QJsonDocument(QJsonObject{
                        {QStringLiteral("accounts"), QJsonArray{QJsonObject{{QStringLiteral("email"), Alice}, {QStringLiteral("access_token"), Token}}}},
                        {QStringLiteral("lists"),
                         QJsonObject{{QStringLiteral("data"),
                                      QJsonObject{{Alice, QJsonObject{{QStringLiteral("docs"),
                                                                       QJsonObject{{QStringLiteral("files"),
                                                                                    QJsonArray{QJsonObject{{QStringLiteral("id"), QStringLiteral("huge")},
                                                                                                           {QStringLiteral("size"), double(Size)}}}}}}}}}}}}}));
    const TDWManagedObjectID id = seedFile(QStringLiteral("https://www.googleapis.com/drive/v2/files/huge?alt=media"));
    if (!resetPeakRss())
        GTEST_SKIP() << "the peak resident set cannot be reset here";
    const qint64 before = statusKiB("VmRSS:");
    run(Straight, id);
    const qint64 growth = statusKiB("VmHWM:") - before;

    EXPECT_EQ(stored(id)->exportStatus(), TDWDocRev::BackedUp) << stored(id)->lastExportFailureError().toStdString();
    EXPECT_LT(growth, 32 * 1024) << "peak resident set grew by " << growth << " KiB";
    EXPECT_TRUE(holdsPattern(pathOf(id), Size));
    QFile::setPermissions(pathOf(id), QFile::ReadOwner | QFile::WriteOwner);
    QFile::remove(pathOf(id));
}

// A hostile server answers the report, whose listing announced its size and
// digest, with a gzip bomb, nothing, more, less or other bytes: each time the
// item fails with the reason, its old copy stays, nothing partial is left, the
// revision waits for the next run, and memory stays flat. The next clean
// answer backs it up.
TEST_F(TDWStraightDownloadOperationTest, ADownloadUnlikeItsListingFailsTheItemAndKeepsTheOldCopy)
{
    const QByteArray report = "%PDF-1.4 the report";
    const auto md5Of = [](const QByteArray &bytes) { return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex()); };
    const QVariantMap listed{{QStringLiteral("fileSize"), QString::number(report.size())}, {QStringLiteral("md5Checksum"), md5Of(report)}};
    QVariantMap otherDigest = listed;
    otherDigest[QStringLiteral("md5Checksum")] = md5Of("another report");
    const QString path = QStringLiteral("/drive/v2/files/f1");
    const auto answer = [&](const QString &body) { return QJsonObject{{QStringLiteral("path"), path}, {QStringLiteral("body"), body}}; };
    struct Case
    {
        const char *name;
        QJsonObject fault; // none: the real content
        QVariantMap listed;
        QString failure;   // in the recorded failure text
    };
    const QList<Case> cases{
        {"a gzip bomb", {{"path", path}, {"zeros", double(qint64(256) << 20)}, {"gzip", true}}, listed, QStringLiteral("more than %1 bytes").arg(report.size() + TDWStraightDownloadOperation::SizeMargin)},
        {"an empty answer", answer(QString()), listed, QStringLiteral("19 bytes expected, 0 received")},
        {"longer than announced", answer(QStringLiteral("%PDF-1.4 the report and more")), listed, QStringLiteral("19 bytes expected, 28 received")},
        {"shorter than announced", answer(QStringLiteral("%PDF-1.4")), listed, QStringLiteral("19 bytes expected, 8 received")},
        {"another digest", {}, otherDigest, QStringLiteral("MD5 %1 expected, %2 received").arg(otherDigest[QStringLiteral("md5Checksum")].toString(), md5Of(report))},
    };
    const bool measured = resetPeakRss();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.fault.isEmpty())
            s_fake->addFault(c.fault);
        const TDWManagedObjectID id = seedWithOldFile(ReportUrl, c.listed);
        run(Straight, id);
        EXPECT_EQ(fileAt(id), "old copy");
        EXPECT_EQ(strayFiles(id), QStringList());
        const TDWDocRev::Ptr rev = stored(id);
        EXPECT_EQ(rev->exportStatus(), TDWDocRev::DownloadFailed);
        EXPECT_TRUE(rev->lastExportFailureError().contains(c.failure)) << rev->lastExportFailureError().toStdString();
        EXPECT_TRUE(log.last().startsWith(QStringLiteral("ERROR: Unable to download “%1” to “%2”: ").arg(ReportUrl, pathOf(id))))
            << log.last().toStdString();
        TDWError error;
        const auto pending = TDWDocRev::idsNeedingRetrievalByService(QStringLiteral("docs"), stack.store(Alice, QStringLiteral("docs")),
                                                                     TDWDocRev::NoLimit, *stack.moc, &error);
        ASSERT_TRUE(pending) << error.description().toStdString();
        EXPECT_TRUE(pending->contains(id));
    }
    if (measured) {
        const qint64 peak = statusKiB("VmHWM:");
        EXPECT_LT(peak, 200 * 1024) << "peak resident set " << peak << " KiB";
    }

    const TDWManagedObjectID again = seedWithOldFile(ReportUrl, listed);
    run(Straight, again);
    EXPECT_EQ(fileAt(again), report);
    EXPECT_EQ(stored(again)->exportStatus(), TDWDocRev::BackedUp);
}

// The bound and the checks come from the listing: its size with a margin and
// its digest where Drive gave them, a fixed ceiling where it gave no size (a
// Google document's export); what does not read as a size or digest is no check.
TEST_F(TDWStraightDownloadOperationTest, TheListingSetsTheBoundAndTheChecksOfADownload)
{
    const QString md5 = QStringLiteral("0123456789abcdefABCDEF0123456789");
    const struct {
        const char *name;
        QVariantMap listed;
        TDWHttpRequest::DownloadCheck expected;
    } cases[] = {
        {"size and digest", {{"fileSize", "20480"}, {"md5Checksum", md5}}, {20480 + TDWStraightDownloadOperation::SizeMargin, 20480, md5.toLatin1()}},
        {"an empty file", {{"fileSize", "0"}}, {TDWStraightDownloadOperation::SizeMargin, 0, {}}},
        {"an export", {{"exportLinks", QVariantMap{{"application/pdf", "https://docs.google.com/x"}}}}, {TDWStraightDownloadOperation::UnknownSizeLimit, -1, {}}},
        {"no listing", {}, {TDWStraightDownloadOperation::UnknownSizeLimit, -1, {}}},
        {"unreadable", {{"fileSize", "-3"}, {"md5Checksum", "not a digest"}}, {TDWStraightDownloadOperation::UnknownSizeLimit, -1, {}}},
        {"beyond any bound", {{"fileSize", "9223372036854775807"}}, {TDWStraightDownloadOperation::UnknownSizeLimit, -1, {}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const TDWHttpRequest::DownloadCheck check = TDWStraightDownloadOperation::downloadCheckFor(*stored(seedFile(ReportUrl, TDWDocRev::DownloadPending, c.listed)));
        EXPECT_EQ(check.limit, c.expected.limit);
        EXPECT_EQ(check.size, c.expected.size);
        EXPECT_EQ(check.md5, c.expected.md5);
    }
}

// What a status the download did not want means to the backup run: a refused
// sign-in or an overloaded server stops it, a missing item fails only itself.
TEST_F(TDWStraightDownloadOperationTest, AStatusFailsTheDownloadWithTheScopeItMeans)
{
    const QString path = QStringLiteral("/drive/v2/files/big");
    const struct {
        QJsonObject fault;
        TDWError::Scope scope;
    } cases[] = {
        {{{"path", path}, {"status", 401}}, TDWError::Scope::SignIn},
        {{{"path", path}, {"status", 404}}, TDWError::Scope::Item},
        {{{"path", path}, {"status", 410}}, TDWError::Scope::Item},
        {{{"path", path}, {"status", 403}, {"reason", "insufficientPermissions"}}, TDWError::Scope::Request},
        {{{"path", path}, {"status", 403}, {"reason", "userRateLimitExceeded"}}, TDWError::Scope::Connection},
        {{{"path", path}, {"status", 429}}, TDWError::Scope::Connection},
        {{{"path", path}, {"status", 503}}, TDWError::Scope::Connection},
        {{{"path", path}, {"drop", true}}, TDWError::Scope::Connection},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(QJsonDocument(c.fault).toJson(QJsonDocument::Compact).toStdString());
        s_fake->addFault(c.fault);
        const TDWManagedObjectID id = seedWithOldFile(BigUrl);
        const std::shared_ptr<TDWOperation> operation(TDWExportOperationClasses::shared().create(Straight, id, Alice));
        ASSERT_TRUE(operation);
        operation->start();
        operation->waitUntilFinished();
        const auto *download = dynamic_cast<const TDWItemDownload *>(operation.get());
        ASSERT_TRUE(download);
        EXPECT_EQ(download->failureCause().scope(), c.scope);
        EXPECT_EQ(fileAt(id), "old copy");
        EXPECT_EQ(stored(id)->exportStatus(), TDWDocRev::DownloadFailed);
        if (c.fault.contains(QStringLiteral("status"))) {
            EXPECT_EQ(stored(id)->lastExportFailureError(), QStringLiteral("Unexpected status: %1").arg(c.fault[QStringLiteral("status")].toInt()));
        }
    }
}

} // namespace
