#pragma once

// The one-time and every-launch fix-ups of data left by earlier versions and
// runs, made once the master store is open, and the maintenance commands
// built on them. Each failure is logged and tried again at the next launch.
class TDWStartupFixups
{
public:
    // All of them, in order; the full Drive listing only until one was saved.
    static void run();

    // Whether any account has backed up Google Reader, whose menu items are
    // then shown.
    static bool hasGoogleReaderBackups();
    static void deleteOldDocListXmlFolders();
    // Writes each account's credential again, once, with the keyring's current access settings.
    static void lockDownKeychainItems();
    // Forgets each account's last Drive change id, so that the next run lists
    // all of Drive; answers whether the change was saved.
    static bool resetGoogleDriveBackup();
    // The previews' scratch folder, emptied at launch and at quit.
    static void deleteQuickLookFolder();
    // The settings for the product's screenshots, from the resource "screenshotprefs.plist".
    static void copyScreenShotPrefs();
};
