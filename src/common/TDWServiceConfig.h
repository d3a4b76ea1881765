#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// One service's entry of the service table, read once when the table loads.
// A default record (no id) stands for a service the table does not have.
class TDWServiceConfig
{
public:
    // One endpoint of a service's list: the URL of its first page and the
    // class that reads its pages (empty for the default parser).
    struct ListUrl
    {
        QString url;
        QString parserClass;

        bool operator==(const ListUrl &other) const = default;
    };

    TDWServiceConfig() = default;
    explicit TDWServiceConfig(const QVariantMap &entry);

    QString id;
    // Folder of the service's list pages, under the data folder.
    QString listDir;
    // Folder of the service's items, under the backup folder.
    QString itemDir;
    // What the user reads in "Unable to retrieve the <label>".
    QString listOfItemsLabel;
    // The service's name, short (status menu lines) and long (activity rows).
    QString serviceLabel;
    QString serviceLabelLong;
    // One item and several items of the service, as the status texts name them.
    QString itemName;
    QString itemNamePlural;
    // Several items without the service's name ("messages", "files").
    QString itemNamePluralNoService;
    // Class of the service's access check, and the URL the HTTP check reads.
    QString preflightClass;
    QString preflightUrl;
    // Class of the operation that backs the service up in a backup run.
    QString backupOperationClass;
    // GData-Version header of the service's requests; empty for none.
    QString gdataVersion;
    // The OAuth scope a sign-in asks for to read the service.
    QString oauthScope;
    // The IMAP server of a mail service; empty for the others.
    QString imapHost;
    // Class of the operation that downloads one revision of the service's items.
    QString exportOperationClass;
    // Class of the delegate that adjusts the service's list retrieval.
    QString serviceDelegateClass;
    // Class of the item diagnostic of the service's items; empty for none.
    QString diagnosticClass;
    // The endpoints of a full list, in order.
    QList<ListUrl> listUrls;
    // The endpoints of an incremental list; empty when the service has none.
    QList<ListUrl> changeUrls;
    // The URL that answers the newest change id, for services with change URLs.
    QString maxChangeIdUrl;
    // The document type of the service's folders; empty when it has none.
    QString folderType;
    // Where the service's content links lie, beside its list and check URLs.
    QStringList contentHosts;
    bool disabled = false;

    bool operator==(const TDWServiceConfig &other) const = default;
};
