#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/foundation/TDWOperation.h"

#include <QString>
#include <QStringList>

#include <memory>

class TDWRecoveryRelay;

// One step of a restore request: copies one backed-up file to its target, or
// makes one mailbox folder, and reports the outcome through the request's
// relay. The target is the destination folder and the safe components below
// it; the folders on the way are checked again when the step runs, so a link
// put there meanwhile is refused rather than followed.
class TDWRecoveryOperation : public TDWOperation
{
    Q_OBJECT

public:
    enum RecoveryType : qint32 { File = 0, Mailbox = 2 };

    // `sourcePath` is the checked backed-up file, or empty with `sourceError`
    // saying why there is none: the step then fails when it runs.
    static std::shared_ptr<TDWRecoveryOperation> forFile(std::shared_ptr<TDWRecoveryRelay> relay, const QString &sourcePath,
                                                         const TDWError &sourceError, const QString &destRoot,
                                                         const QStringList &targetComponents);
    static std::shared_ptr<TDWRecoveryOperation> forMailbox(std::shared_ptr<TDWRecoveryRelay> relay, const QString &destRoot,
                                                            const QStringList &targetComponents, const QString &uuid);

    RecoveryType recoveryType() const { return m_recoveryType; }
    const QString &sourcePath() const { return m_sourcePath; }
    QString destPath() const;
    const QString &uuid() const { return m_uuid; }

protected:
    void main() override;

private:
    TDWRecoveryOperation(std::shared_ptr<TDWRecoveryRelay> relay, RecoveryType type, const QString &destRoot,
                         const QStringList &targetComponents);
    bool copyFile(TDWError *error) const;
    bool makeMailbox(TDWError *error) const;

    const std::shared_ptr<TDWRecoveryRelay> m_relay;
    const RecoveryType m_recoveryType;
    const QString m_destRoot;
    const QStringList m_targetComponents;
    QString m_sourcePath;
    TDWError m_sourceError;
    QString m_uuid;
};
