#pragma once

#include "platform/foundation/TDWError.h"

#include <QString>

#include <functional>

// The one place that knows where the program keeps its files. Every part of
// the program asks it for paths instead of building them:
//
//   data directory ($XDG_DATA_HOME/Tidewell)
//     TidewellData.sqlite3          the master store
//     Auxiliary Stores/             one store per account and service
//     backups/                      the backup folder unless the user chose one
//     backuplocation.bookmarkfile
//     <listdir of each service>/    saved list pages
//   temporary folder ($XDG_CACHE_HOME/Tidewell)
//
// The data directory is set once, on the first path request, and the paths
// never change afterwards; they may be read from any thread. Only the
// user-chosen backup folder ("altbackuploc") is read afresh on each request.
class TDWFileMgr
{
public:
    // Told when a folder the program cannot run without cannot be made (the
    // "ERROR: " line is already logged). The default asks the application to
    // quit; the application installs one that shows the error first, tests
    // one that records it.
    using FatalHandler = std::function<void(const TDWError &error)>;
    static void setFatalHandler(FatalHandler handler);

    // Where the data directory and the temporary folder are by default.
    static QString defaultDataDir();
    static QString defaultTempDir();

    // Derives every path from `path` and makes sure it and the temporary
    // folder exist. False when either could not be made or is a file; the
    // paths are derived all the same, so nothing falls back to the working
    // directory while the program ends.
    static bool setDataDir(const QString &path);
    // Creates one directory (no intermediate ones); a failure is fatal.
    static bool createDir(const QString &path);
    // Sets the data directory to the default once; concurrent first callers wait.
    static void initData();
    // Sets the data directory to `path` instead of the default.
    static void initAltDataDir(const QString &path);
    // Forgets the data directory, so the next request sets it up again (for
    // tests; no other thread may ask for paths meanwhile).
    static void reset();

    static QString dataFilePath();
    // The backup folder joined with the service's "itemdir"; empty for a
    // service the service table lacks.
    static QString backedUpItemsPathForService(const QString &serviceId);
    // The user-chosen backup folder, else defaultBackupLocation().
    static QString backedUpItemsPath();
    // The user-chosen backup folder; empty when the default one is used.
    static QString altBackupLocation();
    // The data directory joined with the service's "listdir"; empty for a
    // service the service table lacks.
    static QString itemListXmlPathForService(const QString &serviceId);
    static QString tempPath();
    // Creates the folder when nothing is there; answers its path even when
    // that failed (its users then fail on their own).
    static QString auxiliaryStoresDir();
    static QString altLocBookmarkFileLocation();

    // These two do not set the data directory up: empty until something has.
    static QString appSupportDir();
    static QString defaultBackupLocation();
};
