#include "restore/TDWRecoveryUserOperation.h"

#include "platform/foundation/TDWOperationQueue.h"
#include "restore/TDWRecoveryProgress.h"
#include "restore/TDWRecoveryRelay.h"
#include "restore/TDWRecoverySchedulingOperation.h"

#include <QDir>
#include <QFileInfo>

namespace {

// The destination's folder resolved once, before names are joined to it, so
// that a link there is the user's choice and none below it is followed.
QString resolvedDestination(const QString &dest, bool destIsFolder)
{
    const QFileInfo info(QDir::cleanPath(dest));
    if (destIsFolder) {
        const QString canonical = info.canonicalFilePath();
        return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
    }
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? info.absoluteFilePath() : QDir(folder).filePath(info.fileName());
}

} // namespace

TDWRecoveryUserOperation::TDWRecoveryUserOperation(QList<TDWQueuedRecovery> queuedRecoveries, const QString &dest, bool multipleTopLevel,
                                                   const QString &title, bool asMailbox, const QString &rootUUID)
    : m_queuedRecoveries(std::move(queuedRecoveries))
    , m_dest(resolvedDestination(dest, multipleTopLevel || asMailbox))
    , m_multipleTopLevel(multipleTopLevel)
    , m_title(title)
    , m_asMailbox(asMailbox)
    , m_rootUUID(rootUUID)
    , m_opQueue(std::make_unique<TDWOperationQueue>())
{
    m_opQueue->setMaxConcurrentOperationCount(1);
    // Deleted on the main thread, whichever thread lets it go last.
    std::shared_ptr<TDWRecoveryProgress> progress(new TDWRecoveryProgress(title, multipleTopLevel, asMailbox),
                                                  [](TDWRecoveryProgress *p) { p->deleteLater(); });
    m_relay = std::make_shared<TDWRecoveryRelay>(m_opQueue.get(), std::move(progress));
}

TDWRecoveryUserOperation::~TDWRecoveryUserOperation()
{
    // An operation still holding the relay must not reach the queue once it is gone.
    m_relay->detachQueue();
}

const std::shared_ptr<TDWRecoveryProgress> &TDWRecoveryUserOperation::progress() const
{
    return m_relay->progress();
}

void TDWRecoveryUserOperation::cancel()
{
    TDWOperation::cancel();
    m_relay->recoveryCancelled();
}

void TDWRecoveryUserOperation::main()
{
    auto scheduling = std::make_shared<TDWRecoverySchedulingOperation>(m_relay, m_queuedRecoveries, m_dest, m_multipleTopLevel, m_asMailbox,
                                                                       m_rootUUID);
    if (m_relay->addOperation(scheduling))
        m_opQueue->waitUntilAllOperationsAreFinished();
}
