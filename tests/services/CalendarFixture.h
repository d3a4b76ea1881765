#pragma once

#include "DataObjectsTestSupport.h"
#include "FakeGoogleServer.h"

#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "platform/store/TDWManagedObjectID.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <gtest/gtest.h>

namespace caltest {

inline const QString Alice = QStringLiteral("alice@example.com");

// Alice's data folder with her calendar service, her access token in a file
// keyring, the fake Google server with her calendar's events
// (tests/services/fixtures/calendarevents/scenario.json), and her calendar
// "alice@example.com" as an item with one revision; the program's classes registered.
class CalendarFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    static QJsonObject scenario();
    // The calendar's item and its latest revision, made at iteration start at(1).
    TDWManagedObjectID seedCalendar(qint64 exportStatus, const QString &docId = Alice, const QString &accessRole = QStringLiteral("owner"));
    // Runs the calendar service's download, made by its name through the program's registry.
    void exportCalendar(const TDWManagedObjectID &docRevId);
    // Runs one synchronisation of the revision to its end; whether it was successful.
    bool synchronise(const TDWManagedObjectID &docRevId, const QDateTime &iterationDate);
    TDWDoc::Ptr calendarDoc();
    TDWDocRev::Ptr revision(const TDWManagedObjectID &id);
    // The item's latest revision.
    TDWDocRev::Ptr latestRevision();
    // The calendar's event store file (empty while the item has none).
    QString eventStorePath();
    // The stored event ids in order, read by the sqlite3 shell.
    QString storedEventIds();
    // The full path of a revision's file in the backup folder.
    static QString backupFilePath(const TDWDocRev::Ptr &rev);
    // The problems the independent readers find in an iCalendar file compared
    // with the expected events of a fixture (tests/services/check_icalendar.py); empty when none.
    static QString icalendarProblems(const QString &icsPath, const QString &expectedFixture);
    // The same against expected events made by the test.
    static QString icalendarProblems(const QString &icsPath, const QJsonArray &expected);

    dotest::MetadataStack stack;
    tdwtest::FakeGoogleServer server;

private:
    static QString icalendarProblemsAgainst(const QString &icsPath, const QString &expectedPath);
};

} // namespace caltest
