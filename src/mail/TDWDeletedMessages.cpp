#include "mail/TDWDeletedMessages.h"

#include "common/TDWFileMgr.h"
#include "common/TDWFileUtils.h"
#include "common/TDWServiceIds.h"
#include "common/TDWSettingsKeys.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWBackupSettingHistory.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWEntityFetch.h"
#include "dataobjects/TDWMailItem.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWFileLock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWUserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const QString MessageDocType = QStringLiteral("message");
constexpr qint64 DefaultKeepingSeconds = 7776000;

} // namespace

TDWDeletedMessages::TDWDeletedMessages(TDWAllMailSyncContext context)
    : m_context(std::move(context))
{
}

std::optional<qint64> TDWDeletedMessages::keepingSeconds()
{
    const qint32 seconds = qint32(TDWUserDefaults::standard()->integerForKey(TDWSettingsKeys::DeleteReferenceDeltaSeconds));
    if (seconds == -1)
        return std::nullopt;
    return seconds == 0 ? DefaultKeepingSeconds : seconds;
}

bool TDWDeletedMessages::virtuallyDeleteOldWithSequenceGreaterThan(qint64 sequence)
{
    const auto moc = TDWMasterStore::shared().newMoc();
    if (!moc->existingObjectWithID(m_context.backupIterationObjectID, nullptr)) {
        tdwLog(QStringLiteral("ERROR: virtuallyDeleteOldWithSequenceGreaterThan unable to find backup iteration."));
        return false;
    }
    const QDateTime date = m_context.backupIterationDate;
    TDWError error;
    // The items past the number first, through its index: the predicate alone reads every revision of the store.
    const auto vanished =
        TDWEntityFetch(*moc, QStringLiteral("DocRev"))
            .whereSql(QStringLiteral("t.\"doc\" IN (SELECT pk FROM \"Doc\" WHERE \"allMailSeq\" > ?)"), {qint32(sequence)})
            .where(QStringLiteral("doc.deleted = 0 and doc.docType = %@ and doc.allMailSeq > %@ and latest = 1 and lastSeenDate != %@"),
                   {MessageDocType, qint32(sequence), date})
            .in(m_context.store)
            .objects<TDWDocRev>(&error);
    if (!vanished) {
        tdwLog(QStringLiteral("ERROR: virtuallyDeleteOldWithSequenceGreaterThan could not find docRev's: %1").arg(error.description()));
        return false;
    }
    for (const TDWDocRev::Ptr &revision : *vanished) {
        revision->setObsoletedDate(date);
        const TDWDoc::Ptr doc = revision->doc();
        doc->setDeleted(true);
        doc->setDeletedDate(date);
    }
    const bool saved = moc->save(&error);
    if (!saved)
        tdwLog(QStringLiteral("ERROR: Unable to save in virtuallyDeleteOldWithSequenceGreaterThan: %1").arg(error.description()));
    moc->reset();
    return saved;
}

void TDWDeletedMessages::purgeOldDeletedBackups()
{
    const auto moc = TDWMasterStore::shared().newMoc();
    if (!TDWAccount::byUsername(m_context.accountUsername, *moc, nullptr)) {
        tdwLog(QString::fromUtf8("ERROR: Unable to retrieve account for “%1”").arg(m_context.accountUsername));
        return;
    }
    const std::optional<qint64> keeping = keepingSeconds();
    if (!keeping)
        return;
    const QDateTime cutoff = TDWClock::now().addSecs(-*keeping);
    TDWError error;
    const auto expired = TDWDocRev::withPredicate(
        TDWPredicate::parse(QStringLiteral("doc.docType = %@ and (doc.deleted = 1 or latest = 0) and (obsoletedDate < %@)"), {MessageDocType, cutoff}),
        {m_context.store}, *moc, &error);
    if (!expired) {
        tdwLog(QStringLiteral("ERROR: Unable to retrieve list of old docrev's: %1").arg(error.description()));
        return;
    }
    QStringList files;
    for (const TDWDocRev::Ptr &revision : *expired) {
        const TDWDoc::Ptr doc = revision->doc();
        if (!doc || doc->docType() != MessageDocType)
            continue;
        if (revision->exportStatus() == TDWDocRev::BackedUp)
            files.append(revision->filePath());
        moc->deleteObject(revision);
        if (TDWMetadataObject::allDeleted(doc->docRevs())) {
            for (const TDWMailItem::Ptr &link : doc->mailItems())
                moc->deleteObject(link);
            moc->deleteObject(doc);
        }
    }
    for (const auto &history : TDWBackupSettingHistory::obsoletedByStore(m_context.store, cutoff, *moc).value_or(QList<TDWBackupSettingHistory::Ptr>()))
        moc->deleteObject(history);
    if (!moc->save(&error)) {
        tdwLog(QStringLiteral("ERROR: Unable to delete old messages: %1, %2").arg(error.localizedDescription(), error.description()));
        moc->rollback();
        moc->reset();
        return;
    }
    // The store no longer names these files: only now may they go.
    for (const QString &path : std::as_const(files))
        removeFile(path);
    moc->reset();
}

void TDWDeletedMessages::removeFile(const QString &relativePath) const
{
    if (relativePath.isEmpty())
        return;
    const QString fullPath = QDir(TDWFileMgr::backedUpItemsPathForService(TDWServiceIds::Mail)).filePath(relativePath);
    // A locked file must be unlocked to go; a failure shows in the removal.
    TDWFileLock::setLocked(fullPath, false);
    if (!QFile::remove(fullPath)) {
        tdwLog(QStringLiteral("ERROR: Unable to delete file at: %1").arg(fullPath));
        return;
    }
    const QString folder = QFileInfo(fullPath).absolutePath();
    if (TDWFileUtils::emptyDir(folder))
        QDir().rmdir(folder);
}
