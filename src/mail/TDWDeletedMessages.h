#pragma once

#include "mail/TDWAllMailSyncContext.h"

#include <QDateTime>

#include <optional>

// The end of a pass over All Mail: messages the pass did not list again are
// marked deleted (kept, dated), and revisions replaced or deleted longer ago
// than the keeping time ("DeleteReferenceDeltaSeconds") leave the store and
// the disk.
class TDWDeletedMessages
{
public:
    explicit TDWDeletedMessages(TDWAllMailSyncContext context);

    // Marks deleted every live message past the sequence number whose latest
    // revision this iteration did not stamp. False on failure (logged).
    bool virtuallyDeleteOldWithSequenceGreaterThan(qint64 sequence);

    // Removes expired revisions (their files after the store has let go of
    // them), items left without revisions, with their label links, and
    // expired setting history. Failures are logged only.
    void purgeOldDeletedBackups();

    // How long replaced or deleted revisions are kept; none when the purge
    // is switched off (-1). 0 or unset is 90 days.
    static std::optional<qint64> keepingSeconds();

private:
    void removeFile(const QString &relativePath) const;

    TDWAllMailSyncContext m_context;
};
