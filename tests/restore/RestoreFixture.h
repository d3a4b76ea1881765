#pragma once

#include "DataObjectsTestSupport.h"

#include "dataobjects/TDWDocRev.h"
#include "restore/TDWQueuedRecovery.h"
#include "restore/TDWRecoveryProgress.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>

class TDWRecoveryUserOperation;

// A store and backup folder of the test's own, with one account whose Drive
// and Gmail backups are on; items are added with their files laid out and
// locked as the backup leaves them: <items>/<account>/<item>/<n>/<file>.
// Requests run to their end on a queue of the test, the main thread's
// reports included.
class RestoreFixture : public ::testing::Test
{
protected:
    static inline const QString Alice = QStringLiteral("alice@example.com");
    static inline const QString Docs = QStringLiteral("docs");
    static inline const QString Mail = QStringLiteral("mail");

    struct Revision
    {
        QByteArray contents;
        qint64 exportStatus = TDWDocRev::BackedUp;
        bool onDisk = true;
    };

    // What a request ended with.
    struct Outcome
    {
        TDWRecoveryProgress::State state = TDWRecoveryProgress::State::InProgress;
        QString text;
        qint64 numSteps = 0;
        qint64 numDocsRecovered = 0;
        qint64 numDirsRecovered = 0;
        // Every value the bar took, one per report; nullopt while indeterminate.
        QList<std::optional<double>> bars;
        // The states reported, in order.
        QList<TDWRecoveryProgress::State> states;
    };

    void SetUp() override;
    void TearDown() override;

    // An item whose revisions (oldest first) are stored with files; their identifiers.
    QList<TDWManagedObjectID> addItem(const QString &service, const QString &docType, const QString &title, const QString &extension,
                                      const QList<Revision> &revisions);
    TDWManagedObjectID addFile(const QString &title, const QByteArray &contents, const QString &extension = QStringLiteral("txt"));
    // A folder or label: one revision without a file.
    TDWManagedObjectID addGrouping(const QString &service, const QString &docType, const QString &title);
    // Where a revision's backed-up file lies.
    QString backedUpFile(const TDWManagedObjectID &revision) const;
    // Changes a stored revision as the backup or the purge would.
    void setFilePath(const TDWManagedObjectID &revision, const QString &filePath);
    void purge(const TDWManagedObjectID &revision);

    static TDWQueuedRecovery queued(const TDWManagedObjectID &revision, const QString &prefix = {}, const QString &predeterminedName = {});

    // Runs a request to its end. `onReport` sees the progress at every report
    // on the main thread, with the request (to cancel it).
    Outcome run(const QList<TDWQueuedRecovery> &items, const QString &dest, bool multipleTopLevel, const QString &title = {},
                bool asMailbox = false, const QString &rootUUID = {},
                const std::function<void(TDWRecoveryUserOperation &, const TDWRecoveryProgress &)> &onReport = {});

    static QByteArray contentsOf(const QString &path);
    // Every entry below `folder` (links not followed), relative to it, sorted.
    static QStringList entriesUnder(const QString &folder);

    dotest::MetadataStack m_stack;
    QString m_backupFolder;
    QString m_accountDir;
    QString m_dest; // an empty folder for the request's output
    int m_itemNumber = 0;
};
