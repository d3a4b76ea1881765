"""Tasks v1: the user's task lists, paged by nextPageToken."""
import urllib.parse

from fakegoogle.config import TASKS_SCOPE
from fakegoogle.pages import item_etag, json_page, list_endpoint, token_page_content, token_paged

HOST = "www.googleapis.com"
SERVICE = "tasks"
PATH = "/tasks/v1/users/@me/lists"
DEFAULT_PAGE, MAX_PAGE = 20, 100


def register(router, state, table):
    handler = list_endpoint(state, TASKS_SCOPE, lambda r, a: task_lists(state, r, a))
    # A client may send the "@" of the path escaped.
    for path in (PATH, PATH.replace("@", "%40")):
        router.add("GET", HOST, path, handler)


def task_list_entry(record):
    return {"kind": "tasks#taskList", "id": record.id, "etag": item_etag(record),
            "title": record.fields.get("title", ""), "updated": record.modified,
            "selfLink": "https://%s/tasks/v1/users/@me/lists/%s" % (HOST, urllib.parse.quote(record.id, safe=""))}


def task_lists(state, request, account):
    records = [r for r in state.lists.items(account, SERVICE, "tasklists") if not r.trashed]
    page, next_token = token_paged(request, state.lists, records, DEFAULT_PAGE, MAX_PAGE)
    return json_page(request, "tasks#taskLists", token_page_content([task_list_entry(r) for r in page], next_token))
