#include "app/TDWStartupFixups.h"

#include "accounts/TDWKeychainMgr.h"
#include "common/TDWServiceIds.h"
#include "common/TDWSettingsKeys.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWDataProperty.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWPropertyList.h"
#include "platform/foundation/TDWResources.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/predicate/TDWPredicate.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

TDWUserDefaults *defaults()
{
    return TDWUserDefaults::standard();
}

} // namespace

void TDWStartupFixups::run()
{
    deleteOldDocListXmlFolders();
    lockDownKeychainItems();
    // Done once: the flag is set only when the reset was saved, so a failed
    // one is tried again at the next launch.
    if (!defaults()->boolForKey(TDWSettingsKeys::GDriveAll252) && resetGoogleDriveBackup())
        defaults()->setBool(true, TDWSettingsKeys::GDriveAll252);
}

bool TDWStartupFixups::hasGoogleReaderBackups()
{
    std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    TDWFetchRequest request(QStringLiteral("AccountServiceSetting"));
    request.setPredicate(TDWPredicate::parse(QStringLiteral("service = %@ and lastListIteration != nil"), {TDWServiceIds::Reader}));
    TDWError error;
    const qint64 count = moc->countForFetchRequest(request, &error);
    moc->reset();
    if (count == TDWManagedObjectContext::NotFound) {
        tdwLog(QStringLiteral("ERROR: Unable to determine whether there are Google Reader backups in showGoogleReaderMenuItemsIfNecessary: %1")
                   .arg(error.description()));
        return false;
    }
    return count > 0;
}

void TDWStartupFixups::deleteOldDocListXmlFolders()
{
    // Folders of list pages that older versions kept; failures are tried again next time.
    for (const char *name : {"doclistxml", "readerlistxml", "calendarlistxml"}) {
        const QString path = QDir(TDWMasterStore::applicationSupportFolder()).filePath(QString::fromLatin1(name));
        if (QFileInfo::exists(path))
            QDir(path).removeRecursively();
    }
}

void TDWStartupFixups::lockDownKeychainItems()
{
    TDWKeychainMgr *keychain = TDWKeychainMgr::keychainMgr();
    std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    const auto accounts = TDWAccount::all(*moc, nullptr);
    for (const TDWAccount::Ptr &account : accounts.value_or(QList<TDWAccount::Ptr>())) {
        if (account->lockedDownKeychain())
            continue;
        const QString username = account->username();
        const std::shared_ptr<TDWCredential> credential = keychain->credentialForUsername(username);
        if (!credential) {
            tdwLog(QStringLiteral("Unable to find credential for %1").arg(username));
            continue;
        }
        tdwLog(QStringLiteral("Updating credential for %1").arg(username));
        // Writing it again gives the item the keyring's current access settings.
        if (keychain->setCredential(credential, username, false))
            account->setLockedDownKeychain(true);
        else
            tdwLog(QStringLiteral("Unable to update credential for %1").arg(username));
    }
    TDWError error;
    if (moc->hasChanges() && !moc->save(&error))
        tdwLog(QStringLiteral("ERROR: Unable to save in lockDownKeychainItems: %1").arg(error.description()));
    moc->reset();
}

bool TDWStartupFixups::resetGoogleDriveBackup()
{
    std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    const std::shared_ptr<TDWStoreMgr> storeMgr = TDWMasterStore::shared().storeMgr();
    TDWError error;
    const auto accounts = TDWAccount::all(*moc, &error);
    bool saved = false;
    if (!accounts || !storeMgr) {
        tdwLog(QStringLiteral("ERROR: Unable to save in resetGoogleDriveBackup: %1").arg(error.description()));
    } else {
        for (const TDWAccount::Ptr &account : *accounts) {
            // Without its Drive store the account has no change id to forget.
            if (const TDWPersistentStorePtr store = storeMgr->storeForAccountUsername(account->username(), TDWServiceIds::Docs))
                TDWDataProperty::removePropertyForName(QStringLiteral("lastChangeId"), store, *moc);
        }
        saved = moc->save(&error);
        if (!saved)
            tdwLog(QStringLiteral("ERROR: Unable to save in resetGoogleDriveBackup: %1").arg(error.description()));
    }
    moc->reset();
    return saved;
}

void TDWStartupFixups::deleteQuickLookFolder()
{
    const QString folder = TDWMasterStore::quickLookFolder();
    if (!QFileInfo::exists(folder))
        return;
    if (!QDir(folder).removeRecursively())
        tdwLog(QStringLiteral("ERROR: Unable to delete Quick Look folder at %1: %2")
                   .arg(folder, QCoreApplication::translate("TDWAppController", "Some files could not be removed.")));
}

void TDWStartupFixups::copyScreenShotPrefs()
{
    const QString path = TDWResources::path(TDWSettingsKeys::ScreenshotPrefs, QStringLiteral("plist"));
    if (path.isEmpty())
        return;
    const QVariantMap settings = TDWPropertyList::readFile(path, nullptr).toMap();
    for (auto it = settings.constBegin(); it != settings.constEnd(); ++it)
        defaults()->setObject(it.value(), it.key());
}
