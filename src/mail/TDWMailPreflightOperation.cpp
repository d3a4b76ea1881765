#include "mail/TDWMailPreflightOperation.h"

#include "accounts/TDWAccountAccessError.h"
#include "common/TDWServiceIds.h"
#include "common/TDWServiceTable.h"
#include "mail/TDWImapConnectionMgr.h"
#include "mail/TDWMailUtils.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/imap/TDWImapSession.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringDecoder>
#include <QThread>
#include <QTimer>

#include <mutex>

using namespace std::chrono_literals;

namespace {

const QString DefaultMailShieldConfigurationPath = QStringLiteral("/Library/Application Support/Avast/config/com.avast.proxy.conf");

std::mutex g_mailShieldPathMutex;
QString g_mailShieldPath;

bool onMainThread()
{
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

template <class F>
void onMainThreadLater(F function)
{
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(function), Qt::QueuedConnection);
}

TDWError failure(const QString &text)
{
    return TDWAccountAccessError::make(TDWAccountAccessError::ServiceFailed, text);
}

// The outcome of a check that ended before it could tell.
TDWError cancelled()
{
    return failure(QString()).withScope(TDWError::Scope::Cancelled);
}

} // namespace

// The check's state. It outlives the operation object for as long as replies
// or timers on the main thread may still refer to it; they reach the
// operation only through `owner`, which the operation clears when it goes.
struct TDWMailPreflightOperation::Check : std::enable_shared_from_this<Check>
{
    QString username;
    QString accessToken;
    std::chrono::milliseconds timeout = TDWClock::duration(60s);
    QList<qint64> folderSizeLimits = DefaultFolderSizeLimits;

    mutable std::mutex resultsMutex;
    bool concluded = false;
    // Null once the check passed.
    TDWError outcome = cancelled();
    TDWFoldersWithFlags foldersWithFlags;
    qint64 numMessages = 0;

    // Held while finishing the owner, so the owner cannot go away meanwhile;
    // recursive because finishing may let go of the owner's last reference
    // in this very thread.
    std::recursive_mutex ownerMutex;
    TDWMailPreflightOperation *owner = nullptr;

    // Main thread only.
    std::unique_ptr<QTimer> timer;
    std::shared_ptr<TDWImapSession> session;
    std::shared_ptr<TDWImapOperation<QList<TDWImapFolder>>> foldersRequest;
    std::shared_ptr<TDWImapOperation<TDWImapFolderInfo>> folderInfoRequest;

    bool isConcluded() const
    {
        std::lock_guard lock(resultsMutex);
        return concluded;
    }

    // False when the check had already ended; otherwise records the outcome.
    bool markConcluded(const TDWError &error)
    {
        std::lock_guard lock(resultsMutex);
        if (concluded)
            return false;
        concluded = true;
        outcome = error;
        return true;
    }

    void begin();
    void handleFolders(const TDWError &error, const QList<TDWImapFolder> &folders);
    void handleFolderInfo(const TDWError &error, const TDWImapFolderInfo &info);
    // A null error: the check passed.
    void conclude(const TDWError &error);
    void stopWork();
    void finishOwner();
};

void TDWMailPreflightOperation::Check::begin()
{
    if (isConcluded())
        return;
    if (avastMailShieldRunning()) {
        conclude(failure(tr("It looks like avast! Mail Shield is running. Tidewell’s Gmail backup is not compatible with avast! Mail "
                            "Shield. Please disable Mail Shield and try again.")));
        return;
    }

    std::weak_ptr<Check> weak = shared_from_this();
    timer = std::make_unique<QTimer>();
    timer->setSingleShot(true);
    timer->setInterval(timeout);
    QObject::connect(timer.get(), &QTimer::timeout, [weak] {
        if (auto check = weak.lock())
            check->conclude(failure(tr("Encountered timeout when validating IMAP access.")));
    });
    timer->start();

    session = TDWImapConnectionMgr::imapSessionForUsername(username, accessToken);
    foldersRequest = session->fetchAllFoldersOperation();
    foldersRequest->start([weak](const TDWError &error, const QList<TDWImapFolder> &folders) {
        if (auto check = weak.lock())
            check->handleFolders(error, folders);
    });
}

void TDWMailPreflightOperation::Check::handleFolders(const TDWError &error, const QList<TDWImapFolder> &folders)
{
    foldersRequest.reset();
    if (!error.isNull()) {
        tdwLog(QStringLiteral("ERROR: TDWMailPreflightOperation encountered error: %1").arg(error.localizedDescription()));
        conclude(failure(tr("Unable to connect to Google Mail via IMAP.")).withScope(error.scope()));
        return;
    }

    const TDWFoldersWithFlags table = TDWMailUtils::foldersWithFlagsFrom(folders);
    {
        std::lock_guard lock(resultsMutex);
        foldersWithFlags = table;
    }
    QString allMailPath;
    for (const TDWSpecialMailLabel &label : TDWServiceTable::shared().requiredMailLabels()) {
        auto folder = std::find_if(table.cbegin(), table.cend(), [&](const QSet<QString> &flags) { return flags.contains(label.flag); });
        if (folder == table.cend()) {
            conclude(failure(tr("Tidewell was unable to find the %1 folder via IMAP.").arg(label.label)));
            return;
        }
        if (label.flag == QLatin1String("AllMail"))
            allMailPath = folder.key();
    }
    // A table that does not require All Mail leaves nothing to measure.
    if (allMailPath.isEmpty()) {
        conclude({});
        return;
    }

    std::weak_ptr<Check> weak = shared_from_this();
    folderInfoRequest = session->folderInfoOperation(allMailPath);
    folderInfoRequest->start([weak](const TDWError &error, const TDWImapFolderInfo &info) {
        if (auto check = weak.lock())
            check->handleFolderInfo(error, info);
    });
}

void TDWMailPreflightOperation::Check::handleFolderInfo(const TDWError &error, const TDWImapFolderInfo &info)
{
    folderInfoRequest.reset();
    // Without an answer the size cannot tell anything, and that alone fails nothing.
    if (error.isNull() && info.messageCount >= 0) {
        {
            std::lock_guard lock(resultsMutex);
            numMessages = info.messageCount;
        }
        // A folder holding exactly a limit's worth is almost surely cut off there.
        if (folderSizeLimits.contains(info.messageCount)) {
            conclude(failure(tr("It looks like IMAP folder size limits are set.")));
            return;
        }
    }
    conclude({});
}

void TDWMailPreflightOperation::Check::conclude(const TDWError &error)
{
    if (!markConcluded(error))
        return;
    stopWork();
    finishOwner();
}

void TDWMailPreflightOperation::Check::stopWork()
{
    timer.reset();
    if (foldersRequest)
        foldersRequest->cancel();
    if (folderInfoRequest)
        folderInfoRequest->cancel();
    foldersRequest.reset();
    folderInfoRequest.reset();
    session.reset();
}

void TDWMailPreflightOperation::Check::finishOwner()
{
    std::lock_guard lock(ownerMutex);
    if (owner)
        owner->finish();
}

TDWMailPreflightOperation::TDWMailPreflightOperation(const QString &username, const QString &accessToken, const QString &service)
    : m_check(std::make_shared<Check>())
{
    Q_UNUSED(service);
    m_check->username = username;
    m_check->accessToken = accessToken;
    m_check->owner = this;
}

TDWMailPreflightOperation::~TDWMailPreflightOperation()
{
    {
        std::lock_guard lock(m_check->ownerMutex);
        m_check->owner = nullptr;
    }
    // Work still under way has nobody left to report to.
    if (m_check->markConcluded(cancelled()))
        onMainThreadLater([check = m_check] { check->stopWork(); });
}

bool TDWMailPreflightOperation::isConcurrent() const
{
    return true;
}

void TDWMailPreflightOperation::main()
{
    if (!QCoreApplication::instance()) {
        tdwLog(QStringLiteral("ERROR: TDWMailPreflightOperation encountered error: no main thread to run on"));
        m_check->conclude(failure(tr("Unable to connect to Google Mail via IMAP.")));
        return;
    }
    // Replies and the time-out arrive on the main thread; the work starts there too.
    if (onMainThread())
        m_check->begin();
    else
        onMainThreadLater([check = m_check] { check->begin(); });
}

void TDWMailPreflightOperation::run()
{
    start();
    waitUntilFinished();
}

void TDWMailPreflightOperation::cancel()
{
    TDWOperation::cancel();
    // Finishing here, not on the main thread, lets a main thread that cancels
    // and then waits for the end go on.
    if (m_check->markConcluded(cancelled())) {
        onMainThreadLater([check = m_check] { check->stopWork(); });
        finish();
    }
}

TDWError TDWMailPreflightOperation::error() const
{
    std::lock_guard lock(m_check->resultsMutex);
    return m_check->outcome;
}

QString TDWMailPreflightOperation::username() const
{
    return m_check->username;
}

QString TDWMailPreflightOperation::service() const
{
    return TDWServiceIds::Mail;
}

QString TDWMailPreflightOperation::accessToken() const
{
    return m_check->accessToken;
}

TDWFoldersWithFlags TDWMailPreflightOperation::foldersWithFlags() const
{
    std::lock_guard lock(m_check->resultsMutex);
    return m_check->foldersWithFlags;
}

qint64 TDWMailPreflightOperation::numMessages() const
{
    std::lock_guard lock(m_check->resultsMutex);
    return m_check->numMessages;
}

void TDWMailPreflightOperation::setTimeoutInterval(std::chrono::milliseconds interval)
{
    m_check->timeout = interval;
}

void TDWMailPreflightOperation::setFolderSizeLimits(const QList<qint64> &limits)
{
    m_check->folderSizeLimits = limits;
}

bool TDWMailPreflightOperation::avastMailShieldRunning()
{
    QString path;
    {
        std::lock_guard lock(g_mailShieldPathMutex);
        path = g_mailShieldPath.isEmpty() ? DefaultMailShieldConfigurationPath : g_mailShieldPath;
    }
    QFile file(path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly))
        return false;
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(file.readAll());
    if (decoder.hasError())
        return false;
    // The proxy's IMAP-over-TLS section switched off leaves IMAP alone.
    return !text.contains(QLatin1String("[imaps]\nENABLED=0"));
}

void TDWMailPreflightOperation::setMailShieldConfigurationPath(const QString &path)
{
    std::lock_guard lock(g_mailShieldPathMutex);
    g_mailShieldPath = path;
}
