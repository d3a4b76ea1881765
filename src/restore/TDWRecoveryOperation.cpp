#include "restore/TDWRecoveryOperation.h"

#include "mail/TDWMailUtils.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWSafeFile.h"
#include "restore/TDWRecoveryError.h"
#include "restore/TDWRecoveryRelay.h"
#include "restore/TDWRestorePaths.h"

TDWRecoveryOperation::TDWRecoveryOperation(std::shared_ptr<TDWRecoveryRelay> relay, RecoveryType type, const QString &destRoot,
                                           const QStringList &targetComponents)
    : m_relay(std::move(relay))
    , m_recoveryType(type)
    , m_destRoot(destRoot)
    , m_targetComponents(targetComponents)
{
}

std::shared_ptr<TDWRecoveryOperation> TDWRecoveryOperation::forFile(std::shared_ptr<TDWRecoveryRelay> relay, const QString &sourcePath,
                                                                    const TDWError &sourceError, const QString &destRoot,
                                                                    const QStringList &targetComponents)
{
    std::shared_ptr<TDWRecoveryOperation> step(new TDWRecoveryOperation(std::move(relay), File, destRoot, targetComponents));
    step->m_sourcePath = sourcePath;
    step->m_sourceError = sourceError;
    return step;
}

std::shared_ptr<TDWRecoveryOperation> TDWRecoveryOperation::forMailbox(std::shared_ptr<TDWRecoveryRelay> relay, const QString &destRoot,
                                                                       const QStringList &targetComponents, const QString &uuid)
{
    std::shared_ptr<TDWRecoveryOperation> step(new TDWRecoveryOperation(std::move(relay), Mailbox, destRoot, targetComponents));
    step->m_uuid = uuid;
    return step;
}

QString TDWRecoveryOperation::destPath() const
{
    return TDWRestorePaths::join(m_destRoot, m_targetComponents);
}

bool TDWRecoveryOperation::copyFile(TDWError *error) const
{
    if (m_sourcePath.isEmpty()) {
        tdwSetError(error, m_sourceError);
        return false;
    }
    if (!TDWRestorePaths::makeFolders(m_destRoot, m_targetComponents.mid(0, m_targetComponents.size() - 1), error))
        return false;
    // Through a temporary file renamed into place, never over anything already
    // there nor through a link at the name; the copy takes the usual mode, so a
    // locked backup file is restored writable.
    return TDWSafeFile::copy(m_sourcePath, destPath(), error, TDWSafeFile::DefaultMode, TDWSafeFile::Target::CreateOnly);
}

bool TDWRecoveryOperation::makeMailbox(TDWError *error) const
{
    if (!TDWRestorePaths::makeFolders(m_destRoot, m_targetComponents, error))
        return false;
    if (!TDWMailUtils::createMailboxDirectoryAtPath(destPath(), m_uuid)) {
        tdwSetError(error, TDWRecoveryError::make(TDWRecoveryError::MailboxNotCreated,
                                                  QStringLiteral("Unable to create the mailbox “%1”.").arg(destPath())));
        return false;
    }
    return true;
}

void TDWRecoveryOperation::main()
{
    if (isCancelled())
        return;
    TDWError error;
    const bool done = m_recoveryType == File ? copyFile(&error) : makeMailbox(&error);
    if (isCancelled())
        return;
    if (!done) {
        tdwLog(QStringLiteral("ERROR: Unable to recover -- sourcePath: %1, destPath: %2 -- %3").arg(m_sourcePath, destPath(), error.description()));
        m_relay->recoveryFailure(error);
        return;
    }
    if (m_recoveryType == Mailbox)
        m_relay->dirRecoverySuccessful();
    else
        m_relay->docRecoverySuccessful(TDWRestorePaths::fileSize(m_sourcePath));
}
