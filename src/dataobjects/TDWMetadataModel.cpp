#include "dataobjects/TDWMetadataModel.h"

#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWAccountServiceSetting.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWBackupSettingHistory.h"
#include "dataobjects/TDWDataProperty.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocParent.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWMailFolder.h"
#include "dataobjects/TDWMailItem.h"
#include "platform/foundation/TDWLog.h"

namespace {

using Type = TDWAttributeType;

template<class T>
TDWObjectFactory factory()
{
    return [] { return std::make_shared<T>(); };
}

// Every entity carries its insert and save stamps.
TDWEntityDescription &stamped(TDWEntityDescription &entity)
{
    return entity.addAttribute(QStringLiteral("insertDate"), Type::Date).addAttribute(QStringLiteral("modifiedDate"), Type::Date);
}

// Entities whose classes keep extra named values beside their attributes.
TDWEntityDescription &extensible(TDWEntityDescription &entity)
{
    return stamped(entity).addAttribute(QStringLiteral("extensiblePropertiesData"), Type::Json);
}

// Flags that fetches test with "= 0" or "= 1" get a value from the start, so a
// record nobody set still answers those tests.
TDWAttributeOptions flag(bool value)
{
    return {.defaultValue = value};
}

void addMasterEntities(TDWManagedObjectModel &model)
{
    const QStringList master{TDWMetadataModel::MasterConfiguration};
    extensible(model.addEntity(QStringLiteral("Account"), master, factory<TDWAccount>()))
        .addAttribute(QStringLiteral("username"), Type::String, {.indexed = true})
        .addAttribute(QStringLiteral("lastStatus"), Type::Integer)
        .addAttribute(QStringLiteral("dirPath"), Type::String)
        .addAttribute(QStringLiteral("backupUnlabeled"), Type::Boolean)
        .addAttribute(QStringLiteral("autoAddNewLabels"), Type::Boolean)
        .addToMany(QStringLiteral("serviceSettings"), QStringLiteral("AccountServiceSetting"), QStringLiteral("account"),
                   TDWDeleteRule::Cascade);

    extensible(model.addEntity(QStringLiteral("AccountServiceSetting"), master, factory<TDWAccountServiceSetting>()))
        .addAttribute(QStringLiteral("service"), Type::String)
        .addAttribute(QStringLiteral("enabled"), Type::Boolean, flag(false))
        .addAttribute(QStringLiteral("firstIterationStartTime"), Type::Date)
        .addAttribute(QStringLiteral("storeFilename"), Type::String)
        .addAttribute(QStringLiteral("downloadCountsUpToDate"), Type::Boolean, flag(false))
        .addAttribute(QStringLiteral("numDownloadsPending"), Type::Integer, {.defaultValue = 0})
        .addAttribute(QStringLiteral("numDownloadsFailed"), Type::Integer, {.defaultValue = 0})
        .addAttribute(QStringLiteral("numDownloadsDone"), Type::Integer, {.defaultValue = 0})
        .addAttribute(QStringLiteral("numDownloadsMissing"), Type::Integer, {.defaultValue = 0})
        .addAttribute(QStringLiteral("numDownloadsNoBackup"), Type::Integer, {.defaultValue = 0})
        .addToOne(QStringLiteral("account"), QStringLiteral("Account"), QStringLiteral("serviceSettings"))
        .addToOne(QStringLiteral("lastListIteration"), QStringLiteral("BackupIteration"));

    stamped(model.addEntity(QStringLiteral("BackupIteration"), master, factory<TDWBackupIteration>()))
        .addAttribute(QStringLiteral("iterationStartTime"), Type::Date, {.indexed = true})
        .addAttribute(QStringLiteral("iterationEndTime"), Type::Date)
        .addAttribute(QStringLiteral("outdated"), Type::Boolean, flag(false));
}

void addItemEntities(TDWManagedObjectModel &model)
{
    const QStringList accountService{TDWMetadataModel::AccountServiceConfiguration};
    extensible(model.addEntity(QStringLiteral("Doc"), accountService, factory<TDWDoc>()))
        .addAttribute(QStringLiteral("service"), Type::String)
        .addAttribute(QStringLiteral("accountUsername"), Type::String)
        .addAttribute(QStringLiteral("docId"), Type::String, {.indexed = true})
        .addAttribute(QStringLiteral("docType"), Type::String)
        .addAttribute(QStringLiteral("docTypeLabel"), Type::String)
        .addAttribute(QStringLiteral("dirPath"), Type::String)
        .addAttribute(QStringLiteral("includeInStatus"), Type::Boolean, flag(true))
        .addAttribute(QStringLiteral("deleted"), Type::Boolean, flag(false))
        .addAttribute(QStringLiteral("deletedDate"), Type::Date)
        .addAttribute(QStringLiteral("messageHash"), Type::String)
        .addAttribute(QStringLiteral("allMailUid"), Type::String)
        .addAttribute(QStringLiteral("allMailSeq"), Type::Integer, {.indexed = true})
        .addAttribute(QStringLiteral("allMailSeqGroup"), Type::Integer)
        .addAttribute(QStringLiteral("isUnlabeledMessage"), Type::Boolean, flag(false))
        .addAttribute(QStringLiteral("gmailMessageId"), Type::String, {.indexed = true})
        .addAttribute(QStringLiteral("gmailThreadId"), Type::String)
        .addAttribute(QStringLiteral("databaseFilePath"), Type::String)
        .addAttribute(QStringLiteral("databaseLastUpdatedTime"), Type::Date)
        .addToMany(QStringLiteral("docRevs"), QStringLiteral("DocRev"), QStringLiteral("doc"), TDWDeleteRule::Cascade)
        .addToMany(QStringLiteral("mailItems"), QStringLiteral("MailItem"), QStringLiteral("messageDoc"), TDWDeleteRule::Cascade)
        // A link names two items; without either it names nothing, so it goes with them.
        .addToMany(QStringLiteral("parentDocs"), QStringLiteral("DocParent"), QStringLiteral("doc"), TDWDeleteRule::Cascade)
        .addToMany(QStringLiteral("childDocs"), QStringLiteral("DocParent"), QStringLiteral("parentDoc"), TDWDeleteRule::Cascade);

    extensible(model.addEntity(QStringLiteral("DocRev"), accountService, factory<TDWDocRev>()))
        .addAttribute(QStringLiteral("etag"), Type::String)
        .addAttribute(QStringLiteral("dirPath"), Type::String)
        .addAttribute(QStringLiteral("filePath"), Type::String)
        .addAttribute(QStringLiteral("contentUrl"), Type::String)
        .addAttribute(QStringLiteral("contentUrlDate"), Type::Date)
        .addAttribute(QStringLiteral("exportStatus"), Type::Integer, {.defaultValue = 0})
        .addAttribute(QStringLiteral("exportType"), Type::String)
        .addAttribute(QStringLiteral("lastExportAttemptDate"), Type::Date)
        .addAttribute(QStringLiteral("lastExportFailureError"), Type::String)
        .addAttribute(QStringLiteral("title"), Type::String, {.caseInsensitiveKey = true})
        .addAttribute(QStringLiteral("sortTitle"), Type::String)
        .addAttribute(QStringLiteral("starred"), Type::Boolean)
        .addAttribute(QStringLiteral("hidden"), Type::Boolean)
        .addAttribute(QStringLiteral("shared"), Type::Boolean)
        .addAttribute(QStringLiteral("liked"), Type::Boolean)
        .addAttribute(QStringLiteral("viewedByMe"), Type::Boolean)
        .addAttribute(QStringLiteral("isUnread"), Type::Boolean)
        .addAttribute(QStringLiteral("ownerName"), Type::String)
        .addAttribute(QStringLiteral("ownerEmail"), Type::String)
        .addAttribute(QStringLiteral("lastModifiedName"), Type::String)
        .addAttribute(QStringLiteral("lastModifiedEmail"), Type::String)
        .addAttribute(QStringLiteral("lastModifiedDate"), Type::Date)
        .addAttribute(QStringLiteral("publishDate"), Type::Date)
        .addAttribute(QStringLiteral("firstSeenDate"), Type::Date)
        .addAttribute(QStringLiteral("lastSeenDate"), Type::Date)
        .addAttribute(QStringLiteral("obsoletedDate"), Type::Date)
        .addAttribute(QStringLiteral("latest"), Type::Boolean, flag(false))
        .addAttribute(QStringLiteral("xmlString"), Type::String)
        .addAttribute(QStringLiteral("photoEtag"), Type::String)
        .addAttribute(QStringLiteral("to"), Type::String)
        .addAttribute(QStringLiteral("from"), Type::String)
        .addAttribute(QStringLiteral("cc"), Type::String)
        .addAttribute(QStringLiteral("who"), Type::String)
        .addAttribute(QStringLiteral("content"), Type::String)
        .addAttribute(QStringLiteral("summary"), Type::String)
        .addAttribute(QStringLiteral("location"), Type::String)
        .addAttribute(QStringLiteral("timeZone"), Type::String)
        .addAttribute(QStringLiteral("accessRole"), Type::String)
        .addAttribute(QStringLiteral("messageFlags"), Type::Integer)
        .addToOne(QStringLiteral("doc"), QStringLiteral("Doc"), QStringLiteral("docRevs"))
        // An item's revisions by date: the revision at a snapshot, the retrieval candidate.
        .addIndex({QStringLiteral("doc"), QStringLiteral("firstSeenDate")})
        // Pages of revisions in title order (ties by row id, as fetches break them),
        // with the validity dates at hand, so a page is read from the index alone.
        .addIndex({QStringLiteral("title[c]"), QStringLiteral("pk"), QStringLiteral("firstSeenDate"), QStringLiteral("obsoletedDate")});

    stamped(model.addEntity(QStringLiteral("DocParent"), accountService, factory<TDWDocParent>()))
        .addAttribute(QStringLiteral("assocCurrent"), Type::Boolean, flag(false))
        .addAttribute(QStringLiteral("firstSeenDate"), Type::Date)
        .addAttribute(QStringLiteral("lastSeenDate"), Type::Date)
        .addAttribute(QStringLiteral("obsoletedDate"), Type::Date)
        .addToOne(QStringLiteral("doc"), QStringLiteral("Doc"), QStringLiteral("parentDocs"))
        .addToOne(QStringLiteral("parentDoc"), QStringLiteral("Doc"), QStringLiteral("childDocs"));
}

void addMailAndBookkeepingEntities(TDWManagedObjectModel &model)
{
    const QStringList accountService{TDWMetadataModel::AccountServiceConfiguration};
    stamped(model.addEntity(QStringLiteral("MailFolder"), accountService, factory<TDWMailFolder>()))
        .addAttribute(QStringLiteral("accountUsername"), Type::String)
        .addAttribute(QStringLiteral("folderPath"), Type::String, {.indexed = true, .caseInsensitiveKey = true})
        .addAttribute(QStringLiteral("encodedFolderPath"), Type::String)
        .addAttribute(QStringLiteral("messageTag"), Type::String)
        .addAttribute(QStringLiteral("folderType"), Type::Integer)
        .addAttribute(QStringLiteral("numMessages"), Type::Integer)
        .addAttribute(QStringLiteral("backup"), Type::Boolean, flag(false))
        .addAttribute(QStringLiteral("current"), Type::Boolean, flag(false))
        .addAttribute(QStringLiteral("firstSeenDate"), Type::Date)
        .addAttribute(QStringLiteral("lastSeenDate"), Type::Date)
        .addAttribute(QStringLiteral("obsoletedDate"), Type::Date)
        .addToMany(QStringLiteral("mailItems"), QStringLiteral("MailItem"), QStringLiteral("mailFolder"), TDWDeleteRule::Cascade);

    stamped(model.addEntity(QStringLiteral("MailItem"), accountService, factory<TDWMailItem>()))
        .addAttribute(QStringLiteral("messageHash"), Type::String)
        .addAttribute(QStringLiteral("current"), Type::Boolean, flag(false))
        .addAttribute(QStringLiteral("firstSeenDate"), Type::Date)
        .addAttribute(QStringLiteral("obsoletedDate"), Type::Date)
        .addAttribute(QStringLiteral("sequenceNumber"), Type::Integer)
        .addAttribute(QStringLiteral("sequenceGroup"), Type::Integer)
        .addAttribute(QStringLiteral("gmailMessageId"), Type::String, {.indexed = true})
        .addToOne(QStringLiteral("mailFolder"), QStringLiteral("MailFolder"), QStringLiteral("mailItems"))
        .addToOne(QStringLiteral("messageDoc"), QStringLiteral("Doc"), QStringLiteral("mailItems"))
        // A folder's messages by sequence number: the All Mail walk in batches.
        .addIndex({QStringLiteral("mailFolder"), QStringLiteral("sequenceNumber")});

    stamped(model.addEntity(QStringLiteral("BackupSettingHistory"), accountService, factory<TDWBackupSettingHistory>()))
        .addAttribute(QStringLiteral("service"), Type::String)
        .addAttribute(QStringLiteral("settingName"), Type::String, {.indexed = true})
        .addAttribute(QStringLiteral("backupEnabled"), Type::Boolean, flag(false))
        .addAttribute(QStringLiteral("current"), Type::Boolean, flag(false))
        .addAttribute(QStringLiteral("firstSeenDate"), Type::Date)
        .addAttribute(QStringLiteral("obsoletedDate"), Type::Date);

    stamped(model.addEntity(QStringLiteral("DataProperty"), accountService, factory<TDWDataProperty>()))
        .addAttribute(QStringLiteral("tdwPropertyName"), Type::String, {.indexed = true})
        .addAttribute(QStringLiteral("tdwPropertyValue"), Type::String);
}

} // namespace

std::shared_ptr<const TDWManagedObjectModel> TDWMetadataModel::build(const std::function<void(TDWManagedObjectModel &model)> &extend)
{
    auto model = std::make_shared<TDWManagedObjectModel>(TDWMetadataModel::VersionIdentifier);
    addMasterEntities(*model);
    addItemEntities(*model);
    addMailAndBookkeepingEntities(*model);
    if (extend)
        extend(*model);
    TDWError error;
    if (!model->finalize(&error)) {
        // Only a wrong declaration above gets here; the tests build the model first of all.
        tdwLog(QStringLiteral("ERROR: The metadata model is inconsistent: %1").arg(error.description()));
        return nullptr;
    }
    return model;
}

std::shared_ptr<const TDWManagedObjectModel> TDWMetadataModel::model()
{
    static const std::shared_ptr<const TDWManagedObjectModel> shared = build({});
    return shared;
}
