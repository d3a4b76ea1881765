// Hostile calendar events through the iCalendar writer: the input gives up to
// four events, each with its text fields (uid, summary, description,
// location, organizer, attendee, recurrence line, reminder method), a zone of
// those Qt knows and start and end instants. Every file written must be
// CR LF lines, and is read back by the checker the writer's own tests
// use (tests/services/check_icalendar.py, both Python readers), which must
// find each event with its text and instants. Any difference aborts, so the
// fuzzer reports it.
#include "FuzzWriterStack.h"
#include "dataobjects/TDWCalendarEventModel.h"
#include "dataobjects/TDWEvent.h"
#include "platform/store/TDWPersistentStoreCoordinator.h"
#include "services/TDWCalendarWriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTimeZone>

#include <cstring>

namespace {

using fuzzwriters::check;

struct Reader
{
    QList<QByteArray> parts;
    qsizetype next = 0;

    // python3-icalendar unescapes "\n" before "\\", so it reads an escaped backslash before "n",
    // ",", or ";" wrongly (a fault of that reader: the file is right); the texts avoid it.
    QString text()
    {
        static const QRegularExpression readerFault(QStringLiteral("\\\\+(?=[nN,;])"));
        return QString::fromUtf8(parts.value(next++)).remove(readerFault);
    }
    quint32 number()
    {
        const QByteArray bytes = parts.value(next++);
        quint32 value = 0;
        std::memcpy(&value, bytes.constData(), std::min<size_t>(4, size_t(bytes.size())));
        return value;
    }
};

// What a reader makes of a text value: line breaks of any kind read back as one LF.
QString asRead(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
}

QString utc(const QDateTime &instant)
{
    return instant.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzwriters::ensureApplication();
    static fuzzwriters::Stack stack(QStringLiteral("calendar"), QStringLiteral("check_icalendar.py"));
    static const QList<QByteArray> zones = QTimeZone::availableTimeZoneIds();

    // A calendar event store of this input alone.
    const QString storePath = QDir(stack.folder()).filePath(QStringLiteral("events.sqlite3"));
    QFile::remove(storePath);
    auto coordinator = std::make_shared<TDWPersistentStoreCoordinator>(TDWCalendarEventModel::model());
    TDWError error;
    check(bool(coordinator->addPersistentStore(TDWCalendarEventModel::Configuration, storePath, {}, &error)), "no event store");
    TDWManagedObjectContext events(coordinator);

    Reader in{QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)).split('\0')};
    QJsonArray expected;
    // Instants from 1970 to 2100, the span calendars hold.
    constexpr qint64 Span = 4102444800LL;
    for (int n = 0; n < 4 && in.next < in.parts.size(); ++n) {
        // Numbered, so that no two events share a UID.
        const QString uid = in.text() + QStringLiteral("-%1").arg(n);
        const QString summary = in.text();
        const QString description = in.text();
        const QString location = in.text();
        const QString organizer = in.text();
        const QString attendee = in.text();
        const QString recurrence = in.text();
        const QString method = in.text();
        const QTimeZone zone(zones.value(in.number() % zones.size()));
        const QDateTime start = QDateTime::fromSecsSinceEpoch(qint64(in.number()) * 31 % Span, QTimeZone::utc());
        const QDateTime end = start.addSecs(in.number() % 864000);
        const QString zoneName = QString::fromUtf8(zone.id());
        QVariantMap json{{QStringLiteral("id"), QStringLiteral("e%1").arg(n)},
                         {QStringLiteral("iCalUID"), uid},
                         {QStringLiteral("summary"), summary},
                         {QStringLiteral("description"), description},
                         {QStringLiteral("location"), location},
                         {QStringLiteral("start"), QVariantMap{{QStringLiteral("dateTime"), utc(start)}, {QStringLiteral("timeZone"), zoneName}}},
                         {QStringLiteral("end"), QVariantMap{{QStringLiteral("dateTime"), utc(end)}, {QStringLiteral("timeZone"), zoneName}}},
                         {QStringLiteral("updated"), QStringLiteral("2012-03-04T05:06:07.123Z")},
                         {QStringLiteral("organizer"), QVariantMap{{QStringLiteral("email"), organizer}, {QStringLiteral("displayName"), attendee}}},
                         {QStringLiteral("attendees"), QVariantList{QVariantMap{{QStringLiteral("email"), attendee},
                                                                                {QStringLiteral("displayName"), organizer}}}},
                         {QStringLiteral("reminders"), QVariantMap{{QStringLiteral("overrides"),
                                                                    QVariantList{QVariantMap{{QStringLiteral("method"), method},
                                                                                             {QStringLiteral("minutes"), start.time().second()}}}}}}};
        json.insert(QStringLiteral("recurrence"), QVariantList{recurrence});
        auto event = events.insertNew<TDWEvent>(QStringLiteral("Event"));
        event->setEventId(json.value(QStringLiteral("id")).toString());
        event->setDefaultTimeZone(zoneName);
        event->setEventJson(json);
        expected.append(QJsonObject{{QStringLiteral("uid"), asRead(uid)},
                                    {QStringLiteral("summary"), asRead(summary)},
                                    {QStringLiteral("description"), asRead(description)},
                                    {QStringLiteral("location"), asRead(location)},
                                    {QStringLiteral("start"), utc(start)},
                                    {QStringLiteral("end"), utc(end)}});
    }
    check(events.save(&error), "the events were not saved");

    const TDWDocRev::Ptr rev = stack.revision(QStringLiteral("calendar"), QStringLiteral("ics"));
    TDWCalendarWriter writer(rev, &events);
    if (writer.writeCalendarFile()) {
        const QString path = stack.onDisk(rev);
        const QByteArray file = fuzzwriters::readAll(path);
        check(fuzzwriters::wellEnded(file), "a line badly ended", file);
        const QString expectedPath = QDir(stack.folder()).filePath(QStringLiteral("expected.json"));
        QFile expectedFile(expectedPath);
        check(expectedFile.open(QIODevice::WriteOnly) && expectedFile.write(QJsonDocument(expected).toJson()) > 0, "no expected file");
        expectedFile.close();
        const QByteArray answer = stack.read(QFile::encodeName(path) + '\t' + QFile::encodeName(expectedPath));
        check(answer == "ok", answer.constData(), file);
    }
    stack.remove(rev);
    return 0;
}
