#include "mail/TDWMailUtils.h"

#include "common/TDWFileUtils.h"
#include "common/TDWServiceIds.h"
#include "common/TDWServiceTable.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWMailFolder.h"
#include "dataobjects/TDWMailItem.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWPrivateFiles.h"
#include "platform/foundation/TDWPropertyList.h"
#include "platform/imap/TDWImapModifiedUtf7.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

// Gmail names its system folders under one of two parents, depending on the
// account's country; both must be treated alike.
const QStringList SystemParents = {QStringLiteral("[Gmail]"), QStringLiteral("[Google Mail]")};

bool isSystemParent(const QString &path)
{
    return SystemParents.contains(path);
}

bool isUnderSystemParent(const QString &path)
{
    return std::any_of(SystemParents.begin(), SystemParents.end(), [&](const QString &parent) { return path.startsWith(parent); });
}

// Chats are no mail label worth backing up, whichever parent holds them.
bool isChatsFolder(const QString &path)
{
    return std::any_of(SystemParents.begin(), SystemParents.end(),
                       [&](const QString &parent) { return path == parent + QStringLiteral("/Chats"); });
}

// INBOX is the one name IMAP compares without regard to case.
bool isInbox(const QString &path)
{
    return path.compare(QLatin1String("INBOX"), Qt::CaseInsensitive) == 0;
}


// folderType values of the special folders that get records of their own.
constexpr qint64 InboxFolderType = 2;
constexpr qint64 SentFolderType = 3;
constexpr qint64 DraftsFolderType = 4;
// A special folder that gets no record (Spam, Starred, Trash).
constexpr qint64 UnrecordedFolderType = 6;

TDWPersistentStorePtr mailStoreOf(const QString &username)
{
    const std::shared_ptr<TDWStoreMgr> storeMgr = TDWMasterStore::shared().storeMgr();
    return storeMgr ? storeMgr->storeForAccountUsername(username, TDWServiceIds::Mail) : nullptr;
}

// The current folder records of the account, in its own context.
std::optional<QList<TDWMailFolder::Ptr>> currentFoldersOf(TDWAccount &account)
{
    const TDWPersistentStorePtr store = mailStoreOf(account.username());
    TDWManagedObjectContext *moc = account.managedObjectContext();
    if (!store || !moc)
        return std::nullopt;
    return TDWMailFolder::byStore(store, QDateTime(), *moc, nullptr);
}

// Whether any of the message's folder links is current and to a current folder.
bool isInACurrentFolder(const TDWDoc &message)
{
    const QList<TDWMailItem::Ptr> items = message.mailItems();
    return std::any_of(items.begin(), items.end(), [](const TDWMailItem::Ptr &item) {
        const TDWMailFolder::Ptr folder = item->mailFolder();
        return item->current() && folder && folder->current();
    });
}

void closeFolder(TDWMailFolder &folder, const QDateTime &date)
{
    folder.setObsoletedDate(date);
    folder.setCurrent(false);
    for (const TDWMailItem::Ptr &item : folder.mailItems()) {
        const std::shared_ptr<TDWDoc> message = item->messageDoc();
        if (message && !isInACurrentFolder(*message))
            message->setIsUnlabeledMessage(true);
    }
}

// Records follow the decoding rules in force, and Inbox has one name however it was listed.
void refreshFolderPaths(const QList<TDWMailFolder::Ptr> &folders)
{
    for (const TDWMailFolder::Ptr &folder : folders) {
        if (folder->folderType() == InboxFolderType) {
            folder->setFolderPath(QStringLiteral("INBOX"));
            folder->setEncodedFolderPath(QStringLiteral("INBOX"));
        } else {
            folder->setFolderPath(TDWMailUtils::decodedFolderPath(folder->encodedFolderPath()));
        }
    }
}

// The first special label, in the table's order, whose flag the folder carries
// types it; none: a user label.
const TDWSpecialMailLabel *specialLabelFor(const QSet<QString> &flags, const QList<TDWSpecialMailLabel> &labels)
{
    for (const TDWSpecialMailLabel &label : labels) {
        if (flags.contains(label.flag))
            return &label;
    }
    return nullptr;
}

// Whether a new record is backed up, and the tag its messages carry.
void setBackupAndTag(TDWMailFolder &folder, const TDWAccount &account, const QString &encodedPath,
                     const std::optional<QSet<QString>> &includedUserLabels)
{
    switch (folder.folderType()) {
    case TDWMailFolder::LabelFolderType:
        folder.setBackup(includedUserLabels ? includedUserLabels->contains(folder.folderPath()) : account.autoAddNewLabels());
        folder.setMessageTag(encodedPath);
        break;
    case InboxFolderType:
        folder.setBackup(true);
        folder.setMessageTag(QStringLiteral("\\Inbox"));
        break;
    case SentFolderType:
        folder.setBackup(true);
        folder.setMessageTag(QStringLiteral("\\Sent"));
        break;
    case DraftsFolderType:
        folder.setBackup(true);
        folder.setMessageTag(QStringLiteral("\\Draft"));
        break;
    case TDWMailFolder::AllMailFolderType:
        folder.setBackup(false);
        folder.setMessageTag(QStringLiteral("-----allmail-----"));
        break;
    default:
        folder.setBackup(true);
        folder.setMessageTag(encodedPath);
        break;
    }
}

// Brings the record of one listed folder up to date, or makes one. False only
// when a new record cannot be made.
bool recordListedFolder(TDWAccount &account, const TDWPersistentStorePtr &store, const QString &encodedPath, qint64 folderType,
                        const std::optional<QSet<QString>> &includedUserLabels, const QDateTime &iterationDate)
{
    if (folderType == TDWMailFolder::LabelFolderType && isChatsFolder(encodedPath))
        return true;
    const QString path = TDWMailUtils::decodedFolderPath(encodedPath);
    TDWManagedObjectContext *moc = account.managedObjectContext();
    if (const TDWMailFolder::Ptr existing = TDWMailFolder::currentByStore(store, path, *moc, nullptr)) {
        existing->setFolderType(folderType);
        existing->setLastSeenDate(iterationDate);
        return true;
    }
    if (folderType == UnrecordedFolderType)
        return true;
    const TDWMailFolder::Ptr folder = TDWMailFolder::newWithMoc(*moc, store);
    if (!folder)
        return false;
    folder->setAccountUsername(account.username());
    folder->setFolderPath(path);
    folder->setEncodedFolderPath(encodedPath);
    folder->setFirstSeenDate(iterationDate);
    folder->setLastSeenDate(iterationDate);
    folder->setCurrent(true);
    folder->setNumMessages(-1);
    folder->setFolderType(folderType);
    setBackupAndTag(*folder, account, encodedPath, includedUserLabels);
    return true;
}

} // namespace

TDWFoldersWithFlags TDWMailUtils::foldersWithFlagsFrom(const QList<TDWImapFolder> &folders)
{
    static const QList<std::pair<int, QString>> flagNames = {
        {TDWImapFolderFlagAllMail, QStringLiteral("AllMail")},
        {TDWImapFolderFlagSent, QStringLiteral("Sent")},
        {TDWImapFolderFlagSpam, QStringLiteral("Spam")},
        {TDWImapFolderFlagStarred, QStringLiteral("Starred")},
        {TDWImapFolderFlagTrash, QStringLiteral("Trash")},
        {TDWImapFolderFlagDrafts, QStringLiteral("Drafts")},
    };

    TDWFoldersWithFlags table;
    for (const TDWImapFolder &folder : folders) {
        const int flags = folder.flags;
        if ((flags & TDWImapFolderFlagNoSelect) || isSystemParent(folder.path))
            continue;
        // A user label spelt like a system label's name must not pose as that
        // folder when the server did not flag it so.
        if (!(flags & TDWImapFolderFlagSent) && folder.path == QLatin1String("\\Sent"))
            continue;
        if (!(flags & TDWImapFolderFlagDrafts) && folder.path == QLatin1String("\\Draft"))
            continue;
        if (folder.path == QLatin1String("\\Inbox"))
            continue;

        QSet<QString> names;
        for (const auto &[bit, name] : flagNames) {
            if (flags & bit)
                names.insert(name);
        }
        if (isInbox(folder.path) || (flags & TDWImapFolderFlagInbox))
            names.insert(QStringLiteral("Inbox"));
        table.insert(folder.path, names);
    }
    return table;
}

QString TDWMailUtils::decodedFolderPath(const QString &encodedPath)
{
    bool allRunsValid = true;
    const QString decoded = TDWImapModifiedUtf7::decode(encodedPath, &allRunsValid);
    return allRunsValid ? decoded : encodedPath;
}

QStringList TDWMailUtils::userLabelsBasedOnFoldersWithFlags(const TDWFoldersWithFlags &foldersWithFlags)
{
    QSet<QString> specialFlags;
    for (const TDWSpecialMailLabel &label : TDWServiceTable::shared().specialMailLabels())
        specialFlags.insert(label.flag);

    QStringList labels;
    for (auto it = foldersWithFlags.cbegin(); it != foldersWithFlags.cend(); ++it) {
        if (it.value().intersects(specialFlags) || isChatsFolder(it.key()))
            continue;
        labels.append(decodedFolderPath(it.key()));
    }
    // Case only breaks ties, so the order never depends on the table's.
    std::sort(labels.begin(), labels.end(), [](const QString &a, const QString &b) {
        const int order = a.compare(b, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a < b;
    });
    return labels;
}

bool TDWMailUtils::updateAccount(TDWAccount &account, const TDWFoldersWithFlags &foldersWithFlags,
                                 const std::optional<QSet<QString>> &includedUserLabels, const QDateTime &iterationDate)
{
    const QString username = account.username();
    const std::optional<QList<TDWMailFolder::Ptr>> currentFolders = currentFoldersOf(account);
    if (!currentFolders) {
        tdwLog(QStringLiteral("ERROR: Unable to find mail folders for %1").arg(username));
        return false;
    }
    refreshFolderPaths(*currentFolders);

    const QList<TDWSpecialMailLabel> specialLabels = TDWServiceTable::shared().specialMailLabels();
    const TDWPersistentStorePtr store = mailStoreOf(username);
    QSet<QString> typingFlags; // the flags that gave a listed folder its type
    for (auto it = foldersWithFlags.cbegin(); it != foldersWithFlags.cend(); ++it) {
        const TDWSpecialMailLabel *special = specialLabelFor(it.value(), specialLabels);
        if (special)
            typingFlags.insert(special->flag);
        const qint64 folderType = special ? special->folderType : TDWMailFolder::LabelFolderType;
        if (!recordListedFolder(account, store, it.key(), folderType, includedUserLabels, iterationDate))
            return false;
    }

    // Without a required folder the list cannot be trusted to say what vanished.
    for (const TDWSpecialMailLabel &label : specialLabels) {
        if (label.required && !typingFlags.contains(label.flag)) {
            tdwLog(QStringLiteral("ERROR: Unable to back up mail for %1 because Tidewell was unable to find the %2 folder via IMAP.")
                       .arg(username, label.label));
            return false;
        }
    }

    for (const TDWMailFolder::Ptr &folder : *currentFolders) {
        if (!foldersWithFlags.contains(folder->encodedFolderPath()))
            closeFolder(*folder, iterationDate);
        else if (includedUserLabels && folder->folderType() == TDWMailFolder::LabelFolderType)
            folder->setBackup(includedUserLabels->contains(folder->folderPath()));
    }
    return true;
}

bool TDWMailUtils::updateAccount(TDWAccount &account, const QSet<QString> &includedUserLabels)
{
    const std::optional<QList<TDWMailFolder::Ptr>> currentFolders = currentFoldersOf(account);
    if (!currentFolders) {
        tdwLog(QStringLiteral("ERROR: Unable to find mail folders for %1").arg(account.username()));
        return false;
    }
    for (const TDWMailFolder::Ptr &folder : *currentFolders) {
        if (folder->folderType() == TDWMailFolder::LabelFolderType)
            folder->setBackup(includedUserLabels.contains(folder->folderPath()));
    }
    return true;
}

QString TDWMailUtils::allMailPathForAccountUsername(const QString &username)
{
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    const TDWPersistentStorePtr store = mailStoreOf(username);
    if (!moc || !store)
        return QString();
    const TDWMailFolder::Ptr allMail = TDWMailFolder::currentAllMailFolderByStore(store, *moc);
    return allMail ? allMail->encodedFolderPath() : QString();
}

bool TDWMailUtils::folderPathIsGmailLabel(const QString &encodedPath)
{
    return !isUnderSystemParent(encodedPath) && !isInbox(encodedPath);
}

bool TDWMailUtils::createMailboxDirectoryAtPath(const QString &path, const QString &uuid)
{
    Q_UNUSED(uuid);
    const QString folder = QDir::cleanPath(path);
    if (!TDWPrivateFiles::makeFolder(folder)) {
        tdwLog(QStringLiteral("ERROR: Unable to create directory at “%1”").arg(path));
        return false;
    }
    // Only the last extension goes: "Q1.2024.mbox" is the mailbox "Q1.2024", ".mbox" keeps its name.
    QString name = QFileInfo(folder).fileName();
    if (const qsizetype dot = name.lastIndexOf(QLatin1Char('.')); dot > 0)
        name.truncate(dot);
    const QVariantMap info = {{QStringLiteral("MailboxName"), name}};
    TDWError error;
    if (!TDWPropertyList::writeFile(info, QDir(folder).filePath(QStringLiteral("Info.plist")), &error, TDWPrivateFiles::FileMode)) {
        tdwLog(QStringLiteral("ERROR: Unable to write the mailbox information at “%1”: %2").arg(path, error.localizedDescription()));
        return false;
    }
    return true;
}

QString TDWMailUtils::mailboxFolderName(const QString &title)
{
    return TDWFileUtils::generateFilenameFromString(title, QStringLiteral("mbox"));
}

QString TDWMailUtils::mailboxMessageFolder(const QString &uuid, qint64 number)
{
    QStringList components;
    if (!uuid.isEmpty())
        components << uuid << QStringLiteral("Data");
    qint64 thousands = number / 1000;
    if (thousands == 0)
        components << QStringLiteral("0");
    for (; thousands != 0; thousands /= 10)
        components << QString::number(thousands % 10);
    components << QStringLiteral("Messages");
    return components.join(QLatin1Char('/'));
}

QString TDWMailUtils::mailboxMessagePath(const QString &uuid, qint64 number)
{
    return mailboxMessageFolder(uuid, number) + QStringLiteral("/%1.emlx").arg(number);
}
