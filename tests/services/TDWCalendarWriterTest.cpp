#include "CalendarFixture.h"

#include "TestSupport.h"
#include "services/TDWCalendarEventStore.h"
#include "services/TDWCalendarWriter.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTimeZone>
#include <QThread>

namespace {

using namespace caltest;
using dotest::at;

class CalendarWriterTest : public CalendarFixture
{
protected:
    // Writes the revision's calendar file from the calendar's event store.
    bool write(const TDWManagedObjectID &revId, QString *lastError = nullptr)
    {
        const TDWDocRev::Ptr rev = revision(revId);
        TDWCalendarEventStore store(Alice);
        std::unique_ptr<TDWManagedObjectContext> eventMoc = store.getCalendarEventMoc(rev->doc());
        EXPECT_TRUE(eventMoc);
        TDWCalendarWriter writer(rev, eventMoc.get());
        const bool written = writer.writeCalendarFile();
        if (lastError)
            *lastError = writer.lastError();
        return written;
    }

    // Adds events straight to the calendar's event store.
    void storeEvents(const TDWManagedObjectID &revId, const QList<QVariantMap> &events)
    {
        TDWCalendarEventStore store(Alice);
        std::unique_ptr<TDWManagedObjectContext> eventMoc = store.getCalendarEventMoc(revision(revId)->doc());
        ASSERT_TRUE(eventMoc);
        for (const QVariantMap &json : events) {
            auto event = eventMoc->insertNew<TDWEvent>(QStringLiteral("Event"));
            event->setEventId(json.value(QStringLiteral("id")).toString());
            event->setRecurringEventId(json.value(QStringLiteral("recurringEventId")).toString());
            event->setDefaultTimeZone(QStringLiteral("Europe/Paris"));
            event->setEventJson(json);
        }
        ASSERT_TRUE(eventMoc->save(nullptr));
    }

    static QString fileText(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
};

TEST_F(CalendarWriterTest, IndependentReadersTakeTheExportedFileEventByEventBeforeAndAfterAChange)
{
    const TDWManagedObjectID firstId = seedCalendar(TDWDocRev::DownloadPending);
    ASSERT_TRUE(synchronise(firstId, at(1)));
    exportCalendar(firstId);
    ASSERT_EQ(revision(firstId)->exportStatus(), TDWDocRev::BackedUp) << revision(firstId)->lastExportFailureError().toStdString();
    const QString firstFile = backupFilePath(revision(firstId));
    EXPECT_EQ(icalendarProblems(firstFile, QStringLiteral("expected-first.json")), QString());

    // The written file's lines, as calendar programs have always read them.
    const QString text = fileText(firstFile);
    for (const char *line : {"PRODID:-//Tidewell//Tidewell Calendar Backup//EN", "DTSTART;TZID=Europe/Paris:20120304T090000",
                             "DTSTART;TZID=America/New_York:20120304T030000", "DTSTART;VALUE=DATE:20120305", "TRIGGER:-P1DT7H0M",
                             "TRIGGER:-PT0H10M", "TRIGGER:-PT24H0M", "DTSTAMP:20120304T050607Z", "LAST-MODIFIED:20120304T050607Z",
                             "CREATED:20120301T101112Z", "SUMMARY:Standup: daily\\; room 4\\, floor 2", "DESCRIPTION:Line one\\nLine two",
                             "SEQUENCE:3", "SEQUENCE:1", "LOCATION:", "ORGANIZER;CN=Dave:mailto:dave@example.com",
                             "ATTENDEE;CUTYPE=INDIVIDUAL;ROLE=OPT-PARTICIPANT;PARTSTAT=NEEDS-ACTION;CN=carol@example.com;X-NUM-GUESTS=0:mailto:"
                             "carol@example.com",
                             "EXDATE;TZID=Europe/Paris:20120320T150000", "RECURRENCE-ID;TZID=Europe/Paris:20120313T150000",
                             "ATTENDEE:mailto:alice@example.com", "BEGIN:VTIMEZONE", "TZID:America/New_York"}) {
        // Unfolded, so that a long line is found whole.
        EXPECT_TRUE(QString(text).replace(QStringLiteral("\r\n "), QString()).contains(QLatin1String(line) + QStringLiteral("\r\n"))) << line;
    }
    EXPECT_FALSE(text.contains(QLatin1String("ORGANIZER;CN=alice")));

    // An event changes; the new revision's file keeps the default reminders.
    QThread::msleep(1100);
    server.nextRun();
    ASSERT_TRUE(synchronise(firstId, at(2)));
    const TDWDocRev::Ptr changed = latestRevision();
    ASSERT_NE(changed->objectID(), firstId);
    exportCalendar(changed->objectID());
    ASSERT_EQ(revision(changed->objectID())->exportStatus(), TDWDocRev::BackedUp);
    EXPECT_EQ(icalendarProblems(backupFilePath(changed), QStringLiteral("expected-changed.json")), QString());
    EXPECT_EQ(icalendarProblems(firstFile, QStringLiteral("expected-first.json")), QString()) << "the older revision's file is kept";
}

// An event that cannot be written fails the whole file, whichever component it is in, and the
// file written before stays as it was.
TEST_F(CalendarWriterTest, AnEventThatCannotBeWrittenLeavesThePreviousFileWhole)
{
    const QVariantMap start{{QStringLiteral("dateTime"), QStringLiteral("2012-03-06T14:00:00Z")}};
    const QVariantMap series{{QStringLiteral("id"), QStringLiteral("s")}, {QStringLiteral("iCalUID"), QStringLiteral("s@google.com")},
                             {QStringLiteral("start"), start}, {QStringLiteral("end"), start},
                             {QStringLiteral("updated"), QStringLiteral("2012-03-04T05:06:07.123Z")}};
    struct Case
    {
        const char *name;
        QVariantMap instance; // differs from a good moved instance of the series
        QString error;
    };
    QVariantMap good = series;
    good.insert({{QStringLiteral("id"), QStringLiteral("s_1")}, {QStringLiteral("recurringEventId"), QStringLiteral("s")},
                 {QStringLiteral("originalStartTime"), start}});
    const QList<Case> cases{
        {"an update time without fraction", {{QStringLiteral("updated"), QStringLiteral("2012-03-04T05:06:07Z")}},
         QStringLiteral("Unable to find last dot")},
        {"an unknown zone", {{QStringLiteral("end"), QVariantMap{{QStringLiteral("dateTime"), QStringLiteral("2012-03-06T15:00:00Z")},
                                                                  {QStringLiteral("timeZone"), QStringLiteral("Mars/Olympus")}}}},
         QStringLiteral("Unknown time zone: Mars/Olympus")},
        {"no original start", {{QStringLiteral("originalStartTime"), QVariant()}}, QStringLiteral("RECURRENCE-ID")},
    };
    const TDWManagedObjectID revId = seedCalendar(TDWDocRev::DownloadPending);
    storeEvents(revId, {series});
    ASSERT_TRUE(write(revId));
    const QString path = backupFilePath(revision(revId));
    const QString before = fileText(path);
    ASSERT_TRUE(before.contains(QLatin1String("UID:s@google.com")));

    for (int n = 0; n < cases.size(); ++n) {
        const Case &c = cases[n];
        SCOPED_TRACE(c.name);
        QVariantMap instance = good;
        instance.insert(QStringLiteral("id"), QStringLiteral("s_bad%1").arg(n));
        for (auto it = c.instance.cbegin(); it != c.instance.cend(); ++it) {
            if (it.value().isNull())
                instance.remove(it.key());
            else
                instance.insert(it.key(), it.value());
        }
        const TDWManagedObjectID caseRev = revId;
        storeEvents(caseRev, {instance});
        QString error;
        tdwtest::LogCapture log;
        EXPECT_FALSE(write(caseRev, &error));
        EXPECT_TRUE(error.contains(c.error)) << error.toStdString();
        EXPECT_EQ(fileText(path), before);
        // Taken out again for the next case.
        TDWCalendarEventStore store(Alice);
        auto eventMoc = store.getCalendarEventMoc(revision(revId)->doc());
        eventMoc->deleteObject(TDWEvent::byEventId(instance.value(QStringLiteral("id")).toString(), *eventMoc));
        ASSERT_TRUE(eventMoc->save(nullptr));
    }
    // The good instance is written as a component of its own with the series' UID.
    storeEvents(revId, {good});
    ASSERT_TRUE(write(revId));
    const QString after = fileText(path);
    EXPECT_EQ(after.count(QLatin1String("BEGIN:VEVENT")), 2);
    EXPECT_EQ(after.count(QLatin1String("END:VEVENT")), 2);
    EXPECT_EQ(after.count(QLatin1String("UID:s@google.com")), 2);
}

// The server's recurrence lines go into the file as they are, but only those a reader can take:
// a malformed rule would make readers refuse the event or the whole file.
TEST_F(CalendarWriterTest, OnlyRecurrenceLinesAReaderCanTakeAreWritten)
{
    const QStringList kept{QStringLiteral("RRULE:FREQ=WEEKLY;BYDAY=MO,-1FR;UNTIL=20120401T000000Z;WKST=SU"),
                           QStringLiteral("EXDATE;TZID=Europe/Paris:20120320T150000,20120327T150000")};
    const QStringList dropped{QStringLiteral("RRULE:FREQ=DAILY\nX-INJECTED:1"), QStringLiteral("RRULE:FREQ=SOMETIMES"),
                              QStringLiteral("RRULE:COUNT=3"), QStringLiteral("RRULE:FREQ=DAILY;UNTIL=soon"),
                              QStringLiteral("RRULE:FREQ=DAILY;BYDAY=XX"), QStringLiteral("X-FOO:bar"), QStringLiteral("EXDATE:tomorrow")};
    const QVariantMap start{{QStringLiteral("dateTime"), QStringLiteral("2012-03-06T14:00:00Z")},
                            {QStringLiteral("timeZone"), QStringLiteral("Europe/Paris")}};
    const TDWManagedObjectID revId = seedCalendar(TDWDocRev::DownloadPending);
    storeEvents(revId, {{{QStringLiteral("id"), QStringLiteral("r")},
                         {QStringLiteral("iCalUID"), QStringLiteral("r@google.com")},
                         {QStringLiteral("summary"), QStringLiteral("Rules")},
                         {QStringLiteral("start"), start},
                         {QStringLiteral("end"), start},
                         {QStringLiteral("recurrence"), QVariant(kept + dropped)},
                         {QStringLiteral("updated"), QStringLiteral("2012-03-04T05:06:07.123Z")}}});
    ASSERT_TRUE(write(revId));
    const QString path = backupFilePath(revision(revId));
    const QString text = fileText(path).replace(QStringLiteral("\r\n "), QString());
    for (const QString &line : kept)
        EXPECT_TRUE(text.contains(line + QStringLiteral("\r\n"))) << line.toStdString();
    for (const QString &line : dropped)
        EXPECT_FALSE(text.contains(line.section(u'\n', 0, 0) + QStringLiteral("\r\n"))) << line.toStdString();
    EXPECT_FALSE(text.contains(QLatin1String("INJECTED")));
    EXPECT_EQ(icalendarProblems(path, QJsonArray{QJsonObject{{QStringLiteral("uid"), QStringLiteral("r@google.com")},
                                                             {QStringLiteral("summary"), QStringLiteral("Rules")},
                                                             {QStringLiteral("start"), QStringLiteral("2012-03-06T14:00:00Z")},
                                                             {QStringLiteral("exdates"), QJsonArray{QStringLiteral("2012-03-20T14:00:00Z"),
                                                                                                    QStringLiteral("2012-03-27T13:00:00Z")}}}}),
              QString());
}

// Every zone Qt knows, in a summer and a winter of a year drawn at random: both readers take the
// file and find each event at the instant it has on the server. Qt's own zero-offset zones ("UTC")
// are written in UTC, every other zone as local times with its VTIMEZONE.
TEST_F(CalendarWriterTest, IndependentReadersTakeEveryZoneQtKnows)
{
    QList<QByteArray> ids = QTimeZone::availableTimeZoneIds();
    ids << "Etc/UTC" << "GMT";
    QRandomGenerator random(27);
    QList<QVariantMap> events;
    QJsonArray expected;
    const auto rfc3339 = [](const QDateTime &instant) { return instant.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'")); };
    for (const QByteArray &id : std::as_const(ids)) {
        const QTimeZone zone(id);
        const int year = random.bounded(2000, 2031);
        for (const int month : {1, 7}) {
            const QString uid = QStringLiteral("z%1@google.com").arg(events.size());
            // Local noon, which no zone's change makes ambiguous.
            const QDateTime start(QDate(year, month, random.bounded(1, 29)), QTime(12, 0), zone);
            const QDateTime end = start.addSecs(3600);
            const QVariantMap json{{QStringLiteral("id"), QStringLiteral("z%1").arg(events.size())},
                                   {QStringLiteral("iCalUID"), uid},
                                   {QStringLiteral("summary"), QString::fromUtf8(id)},
                                   {QStringLiteral("start"), QVariantMap{{QStringLiteral("dateTime"), rfc3339(start)},
                                                                         {QStringLiteral("timeZone"), QString::fromUtf8(id)}}},
                                   {QStringLiteral("end"), QVariantMap{{QStringLiteral("dateTime"), rfc3339(end)},
                                                                       {QStringLiteral("timeZone"), QString::fromUtf8(id)}}},
                                   {QStringLiteral("updated"), QStringLiteral("2012-03-04T05:06:07.123Z")}};
            events << json;
            expected.append(QJsonObject{{QStringLiteral("uid"), uid},
                                        {QStringLiteral("summary"), QString::fromUtf8(id)},
                                        {QStringLiteral("start"), rfc3339(start)},
                                        {QStringLiteral("end"), rfc3339(end)}});
        }
    }
    const TDWManagedObjectID revId = seedCalendar(TDWDocRev::DownloadPending);
    storeEvents(revId, events);
    QString error;
    ASSERT_TRUE(write(revId, &error)) << error.toStdString();
    const QString path = backupFilePath(revision(revId));
    EXPECT_EQ(icalendarProblems(path, expected), QString());

    const QString text = fileText(path);
    EXPECT_FALSE(text.contains(QLatin1String("TZID:UTC\r\n")));
    EXPECT_TRUE(text.contains(QLatin1String("DTSTART;TZID=\"UTC+05:30\":"))) << "a TZID with a colon is quoted";
    EXPECT_TRUE(text.contains(QLatin1String("TZID:Etc/UTC\r\n")));
}

} // namespace
