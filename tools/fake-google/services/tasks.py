"""Tasks v1: the user's task lists, and each list's tasks, paged by nextPageToken."""
import urllib.parse

from fakegoogle.http import google_error
from fakegoogle.pages import item_etag, json_page, list_endpoint, token_page_content, token_paged

HOST = "www.googleapis.com"
SERVICE = "tasks"
PATH = "/tasks/v1/users/@me/lists"
DEFAULT_PAGE, MAX_PAGE = 20, 100
TASKS_PREFIX = "/tasks/v1/lists/"
TASKS_DEFAULT_PAGE, TASKS_MAX_PAGE = 20, 100
# Scenario keys of a task that Google sends as they are ("parent" names the task it is nested under).
TASK_KEYS = ("title", "notes", "status", "due", "completed", "position", "parent", "hidden")


def register(router, state, table):
    scope = table.service(SERVICE).get("oauthScope")
    handler = list_endpoint(state, scope, lambda r, a: task_lists(state, r, a))
    # A client may send the "@" of the path escaped.
    for path in (PATH, PATH.replace("@", "%40")):
        router.add("GET", HOST, path, handler)
    router.add_prefix("GET", HOST, TASKS_PREFIX, list_endpoint(state, scope, lambda r, a: tasks(state, r, a)))


def self_link(path):
    return "https://%s%s" % (HOST, path)


def task_list_entry(record):
    return {"kind": "tasks#taskList", "id": record.id, "etag": item_etag(record),
            "title": record.fields.get("title", ""), "updated": record.modified,
            "selfLink": self_link("%s/%s" % (PATH, urllib.parse.quote(record.id, safe="")))}


def task_lists(state, request, account):
    records = [r for r in state.lists.items(account, SERVICE, "tasklists") if not r.trashed]
    page, next_token = token_paged(request, state.lists, records, DEFAULT_PAGE, MAX_PAGE)
    return json_page(request, "tasks#taskLists", token_page_content([task_list_entry(r) for r in page], next_token))


def task_resource(record, list_id):
    """A task as Google sends it: "parent" only for a nested one, "completed" only for a done one."""
    fields = record.fields
    task = {"kind": "tasks#task", "id": record.id, "etag": item_etag(record), "title": fields.get("title", ""),
            "updated": record.modified, "position": fields.get("position", "00000000000000000000"),
            "status": fields.get("status", "needsAction"),
            "selfLink": self_link("%s%s/tasks/%s" % (TASKS_PREFIX, urllib.parse.quote(list_id, safe=""),
                                                      urllib.parse.quote(record.id, safe="")))}
    task.update({k: fields[k] for k in TASK_KEYS if fields.get(k) is not None})
    return task


def tasks(state, request, account):
    """GET /tasks/v1/lists/<task list id>/tasks: the tasks whose "parents" hold the list (percent-decoded),
    completed ones unless showCompleted=false; 404 for a list the account does not have."""
    rest = request.path[len(TASKS_PREFIX):]
    if not rest.endswith("/tasks") or "/" in rest[:-len("/tasks")]:
        return google_error(404, "notFound", "Not Found")
    list_id = urllib.parse.unquote(rest[:-len("/tasks")])
    if list_id not in {r.id for r in state.lists.items(account, SERVICE, "tasklists") if not r.trashed}:
        return google_error(404, "notFound", "Not Found")
    show_completed = request.query.get("showCompleted") != "false"
    records = [r for r in state.lists.items(account, SERVICE, "tasks")
               if not r.trashed and list_id in r.parents
               and (show_completed or r.fields.get("status") != "completed")]
    page, next_token = token_paged(request, state.lists, records, TASKS_DEFAULT_PAGE, TASKS_MAX_PAGE)
    return json_page(request, "tasks#tasks", token_page_content([task_resource(r, list_id) for r in page], next_token))
