// The VTIMEZONE of every zone Qt knows: well formed, with offsets a reader
// accepts, and resolving every instant of its span to the offset Qt gives.
#include "services/TDWCalendarTimeZone.h"

#include "VTimeZoneReader.h"

#include <gtest/gtest.h>

namespace {

TEST(TDWCalendarTimeZone, EveryZoneGivesAComponentThatResolvesAsQtDoes)
{
    QList<QByteArray> ids = QTimeZone::availableTimeZoneIds();
    // Names Qt takes without listing them.
    ids << "Etc/UTC" << "GMT" << "Etc/GMT+5" << "Etc/GMT-14";
    ASSERT_GT(ids.size(), 300);
    const struct
    {
        int firstYear;
        int lastYear;
    } spans[] = {{2012, 2022}, {1900, 1912}, {1969, 1971}, {2190, 2200}};
    for (const QByteArray &id : std::as_const(ids)) {
        SCOPED_TRACE(id.constData());
        const QTimeZone zone(id);
        ASSERT_TRUE(zone.isValid());
        for (const auto &span : spans) {
            SCOPED_TRACE(span.firstYear);
            QString problem;
            const std::optional<QList<tztest::ZoneChange>> changes
                = tztest::readComponent(TDWCalendarTimeZone::componentLines(zone, span.firstYear, span.lastYear), id, &problem);
            ASSERT_TRUE(changes) << problem.toStdString();
            // Every day of the span at a varying hour, and each change's own second and the one before.
            const QDateTime from(QDate(span.firstYear, 1, 1), QTime(0, 0), QTimeZone::utc());
            const QDateTime to(QDate(span.lastYear, 12, 31), QTime(23, 59), QTimeZone::utc());
            QList<QDateTime> instants;
            for (QDateTime t = from; t <= to; t = t.addSecs(86400 + 3607))
                instants << t;
            for (const tztest::ZoneChange &change : *changes) {
                if (change.onsetUtc >= from && change.onsetUtc <= to)
                    instants << change.onsetUtc << change.onsetUtc.addSecs(-1);
            }
            EXPECT_EQ(tztest::disagreement(zone, *changes, instants).toStdString(), "");
        }
    }
}

TEST(TDWCalendarTimeZone, OnlyQtsOwnZerosAreWrittenInUtc)
{
    for (const char *id : {"UTC", "UTC+00:00", "UTC-00:00"})
        EXPECT_TRUE(TDWCalendarTimeZone::isUtc(QTimeZone(id))) << id;
    // Zones readers know by name keep their VTIMEZONE, whatever their offset.
    for (const char *id : {"Etc/UTC", "GMT", "Africa/Abidjan", "UTC+01:00", "Europe/London"})
        EXPECT_FALSE(TDWCalendarTimeZone::isUtc(QTimeZone(id))) << id;
}

} // namespace
