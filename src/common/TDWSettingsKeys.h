#pragma once

#include <QString>

// The keys of the user's settings (TDWUserDefaults), spelled as the settings
// file stores them: renaming one loses what users have set under it.
namespace TDWSettingsKeys {

// Where the backup lives and how it runs.
inline const QString AltBackupLocation = QStringLiteral("altbackuploc");
inline const QString BackupDirIsMissing = QStringLiteral("backupdirismissing");
inline const QString SecondsBetweenBackups = QStringLiteral("SecondsBetweenBackups");
inline const QString DontIgnoreBackupIntervalWhenBackupIncomplete = QStringLiteral("DontIgnoreBackupIntervalWhenBackupIncomplete");
inline const QString RestartedWhileBackupInProgress = QStringLiteral("restartedWhileBackupInProgress");
inline const QString LastCancelled = QStringLiteral("last_cancelled");
inline const QString LatestBackupIterationUrl = QStringLiteral("latestbackupiterationurl");
inline const QString DontDoExports = QStringLiteral("DontDoExports");
inline const QString DeleteReferenceDeltaSeconds = QStringLiteral("DeleteReferenceDeltaSeconds");
inline const QString DontBackupPredicate = QStringLiteral("dontbackuppredicate");
inline const QString LockBackupFiles = QStringLiteral("lockBackupFiles");
inline const QString LockBackupFilesLastChanged = QStringLiteral("lockBackupFilesLastChanged");
inline const QString LockBackupFilesLastPerformed = QStringLiteral("lockBackupFilesLastPerformed");

// The services.
inline const QString KnownServices = QStringLiteral("knownservices");
inline const QString Hostname = QStringLiteral("Hostname");
inline const QString ThrottleLevel = QStringLiteral("ThrottleLevel");
inline const QString CalendarAccessLevel = QStringLiteral("calendarAccessLevel");
inline const QString GoogleDriveTimeout = QStringLiteral("googleDriveTimeout");
inline const QString GoogleDriveSimultaneous = QStringLiteral("googleDriveSimultaneous");
inline const QString AltRetrievalMethod = QStringLiteral("altRetrievalMethod");
inline const QString OAuth2Enabled = QStringLiteral("OAuth2Enabled");
// A client identity of the user's own, in place of the service table's.
inline const QString OAuthClientId = QStringLiteral("OAuthClientId");
inline const QString OAuthClientSecret = QStringLiteral("OAuthClientSecret");

// First runs, upgrades and one-time fixes.
inline const QString FirstTime = QStringLiteral("firsttime");
inline const QString FirstTimeV2 = QStringLiteral("firsttimev2");
inline const QString FirstTimeV25 = QStringLiteral("firsttimev25");
inline const QString DoneOAuth = QStringLiteral("doneoauth");
inline const QString Tw216Fix = QStringLiteral("tw216fix");
inline const QString Mail2 = QStringLiteral("mail2");
inline const QString GDriveAll252 = QStringLiteral("gdriveall252");
inline const QString OAuthMigrationResult = QStringLiteral("oauthMigrationResult");
// The folders whose earlier contents were made private (TDWFileUpkeep).
inline const QString FoldersMadePrivate = QStringLiteral("foldersMadePrivate");
// The program file whose missing desktop entry was noted in the log.
inline const QString LaunchHandlerNotInstalledNoted = QStringLiteral("launchHandlerNotInstalledNoted");
// Set after a store migration; nothing reads them.
inline const QString SetSortTitles = QStringLiteral("setsorttitles");
inline const QString SetFolderTypes = QStringLiteral("setfoldertypes");
// Followed by a window's object name: whether that window was centred once.
inline const QString FirstTimeWindowPrefix = QStringLiteral("firsttimewindow_");

// The application and its windows.
inline const QString BackgroundApp = QStringLiteral("backgroundapp");
inline const QString ScreenshotPrefs = QStringLiteral("screenshotprefs");
inline const QString ShowDebugMenuItems = QStringLiteral("ShowDebugMenuItems");
inline const QString QuitNoPrompt = QStringLiteral("QuitNoPrompt_v2");
inline const QString LastCurrentAccountUsername = QStringLiteral("lastCurrentAccountUsername");
inline const QString EmailAddress = QStringLiteral("BKEmailAddress");
inline const QString SecureWebSiteUrl = QStringLiteral("secureWebSiteURL");

} // namespace TDWSettingsKeys
