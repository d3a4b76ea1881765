#include "mail/TDWMailUtils.h"

#include "app/TDWServiceTable.h"
#include "platform/foundation/TDWLog.h"
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
    for (const QVariant &label : TDWServiceTable::shared().specialMailLabels())
        specialFlags.insert(label.toMap().value(QStringLiteral("flag")).toString());

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

bool TDWMailUtils::folderPathIsGmailLabel(const QString &encodedPath)
{
    return !isUnderSystemParent(encodedPath) && !isInbox(encodedPath);
}

bool TDWMailUtils::createMailboxDirectoryAtPath(const QString &path, const QString &uuid)
{
    Q_UNUSED(uuid);
    const QString folder = QDir::cleanPath(path);
    if (!QDir().mkpath(folder)) {
        tdwLog(QStringLiteral("ERROR: Unable to create directory at “%1”").arg(path));
        return false;
    }
    // Only the last extension goes: "Q1.2024.mbox" is the mailbox "Q1.2024", ".mbox" keeps its name.
    QString name = QFileInfo(folder).fileName();
    if (const qsizetype dot = name.lastIndexOf(QLatin1Char('.')); dot > 0)
        name.truncate(dot);
    const QVariantMap info = {{QStringLiteral("MailboxName"), name}};
    TDWError error;
    if (!TDWPropertyList::writeFile(info, QDir(folder).filePath(QStringLiteral("Info.plist")), &error)) {
        tdwLog(QStringLiteral("ERROR: Unable to write the mailbox information at “%1”: %2").arg(path, error.localizedDescription()));
        return false;
    }
    return true;
}
