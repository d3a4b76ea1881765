"""Calendar v3: the user's calendar list, and each calendar's events, paged by nextPageToken."""
import datetime
import urllib.parse

from fakegoogle.http import google_error
from fakegoogle.pages import BadRequest, item_etag, json_page, list_endpoint, token_page_content, token_paged

HOST = "www.googleapis.com"
SERVICE = "calendar"
DEFAULT_PAGE, MAX_PAGE = 100, 250
EVENTS_PREFIX = "/calendar/v3/calendars/"
EVENTS_DEFAULT_PAGE, EVENTS_MAX_PAGE = 250, 2500
# Keys of a calendar list entry that describe the calendar's events list rather than the entry.
EVENTS_PAGE_KEYS = ("timeZone", "defaultReminders")


def register(router, state, table):
    scope = table.service(SERVICE).get("oauthScope")
    router.add("GET", HOST, "/calendar/v3/users/me/calendarList",
               list_endpoint(state, scope, lambda r, a: calendar_list(state, r, a)))
    router.add_prefix("GET", HOST, EVENTS_PREFIX, list_endpoint(state, scope, lambda r, a: events(state, r, a)))


def calendar_entry(record):
    """Scenario keys pass through as they are ("summary", "accessRole", "primary", ...)."""
    entry = {"kind": "calendar#calendarListEntry", "etag": item_etag(record), "accessRole": "owner"}
    entry.update({k: v for k, v in record.fields.items() if k not in ("parents", "modified")})
    return {k: v for k, v in entry.items() if v is not None}


def calendar_list(state, request, account):
    records = [r for r in state.lists.items(account, SERVICE, "calendars") if not r.trashed]
    page, next_token = token_paged(request, state.lists, records, DEFAULT_PAGE, MAX_PAGE)
    return json_page(request, "calendar#calendarList", token_page_content([calendar_entry(r) for r in page], next_token))


def rfc3339(seconds):
    return datetime.datetime.fromtimestamp(seconds, datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%S.%f")[:-3] + "Z"


def parse_rfc3339(text):
    try:
        return datetime.datetime.fromisoformat(text.replace("Z", "+00:00")).timestamp()
    except ValueError:
        raise BadRequest("Invalid updatedMin: %r" % text)


def event_updated(record):
    """An event's own "updated" when the scenario gives one, else the time of its last change."""
    return record.fields.get("updated") or rfc3339(record.changed_at)


def event_resource(record):
    """A live event with the keys Google always sends; scenario keys pass through. A deleted
    event keeps only what Google keeps: its id, etag, "cancelled" status and update time."""
    if record.deleted or record.trashed:
        return {"kind": "calendar#event", "id": record.id, "etag": item_etag(record), "status": "cancelled",
                "updated": rfc3339(record.changed_at)}
    updated = event_updated(record)
    event = {"kind": "calendar#event", "id": record.id, "etag": item_etag(record), "status": "confirmed",
             "created": updated, "updated": updated, "iCalUID": record.id + "@google.com"}
    # A key set to null by a change falls back to what Google would send.
    event.update({k: v for k, v in record.fields.items() if k not in ("parents", "modified") and v is not None})
    return event


def events(state, request, account):
    """GET /calendar/v3/calendars/<calendar id>/events. Without updatedMin the live events,
    the cancelled instances of recurring series included (as Google lists them); updatedMin
    keeps the events changed at or after it, and showDeleted=true adds the deleted ones."""
    rest = request.path[len(EVENTS_PREFIX):]
    if not rest.endswith("/events") or "/" in rest[:-len("/events")]:
        return google_error(404, "notFound", "Not Found")
    calendar_id = urllib.parse.unquote(rest[:-len("/events")])
    calendars = {r.id: r for r in state.lists.items(account, SERVICE, "calendars") if not r.trashed}
    calendar = calendars.get(calendar_id)
    if calendar is None:
        return google_error(404, "notFound", "Not Found")
    updated_min = request.query.get("updatedMin")
    show_deleted = request.query.get("showDeleted") == "true"
    records = [r for r in state.lists.items(account, SERVICE, "events", include_deleted=show_deleted)
               if calendar_id in r.parents and (show_deleted or not r.trashed)]
    if updated_min is not None:
        since = parse_rfc3339(updated_min)
        records = [r for r in records if parse_rfc3339(event_resource(r)["updated"]) >= since]
    page, next_token = token_paged(request, state.lists, records, EVENTS_DEFAULT_PAGE, EVENTS_MAX_PAGE)
    content = {"summary": calendar.fields.get("summary", calendar_id), "accessRole": calendar.fields.get("accessRole", "owner"),
               "timeZone": calendar.fields.get("timeZone", "UTC"), "defaultReminders": calendar.fields.get("defaultReminders", [])}
    content.update(token_page_content([event_resource(r) for r in page], next_token))
    return json_page(request, "calendar#events", content)
