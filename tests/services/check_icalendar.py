"""Reads an iCalendar file with two independent readers (python3-vobject and python3-icalendar)
and compares it, event by event, with the expected events of a JSON file.

    python3 check_icalendar.py calendar.ics expected.json
    python3 check_icalendar.py --serve

The second form (for the calendar writer's fuzzer) reads pairs of paths, "calendar.ics<TAB>expected.json",
from standard input, one a line, and answers each on one line: "ok", or the differences.

Each expected event names only what it checks: "uid", "recurrence_id" (UTC instant, null for
none), "summary", "description", "location", "start" and "end" (UTC instants as
"2012-03-04T08:00:00Z", or dates as "2012-03-05"), "tzid", "rrule", "exdates" (UTC instants),
"alarms" ([action, trigger in seconds] in file order, the fixed ACTION:NONE alarms left out),
"organizer", "attendees", "class", "transp", "last_modified". Both readers must also find a
PRODID, VERSION 2.0 and a VTIMEZONE for every TZID; icalendar's own view of each VTIMEZONE
turns the local times into the instants compared. Prints each difference; exit status 1 when
there is one."""
import datetime
import json
import sys

import icalendar
import vobject

UTC = datetime.timezone.utc


def instant(value):
    if isinstance(value, datetime.datetime):
        if value.tzinfo is None:
            raise ValueError("a floating date-time: %s" % value)
        return value.astimezone(UTC).strftime("%Y-%m-%dT%H:%M:%SZ")
    return value.isoformat()


def seconds(delta):
    return int(delta.total_seconds())


def zone_name(value):
    """The TZID that vobject resolved a date-time with (it keeps it on the value's zone)."""
    if isinstance(value, datetime.datetime) and value.tzinfo is not None:
        return vobject.icalendar.TimezoneComponent.pickTzid(value.tzinfo)
    return None


def with_vobject(text):
    calendar = vobject.readOne(text)
    assert calendar.prodid.value, "no PRODID"
    assert calendar.version.value == "2.0", "not version 2.0"
    zones = {z.tzid.value for z in calendar.contents.get("vtimezone", [])}
    events = []
    for event in calendar.contents.get("vevent", []):
        recurrence = event.contents.get("recurrence-id")
        found = {
            "uid": event.uid.value,
            "recurrence_id": instant(recurrence[0].value) if recurrence else None,
            "summary": event.summary.value,
            "description": event.description.value,
            "location": event.location.value,
            "start": instant(event.dtstart.value),
            "end": instant(event.dtend.value) if "dtend" in event.contents else None,
            "tzid": zone_name(event.dtstart.value),
            "rrule": event.rrule.value if "rrule" in event.contents else None,
            "exdates": [instant(d) for line in event.contents.get("exdate", []) for d in line.value],
            "alarms": [[a.action.value, seconds(a.trigger.value)] for a in event.contents.get("valarm", [])
                       if a.action.value != "NONE"],
            "organizer": event.organizer.value if "organizer" in event.contents else None,
            "attendees": sorted(a.value for a in event.contents.get("attendee", [])),
            "class": event.contents["class"][0].value if "class" in event.contents else None,
            "transp": event.transp.value,
            "last_modified": event.contents["last-modified"][0].value.strftime("%Y%m%dT%H%M%SZ"),
        }
        for label in ("dtstart", "dtend", "recurrence-id", "exdate"):
            for line in event.contents.get(label, []):
                for value in line.value if isinstance(line.value, list) else [line.value]:
                    tzid = zone_name(value)
                    assert tzid is None or tzid in zones, "TZID %s without VTIMEZONE" % tzid
        events.append(found)
    return events


def with_icalendar(text):
    calendar = icalendar.Calendar.from_ical(text)
    assert calendar.get("PRODID"), "no PRODID"
    assert str(calendar.get("VERSION")) == "2.0", "not version 2.0"
    zones = {str(z["TZID"]): z.to_tz() for z in calendar.walk("VTIMEZONE")}

    def when(prop):
        return instant_with(zones, prop.params.get("TZID"), prop.dt)

    def listed(value):
        return value if isinstance(value, list) else [value]

    events = []
    for event in calendar.walk("VEVENT"):
        exdates = [when_exdate for line in listed(event.get("EXDATE", []))
                   for when_exdate in (instant_with(zones, line.params.get("TZID"), d.dt) for d in line.dts)]
        found = {
            "uid": str(event["UID"]),
            "recurrence_id": when(event["RECURRENCE-ID"]) if "RECURRENCE-ID" in event else None,
            "summary": str(event["SUMMARY"]),
            "description": str(event["DESCRIPTION"]),
            "location": str(event["LOCATION"]),
            "start": when(event["DTSTART"]),
            "end": when(event["DTEND"]) if "DTEND" in event else None,
            "tzid": event["DTSTART"].params.get("TZID"),
            "rrule": event["RRULE"].to_ical().decode() if "RRULE" in event else None,
            "exdates": exdates,
            "alarms": [[str(a["ACTION"]), seconds(a["TRIGGER"].dt)] for a in event.walk("VALARM") if str(a["ACTION"]) != "NONE"],
            "organizer": str(event["ORGANIZER"]) if "ORGANIZER" in event else None,
            "attendees": sorted(str(a) for a in listed(event.get("ATTENDEE", []))),
            "class": str(event["CLASS"]) if "CLASS" in event else None,
            "transp": str(event["TRANSP"]),
            "last_modified": event["LAST-MODIFIED"].dt.strftime("%Y%m%dT%H%M%SZ"),
        }
        events.append(found)
    return events


def instant_with(zones, tzid, value):
    if tzid is not None:
        assert tzid in zones, "TZID %s without VTIMEZONE" % tzid
        value = zones[tzid].localize(value.replace(tzinfo=None))
    return instant(value)


def compare(reader, found, expected):
    problems = []
    by_key = {(e["uid"], e["recurrence_id"]): e for e in found}
    if len(by_key) != len(found):
        problems.append("%s: two events with the same UID and RECURRENCE-ID" % reader)
    if len(found) != len(expected):
        problems.append("%s: %d events, expected %d" % (reader, len(found), len(expected)))
    for want in expected:
        key = (want["uid"], want.get("recurrence_id"))
        have = by_key.get(key)
        if have is None:
            problems.append("%s: no event %s" % (reader, key))
            continue
        for name, value in want.items():
            if have.get(name) != value:
                problems.append("%s: event %s: %s is %r, expected %r" % (reader, key, name, have.get(name), value))
    return problems


def problems_of(ics_path, expected_path):
    with open(ics_path, encoding="utf-8", newline="") as f:
        text = f.read()
    with open(expected_path, encoding="utf-8") as f:
        expected = json.load(f)
    problems = []
    if "\r\n" not in text or "\n" in text.replace("\r\n", ""):
        problems.append("lines do not all end in CR LF")
    for reader, read in (("vobject", with_vobject), ("icalendar", with_icalendar)):
        try:
            problems += compare(reader, read(text), expected)
        except Exception as e:  # a reader that refuses the file is the finding
            problems.append("%s: %s: %s" % (reader, type(e).__name__, e))
    return problems


def serve():
    # vobject keeps every VTIMEZONE it read by TZID for the whole process; each file is read as
    # a fresh reader would, with its own zones.
    zones = getattr(vobject.icalendar, "__tzidMap")
    known = dict(zones)
    for line in sys.stdin:
        ics_path, expected_path = line.rstrip("\n").split("\t")
        zones.clear()
        zones.update(known)
        try:
            problems = problems_of(ics_path, expected_path)
        except Exception as e:  # a file that cannot be read at all is the finding too
            problems = ["%s: %s" % (type(e).__name__, e)]
        print("ok" if not problems else " / ".join(problems).replace("\n", " "), flush=True)


def main():
    if sys.argv[1:] == ["--serve"]:
        serve()
        return
    problems = problems_of(sys.argv[1], sys.argv[2])
    for problem in problems:
        print(problem)
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
