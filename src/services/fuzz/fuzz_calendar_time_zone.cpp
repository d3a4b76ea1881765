// Any zone Qt knows over any span of years the calendar writer can ask for,
// with instants drawn from the input: the VTIMEZONE must be one a reader
// takes, and resolve every instant to the offset Qt gives it. Qt's own
// zero-offset zones, written in UTC instead, must really be UTC throughout.
#include "services/TDWCalendarTimeZone.h"

#include "VTimeZoneReader.h"

#include <cstdlib>
#include <cstring>

namespace {

// The writer's span of years (TDWCalendarWriter::addTimeZones).
constexpr int EarliestYear = 1900;
constexpr int LatestYear = 2200;

struct Reader
{
    const uint8_t *data;
    size_t size;

    quint32 next()
    {
        quint32 value = 0;
        const size_t n = std::min<size_t>(4, size);
        std::memcpy(&value, data, n);
        data += n;
        size -= n;
        return value;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QList<QByteArray> ids = [] {
        QList<QByteArray> all = QTimeZone::availableTimeZoneIds();
        all << "Etc/UTC" << "GMT" << "Etc/GMT+12" << "Etc/GMT-14";
        return all;
    }();
    Reader in{data, size};
    const QByteArray id = ids.at(in.next() % ids.size());
    const QTimeZone zone(id);
    const int firstYear = EarliestYear + int(in.next() % (LatestYear - EarliestYear + 1));
    // Spans as long as the writer's (the last local time and ten years), most of them short.
    const int lastYear = std::min(LatestYear, firstYear + int(in.next() % 41));

    QString problem;
    const std::optional<QList<tztest::ZoneChange>> changes
        = tztest::readComponent(TDWCalendarTimeZone::componentLines(zone, firstYear, lastYear), id, &problem);
    if (!changes) {
        qWarning("%s %d-%d: %s", id.constData(), firstYear, lastYear, qPrintable(problem));
        std::abort();
    }
    const qint64 from = QDateTime(QDate(firstYear, 1, 1), QTime(0, 0), QTimeZone::utc()).toSecsSinceEpoch();
    const qint64 to = QDateTime(QDate(lastYear, 12, 31), QTime(23, 59, 59), QTimeZone::utc()).toSecsSinceEpoch();
    QList<QDateTime> instants;
    while (in.size > 0 && instants.size() < 64) {
        const quint64 draw = (quint64(in.next()) << 32) | in.next();
        instants << QDateTime::fromSecsSinceEpoch(from + qint64(draw % quint64(to - from + 1)), QTimeZone::utc());
    }
    for (const tztest::ZoneChange &change : *changes) {
        if (change.onsetUtc.toSecsSinceEpoch() >= from && change.onsetUtc.toSecsSinceEpoch() <= to)
            instants << change.onsetUtc << change.onsetUtc.addSecs(-1);
    }
    problem = tztest::disagreement(zone, *changes, instants);
    if (!problem.isEmpty()) {
        qWarning("%s %d-%d: %s", id.constData(), firstYear, lastYear, qPrintable(problem));
        std::abort();
    }
    if (TDWCalendarTimeZone::isUtc(zone)) {
        for (const QDateTime &instant : std::as_const(instants)) {
            if (zone.offsetFromUtc(instant) != 0)
                std::abort();
        }
    }
    return 0;
}
