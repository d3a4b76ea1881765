#include "restore/TDWRecoverySchedulingOperation.h"

#include "common/TDWFileMgr.h"
#include "common/TDWFileUtils.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWMasterStore.h"
#include "mail/TDWMailUtils.h"
#include "platform/store/TDWManagedObjectContext.h"
#include "restore/TDWRecoveryOperation.h"
#include "restore/TDWRecoveryRelay.h"
#include "restore/TDWRestorePaths.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QUuid>

#include <utility>

namespace {

const QString MailLabelType = QStringLiteral("imapfolder");
const QString MailboxExtension = QStringLiteral("mbox");

QString newUUID()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QString extensionOf(const QString &path)
{
    const QString fileName = path.section(QLatin1Char('/'), -1);
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? fileName.mid(dot + 1) : QString();
}

} // namespace

struct TDWRecoverySchedulingOperation::Item
{
    QStringList prefix; // safe components
    QString name;
    QString predeterminedName;
    bool grouping = false;
    QString sourcePath;
    TDWError sourceError;
};

TDWRecoverySchedulingOperation::TDWRecoverySchedulingOperation(std::shared_ptr<TDWRecoveryRelay> relay, QList<TDWQueuedRecovery> queuedRecoveries,
                                                               const QString &dest, bool multipleTopLevel, bool asMailbox, const QString &rootUUID)
    : m_relay(std::move(relay))
    , m_queuedRecoveries(std::move(queuedRecoveries))
    , m_multipleTopLevel(multipleTopLevel)
    , m_asMailbox(asMailbox)
{
    const QString cleanDest = QDir::cleanPath(dest);
    // A single item is restored at the destination itself: its folder is the
    // root and its name the first component.
    if (multipleTopLevel || asMailbox) {
        m_root = cleanDest;
    } else {
        m_root = QFileInfo(cleanDest).path();
        m_rootComponents = {QFileInfo(cleanDest).fileName()};
    }
    const QUuid uuid = QUuid::fromString(rootUUID);
    m_rootUUID = uuid.isNull() ? TDWRestorePaths::safeComponent(rootUUID) : uuid.toString(QUuid::WithoutBraces).toUpper();
}

void TDWRecoverySchedulingOperation::main()
{
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    const auto resetContext = qScopeGuard([&moc] { moc->reset(); });
    for (const TDWQueuedRecovery &recovery : m_queuedRecoveries) {
        if (isCancelled())
            return;
        if (!schedule(recovery, *moc))
            ++m_plan.numNoBackup;
    }
    if (isCancelled())
        return;
    // The plan is complete before its first step may start.
    m_plan.numSteps = m_steps.size();
    m_relay->setPlan(m_plan);
    for (const std::shared_ptr<TDWOperation> &step : std::as_const(m_steps)) {
        if (!m_relay->addOperation(step))
            return;
    }
}

bool TDWRecoverySchedulingOperation::schedule(const TDWQueuedRecovery &recovery, TDWManagedObjectContext &moc)
{
    TDWDocRev::Ptr revision = std::dynamic_pointer_cast<TDWDocRev>(moc.existingObjectWithID(recovery.docRevObjectId, nullptr));
    const TDWDoc::Ptr doc = revision ? revision->doc() : nullptr;
    // A revision gone from the store counts as a file item without a backup.
    if (!doc) {
        ++m_plan.numFileItems;
        return false;
    }
    Item item;
    item.grouping = doc->isGrouping();
    if (!item.grouping) {
        ++m_plan.numDocs;
        ++m_plan.numFileItems;
        if (revision->exportStatus() != TDWDocRev::BackedUp)
            revision = TDWDocRev::bestRetrievalCandidateForDocRevId(recovery.docRevObjectId, moc, nullptr);
        if (!revision)
            return false;
        item.sourcePath = TDWRestorePaths::sourceInItemsFolder(TDWFileMgr::backedUpItemsPathForService(doc->service()), revision->filePath(),
                                                               &item.sourceError);
    }
    const bool mailbox = m_asMailbox && doc->docType() == MailLabelType;
    const QString extension = mailbox ? MailboxExtension : extensionOf(revision->filePath());
    const QString name = mailbox ? TDWMailUtils::mailboxFolderName(revision->title())
                                 : TDWFileUtils::generateFilenameFromString(revision->title(), extension);
    item.prefix = TDWRestorePaths::safeComponents(recovery.prefix);
    item.name = uniqueName(item.prefix.join(QLatin1Char('/')), name, extension);
    item.predeterminedName = recovery.predeterminedName;
    if (isCancelled())
        return true;
    m_plan.totalBytes += item.sourcePath.isEmpty() ? 0 : TDWRestorePaths::fileSize(item.sourcePath);
    if (mailbox)
        scheduleMailbox(item);
    else if (m_asMailbox)
        scheduleMessage(item);
    else
        scheduleFile(item);
    return true;
}

QString TDWRecoverySchedulingOperation::uniqueName(const QString &prefixKey, const QString &name, const QString &extension)
{
    const auto keyOf = [&prefixKey](const QString &candidate) { return QStringLiteral("%1/%2").arg(prefixKey, candidate).toLower(); };
    QString base = name;
    if (!extension.isEmpty() && base.endsWith(QLatin1Char('.') + extension))
        base.chop(extension.size() + 1);
    QString unique = name;
    for (qint64 counter = 1; m_usedKeys.contains(keyOf(unique)); ++counter)
        unique = QStringLiteral("%1-%2").arg(base).arg(counter) + (extension.isEmpty() ? QString() : QLatin1Char('.') + extension);
    m_usedKeys.insert(keyOf(unique));
    return unique;
}

void TDWRecoverySchedulingOperation::scheduleFile(const Item &item)
{
    QStringList target = m_rootComponents + item.prefix;
    if (!item.prefix.isEmpty() || m_multipleTopLevel)
        target << (item.predeterminedName.isEmpty() ? item.name : TDWRestorePaths::safeComponent(item.predeterminedName));
    if (item.grouping) {
        // Not checked: the copies into a folder that could not be made fail on their own.
        TDWRestorePaths::makeFolders(m_root, target, nullptr);
        return;
    }
    m_steps << TDWRecoveryOperation::forFile(m_relay, item.sourcePath, item.sourceError, m_root, target);
}

void TDWRecoverySchedulingOperation::scheduleMailbox(const Item &item)
{
    QStringList target = item.prefix;
    if (!item.prefix.isEmpty() || m_multipleTopLevel)
        target << item.name;
    const QString uuid = newUUID();
    m_mailboxUUIDs.insert(target.join(QLatin1Char('/')), uuid);
    m_steps << TDWRecoveryOperation::forMailbox(m_relay, m_root, target, uuid);
}

void TDWRecoverySchedulingOperation::scheduleMessage(const Item &item)
{
    QStringList target = item.prefix;
    // A message outside the mailboxes this request makes goes straight under its prefix.
    const QString uuid = item.prefix.isEmpty() ? m_rootUUID : m_mailboxUUIDs.value(item.prefix.join(QLatin1Char('/')));
    target << TDWMailUtils::mailboxMessagePath(uuid, m_messageNumber).split(QLatin1Char('/'));
    ++m_messageNumber;
    TDWRestorePaths::makeFolders(m_root, target.mid(0, target.size() - 1), nullptr);
    m_steps << TDWRecoveryOperation::forFile(m_relay, item.sourcePath, item.sourceError, m_root, target);
}
