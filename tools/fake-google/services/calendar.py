"""Calendar v3: the user's calendar list, paged by nextPageToken."""
from fakegoogle.pages import item_etag, json_page, list_endpoint, token_page_content, token_paged

HOST = "www.googleapis.com"
SERVICE = "calendar"
DEFAULT_PAGE, MAX_PAGE = 100, 250


def register(router, state, table):
    scope = table.service(SERVICE).get("oauthScope")
    router.add("GET", HOST, "/calendar/v3/users/me/calendarList",
               list_endpoint(state, scope, lambda r, a: calendar_list(state, r, a)))


def calendar_entry(record):
    """Scenario keys pass through as they are ("summary", "accessRole", "primary", ...)."""
    entry = {"kind": "calendar#calendarListEntry", "etag": item_etag(record), "accessRole": "owner"}
    entry.update({k: v for k, v in record.fields.items() if k not in ("parents", "modified")})
    return {k: v for k, v in entry.items() if v is not None}


def calendar_list(state, request, account):
    records = [r for r in state.lists.items(account, SERVICE, "calendars") if not r.trashed]
    page, next_token = token_paged(request, state.lists, records, DEFAULT_PAGE, MAX_PAGE)
    return json_page(request, "calendar#calendarList", token_page_content([calendar_entry(r) for r in page], next_token))
