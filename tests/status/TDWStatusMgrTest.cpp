#include "DataObjectsTestSupport.h"
#include "PinnedZoneAndLocale.h"
#include "ScriptedKeyring.h"
#include "TestSupport.h"

#include "accounts/TDWCredential.h"
#include "accounts/TDWKeychainMgr.h"
#include "common/TDWServiceTable.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWAccountServiceSetting.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/keychain/TDWFileKeyring.h"
#include "platform/keychain/TDWKeyring.h"
#include "status/TDWStatusMgr.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <functional>

namespace {

const QString Docs = QStringLiteral("docs");
const QString Mail = QStringLiteral("mail");
const QString Reader = QStringLiteral("reader");

// A master store with one finished backup iteration (the latest), and
// accounts that are, unless a test changes them, backed up: signed in, their
// lists retrieved in that iteration, their counters fresh and at zero.
class TDWStatusMgrTest : public ::testing::Test
{
public:
    void SetUp() override
    {
        keyring = std::make_shared<ScriptedKeyring>(std::make_shared<TDWFileKeyring>(tdwtest::freshDir(QStringLiteral("keyring"))));
        TDWKeyring::setBackend(keyring);
        auto iteration = TDWBackupIteration::newWithMoc(*stack.moc);
        iteration->setIterationStartTime(dotest::at(1));
        ASSERT_TRUE(stack.moc->save(nullptr));
        latestId = iteration->objectID();
    }

    void TearDown() override
    {
        for (const char *key : {"backupdirismissing", "last_cancelled"})
            TDWUserDefaults::standard()->removeObjectForKey(QString::fromLatin1(key));
        TDWKeyring::setBackend(nullptr);
    }

    // A user name of this test alone: the keychain manager caches credentials for the whole run.
    static QString user(const QString &tag)
    {
        const auto *test = ::testing::UnitTest::GetInstance()->current_test_info();
        QString name = QString::fromUtf8(test->name()).toLower();
        name.replace(QRegularExpression(QStringLiteral("[^a-z0-9]")), QStringLiteral("-"));
        return QStringLiteral("%1.%2@example.com").arg(name, tag);
    }

    TDWAccount::Ptr backedUpAccount(const QString &tag, const QStringList &services = {Docs, Mail}, bool signedIn = true)
    {
        const QString username = user(tag);
        stack.addAccount(username, services);
        TDWAccount::Ptr account = TDWAccount::byUsername(username, *stack.moc, nullptr);
        const auto latest = std::static_pointer_cast<TDWBackupIteration>(stack.moc->existingObjectWithID(latestId, nullptr));
        for (const QString &service : services) {
            account->setLastListIteration(latest, service);
            account->settingForService(service)->setDownloadCountsUpToDate(true);
        }
        EXPECT_TRUE(stack.moc->save(nullptr));
        if (signedIn) {
            auto credential = std::make_shared<TDWCredential>();
            credential->setRefreshToken(QStringLiteral("refresh"));
            EXPECT_TRUE(TDWKeychainMgr::keychainMgr()->setCredential(credential, username, true));
        }
        return account;
    }

    void setCounts(const TDWAccount::Ptr &account, const QString &service, qint64 pending, qint64 failed, qint64 missing, qint64 done = 0)
    {
        auto setting = account->settingForService(service);
        setting->setNumDownloadsPending(pending);
        setting->setNumDownloadsFailed(failed);
        setting->setNumDownloadsMissing(missing);
        setting->setNumDownloadsDone(done);
        ASSERT_TRUE(stack.moc->save(nullptr));
    }

    qint32 status(const TDWAccount::Ptr &account, const QString &service = Docs) { return statusMgr.statusForAccount(account, service, *stack.moc); }

    dotest::MetadataStack stack;
    std::shared_ptr<ScriptedKeyring> keyring;
    TDWManagedObjectID latestId;
    TDWStatusMgr statusMgr;
};

// One case of the status codes: from a backed-up account, what changes, and the code.
struct StatusCase
{
    const char *name;
    std::function<void(TDWStatusMgrTest &, const TDWAccount::Ptr &)> arrange;
    qint32 expected;
    QString service = Docs;
    bool signedIn = true;
};

void PrintTo(const StatusCase &example, std::ostream *out)
{
    *out << example.name;
}

class TDWStatusCodeTest : public TDWStatusMgrTest, public ::testing::WithParamInterface<StatusCase>
{
};

// The first test that holds gives the code, so a case sets later conditions
// too where an earlier one must win over them.
TEST_P(TDWStatusCodeTest, StatusOfTheAccountService)
{
    const StatusCase &example = GetParam();
    const TDWAccount::Ptr account = backedUpAccount(QStringLiteral("account"), {Docs, Mail}, example.signedIn);
    example.arrange(*this, account);
    EXPECT_EQ(status(account, example.service), example.expected);
}

using Arrange = std::function<void(TDWStatusMgrTest &, const TDWAccount::Ptr &)>;

Arrange then(const Arrange &first, const Arrange &second)
{
    return [first, second](TDWStatusMgrTest &t, const TDWAccount::Ptr &a) {
        first(t, a);
        second(t, a);
    };
}

Arrange counts(const QString &service, qint64 pending, qint64 failed, qint64 missing, qint64 done = 0)
{
    return [=](TDWStatusMgrTest &t, const TDWAccount::Ptr &a) { t.setCounts(a, service, pending, failed, missing, done); };
}

Arrange saved(const std::function<void(const TDWAccount::Ptr &)> &change)
{
    return [change](TDWStatusMgrTest &t, const TDWAccount::Ptr &a) {
        change(a);
        ASSERT_TRUE(t.stack.moc->save(nullptr));
    };
}

Arrange setDefault(const char *key)
{
    return [key](TDWStatusMgrTest &, const TDWAccount::Ptr &) { TDWUserDefaults::standard()->setBool(true, QString::fromLatin1(key)); };
}

const Arrange nothing = [](TDWStatusMgrTest &, const TDWAccount::Ptr &) {};
const Arrange stale = saved([](const TDWAccount::Ptr &a) { a->settingForService(Docs)->setDownloadCountsUpToDate(false); });
const Arrange noList = saved([](const TDWAccount::Ptr &a) { a->settingForService(Docs)->setLastListIteration(nullptr); });
const Arrange disabled = saved([](const TDWAccount::Ptr &a) { a->setEnabled(false, Docs); });
const Arrange inProgress = [](TDWStatusMgrTest &t, const TDWAccount::Ptr &) { t.statusMgr.setBackupInProgressCheck([] { return true; }); };
const Arrange dirMissing = setDefault("backupdirismissing");
const Arrange cancelled = setDefault("last_cancelled");
const Arrange mailAllQueuedDone = saved([](const TDWAccount::Ptr &a) { a->settingForService(Mail)->setAllQueuedExportsBackedUpLast(true); });
const Arrange refused = [](TDWStatusMgrTest &, const TDWAccount::Ptr &a) {
    TDWKeychainMgr::keychainMgr()->credentialForUsername(a->username())->setRefreshTokenInvalid(true);
};
const Arrange newerIteration = [](TDWStatusMgrTest &t, const TDWAccount::Ptr &) {
    TDWBackupIteration::newWithMoc(*t.stack.moc)->setIterationStartTime(dotest::at(2));
    ASSERT_TRUE(t.stack.moc->save(nullptr));
};

INSTANTIATE_TEST_SUITE_P(
    Codes, TDWStatusCodeTest,
    ::testing::Values(StatusCase{"backed up", nothing, TDWStatusMgr::BackedUp},
                      StatusCase{"some done, nothing left", counts(Docs, 0, 0, 0, 40), TDWStatusMgr::BackedUp},
                      StatusCase{"disabled beats everything", then(disabled, then(dirMissing, inProgress)), TDWStatusMgr::ServiceDisabled, Docs, false},
                      StatusCase{"backup folder missing beats login", dirMissing, TDWStatusMgr::BackupDirMissing, Docs, false},
                      StatusCase{"no credential", nothing, TDWStatusMgr::LoginRequired, Docs, false},
                      StatusCase{"refresh token refused", refused, TDWStatusMgr::LoginRequired},
                      StatusCase{"login beats a running backup", inProgress, TDWStatusMgr::LoginRequired, Docs, false},
                      StatusCase{"running backup beats a failed list", then(inProgress, noList), TDWStatusMgr::BackupInProgress},
                      StatusCase{"list never retrieved", noList, TDWStatusMgr::ListRetrievalFailed},
                      StatusCase{"list never retrieved, backup cancelled", then(noList, cancelled), TDWStatusMgr::ListRetrievalCancelled},
                      StatusCase{"list retrieved in an older iteration", newerIteration, TDWStatusMgr::ListRetrievalFailed},
                      StatusCase{"failed list beats stale counters", then(noList, stale), TDWStatusMgr::ListRetrievalFailed},
                      StatusCase{"stale counters", stale, TDWStatusMgr::DownloadCountsStale},
                      StatusCase{"stale counters beat items left", then(counts(Docs, 3, 0, 0), stale), TDWStatusMgr::DownloadCountsStale},
                      StatusCase{"pending", counts(Docs, 3, 0, 0, 5), TDWStatusMgr::ItemsNotBackedUp},
                      StatusCase{"failed", counts(Docs, 0, 1, 0), TDWStatusMgr::ItemsNotBackedUp},
                      StatusCase{"missing", counts(Docs, 0, 0, 2), TDWStatusMgr::ItemsNotBackedUp},
                      StatusCase{"mail pending after a run that fetched all it queued", then(mailAllQueuedDone, counts(Mail, 9, 0, 0)),
                                 TDWStatusMgr::MailAwaitingQuota, Mail},
                      StatusCase{"mail pending and failed", then(mailAllQueuedDone, counts(Mail, 9, 1, 0)), TDWStatusMgr::ItemsNotBackedUp, Mail},
                      StatusCase{"mail pending after a run that left some it queued", counts(Mail, 9, 0, 0), TDWStatusMgr::ItemsNotBackedUp, Mail},
                      StatusCase{"mail backed up with the flag", mailAllQueuedDone, TDWStatusMgr::BackedUp, Mail}));

// A keyring that cannot answer says nothing about the account: no sign-in is asked for.
TEST_F(TDWStatusMgrTest, AnUnavailableKeyringIsNotALoginRequired)
{
    const TDWAccount::Ptr account = backedUpAccount(QStringLiteral("locked"), {Docs}, false);
    keyring->unavailable = true;
    EXPECT_EQ(status(account), TDWStatusMgr::BackedUp);
    keyring->unavailable = false;
    EXPECT_EQ(status(account), TDWStatusMgr::LoginRequired);
}

// Counters recounted by another context are read, not the caller's stale copy.
TEST_F(TDWStatusMgrTest, ReadsCountersSavedByAnotherContext)
{
    const TDWAccount::Ptr account = backedUpAccount(QStringLiteral("recounted"), {Docs});
    EXPECT_EQ(status(account), TDWStatusMgr::BackedUp);
    auto other = TDWMasterStore::shared().newMoc();
    TDWAccountServiceSetting::byAccountUsername(account->username(), Docs, *other)->setNumDownloadsFailed(2);
    ASSERT_TRUE(other->save(nullptr));
    EXPECT_EQ(status(account), TDWStatusMgr::ItemsNotBackedUp);
}

TEST_F(TDWStatusMgrTest, GlobalStatusOverEveryEnabledAccountService)
{
    EXPECT_EQ(statusMgr.globalStatus(), TDWStatusMgr::NothingEnabled);
    stack.addAccount(user(QStringLiteral("idle")), {});
    EXPECT_EQ(statusMgr.globalStatus(), TDWStatusMgr::NothingEnabled);

    const TDWAccount::Ptr first = backedUpAccount(QStringLiteral("first"), {Docs, Mail});
    const TDWAccount::Ptr second = backedUpAccount(QStringLiteral("second"), {Docs});
    EXPECT_EQ(statusMgr.globalStatus(), TDWStatusMgr::AllBackedUp);

    // A service the table marks disabled does not count, whatever its state.
    first->setEnabled(true, Reader);
    ASSERT_TRUE(stack.moc->save(nullptr));
    EXPECT_EQ(status(first, Reader), TDWStatusMgr::ListRetrievalFailed);
    EXPECT_EQ(statusMgr.globalStatus(), TDWStatusMgr::AllBackedUp);

    first->settingForService(Mail)->setAllQueuedExportsBackedUpLast(true);
    setCounts(first, Mail, 4, 0, 0);
    EXPECT_EQ(statusMgr.globalStatus(), TDWStatusMgr::BackedUpMailAwaitingQuota);

    setCounts(second, Docs, 0, 1, 0);
    EXPECT_EQ(statusMgr.globalStatus(), TDWStatusMgr::NeedsAttention);
}

TEST_F(TDWStatusMgrTest, LabelsOfTheStatusCodes)
{
    PinnedZoneAndLocale pinned("UTC", "en_US");
    const TDWAccount::Ptr account = backedUpAccount(QStringLiteral("labels"), {Docs});
    const TDWServiceConfig docs = TDWServiceTable::shared().serviceConfig(Docs);
    ASSERT_EQ(docs.itemName, QStringLiteral("Google Drive file"));
    const QList<std::pair<qint32, QString>> fixed{
        {TDWStatusMgr::BackupDirMissing, QStringLiteral("Backup directory not found.")},
        {TDWStatusMgr::ServiceDisabled, QStringLiteral("Disabled.")},
        {TDWStatusMgr::LoginRequired, QStringLiteral("Login required.")},
        {TDWStatusMgr::BackupInProgress, QStringLiteral("Backup in progress\u2026")},
        {TDWStatusMgr::BackedUp, QStringLiteral("Backed up.")},
        {TDWStatusMgr::ListRetrievalCancelled, QStringLiteral("Last backup cancelled before Google Drive file list retrieval.")},
        {TDWStatusMgr::ListRetrievalFailed, QStringLiteral("Last Google Drive file list retrieval failed.")},
        {TDWStatusMgr::DownloadCountsStale, QStringLiteral("Last backup did not complete")},
    };
    for (const auto &[code, text] : fixed)
        EXPECT_EQ(statusMgr.labelForStatus(code, account, docs), text) << code;

    struct Counted
    {
        qint64 pending, failed, missing, done;
        QString text;
    };
    const QList<Counted> counted{
        {1, 0, 0, 0, QStringLiteral("1 Google Drive file is not yet backed up.")},
        {0, 0, 1, 500, QStringLiteral("1 Google Drive file is not yet backed up.")},
        {2, 1, 0, 1234, QStringLiteral("3 of 1,237 Google Drive files are not yet backed up.")},
        {0, 0, 0, 7, QStringLiteral("0 of 7 Google Drive files are not yet backed up.")},
    };
    for (const Counted &example : counted) {
        setCounts(account, Docs, example.pending, example.failed, example.missing, example.done);
        for (qint32 code : {qint32(TDWStatusMgr::ItemsNotBackedUp), qint32(TDWStatusMgr::MailAwaitingQuota), qint32(0)})
            EXPECT_EQ(statusMgr.labelForStatus(code, account, docs), example.text) << code;
    }
}

} // namespace
