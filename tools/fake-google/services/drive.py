"""Drive v2: the largest change id, the file list with its include query, and the change list
from a start change id, paged by nextLink."""
import re
import threading
import urllib.parse
import weakref

from fakegoogle.content import content_response, content_size_and_md5
from fakegoogle.http import Response, json_response
from fakegoogle.pages import (BadRequest, int_param, item_etag, json_page, list_endpoint, same_url_with, token_page_content,
                              token_paged)

HOST = "www.googleapis.com"
EXPORT_HOST = "docs.google.com"
EXPORT_PATH = "/feeds/download/export"
FILES_PREFIX = "/drive/v2/files/"
SERVICE = "docs"
GOOGLE_APPS = "application/vnd.google-apps."
DEFAULT_PAGE, MAX_PAGE = 100, 1000
# Scenario keys that the fake turns into Drive's own fields.
SHAPED = {"id", "title", "mimeType", "starred", "hidden", "parents", "modified", "content", "size"}


def register(router, state, table):
    scope = table.service(SERVICE).get("oauthScope")
    exports = table.export_links()
    rendered = RenderedFiles(state, exports)
    router.add("GET", HOST, "/drive/v2/about", list_endpoint(state, scope, lambda r, a: about(state, r, a)))
    router.add("GET", HOST, "/drive/v2/files", list_endpoint(state, scope, lambda r, a: files(state, rendered, r, a)))
    router.add("GET", HOST, "/drive/v2/changes", list_endpoint(state, scope, lambda r, a: changes(state, rendered, r, a)))
    router.add_prefix("GET", HOST, FILES_PREFIX, list_endpoint(state, scope, lambda r, a: file_get(state, exports, r, a)))
    router.add("GET", EXPORT_HOST, EXPORT_PATH, list_endpoint(state, scope, lambda r, a: export(state, exports, r, a)))


def about(state, request, account):
    largest = str(state.lists.largest_change_id(account, SERVICE))
    if request.query.get("fields") == "largestChangeId":
        return json_response(200, {"largestChangeId": largest})
    return json_response(200, {"kind": "drive#about", "name": account, "user": {"emailAddress": account},
                               "largestChangeId": largest, "rootFolderId": "root"})


def file_url(file_id):
    return "https://%s/drive/v2/files/%s" % (HOST, urllib.parse.quote(file_id, safe=""))


def file_object(record, exports):
    """The Drive file object of a record; scenario keys other than the shaped ones pass
    through unchanged, and a key given as null is left out."""
    fields = record.fields
    mime = fields.get("mimeType", "application/octet-stream")
    parents = record.parents or ["root"]
    file = {
        "kind": "drive#file", "id": record.id, "etag": item_etag(record), "selfLink": file_url(record.id),
        "title": fields.get("title", record.id), "mimeType": mime,
        "labels": {"starred": bool(fields.get("starred")), "hidden": bool(fields.get("hidden")),
                   "trashed": record.trashed, "restricted": False, "viewed": True},
        "modifiedDate": record.modified,
        "parents": [{"kind": "drive#parentReference", "id": p, "isRoot": p == "root"} for p in parents],
    }
    if mime in exports:
        file["exportLinks"] = {exports[mime]: "https://%s%s?id=%s&exportFormat=%s"
                               % (EXPORT_HOST, EXPORT_PATH, urllib.parse.quote(record.id, safe=""),
                                  urllib.parse.quote(exports[mime], safe=""))}
    elif not mime.startswith(GOOGLE_APPS):
        file["downloadUrl"] = file_url(record.id) + "?alt=media"
        size, md5 = content_size_and_md5(fields)
        file["fileSize"], file["md5Checksum"] = str(size), md5
    for key, value in fields.items():
        if key not in SHAPED:
            file[key] = value
    return {k: v for k, v in file.items() if v is not None}


class RenderedFiles:
    """Thread-safe. The file objects of records and the file lists of queries, worked out
    once: a record is never altered (a change replaces it), and a list is kept only while
    the lists' version stands. Paging through a large list then costs a page, not the list."""

    def __init__(self, state, exports):
        self.state = state
        self.exports = exports
        self.lock = threading.Lock()
        self.objects = weakref.WeakKeyDictionary()   # record -> its file object
        self.lists = {}                              # (account, q) -> the file list's records
        self.version = None

    def file_object(self, record):
        with self.lock:
            found = self.objects.get(record)
        if found is None:
            found = file_object(record, self.exports)
            with self.lock:
                self.objects[record] = found
        return found

    def files(self, account, query):
        """The live records that the file list's q keeps, in their order."""
        version = self.state.lists.current_version()
        key = (account.lower(), query)
        with self.lock:
            if self.version == version and key in self.lists:
                return self.lists[key]
        keeps = inclusion(query)
        records = [r for r in self.state.lists.items(account, SERVICE, "files") if keeps(r)]
        with self.lock:
            if self.version != version:
                self.lists, self.version = {}, version
            self.lists[key] = records
        return records


def inclusion(query):
    """Whether the file list's q keeps a file: "trashed=false" leaves trashed files out, and
    "mimeType = '...'" terms (joined by or) keep only those media types."""
    skip_trashed = re.search(r"trashed\s*=\s*false", query) is not None
    types = set(re.findall(r"mimeType\s*=\s*'([^']*)'", query))

    def keeps(record):
        if skip_trashed and record.trashed:
            return False
        return not types or record.fields.get("mimeType", "application/octet-stream") in types
    return keeps


def list_content(request, state, records, render):
    """The page of records the request asks for, each rendered, with Drive's paging links."""
    page, next_token = token_paged(request, state.lists, records, DEFAULT_PAGE, MAX_PAGE)
    content = token_page_content([render(r) for r in page], next_token)
    content["selfLink"] = same_url_with(request, {})
    if next_token is not None:
        content["nextLink"] = same_url_with(request, {"pageToken": next_token})
    return content


def files(state, rendered, request, account):
    records = rendered.files(account, request.query.get("q", ""))
    return json_page(request, "drive#fileList", list_content(request, state, records, rendered.file_object))


def change_object(record, rendered):
    change = {"kind": "drive#change", "id": str(record.change_id), "fileId": record.id,
              "selfLink": "https://%s/drive/v2/changes/%d" % (HOST, record.change_id),
              "deleted": record.deleted, "modificationDate": record.modified}
    if not record.deleted:
        change["file"] = rendered.file_object(record)
    return change


def changes(state, rendered, request, account):
    start = int_param(request, "startChangeId", 0)
    if start < 0:
        raise BadRequest("Invalid startChangeId")
    with_deleted = request.query.get("includeDeleted", "true") != "false"
    records = [r for r in state.lists.items(account, SERVICE, "files", include_deleted=True)
               if r.change_id >= start and (with_deleted or not r.deleted)]
    records.sort(key=lambda r: r.change_id)
    content = list_content(request, state, records, lambda r: change_object(r, rendered))
    content["largestChangeId"] = str(state.lists.largest_change_id(account, SERVICE))
    return json_page(request, "drive#changeList", content)


def not_found(what):
    return Response(404, ("Not Found: %s" % what).encode("utf-8"), content_type="text/plain")


def file_get(state, exports, request, account):
    """A file's metadata, or with alt=media its content ("content" or "size" generated bytes);
    Google's own document types have no content to download."""
    file_id = urllib.parse.unquote(request.path[len(FILES_PREFIX):])
    record = state.lists.find(SERVICE, "files", file_id, account)
    if record is None:
        return not_found(file_id)
    if request.query.get("alt") != "media":
        return json_response(200, file_object(record, exports))
    mime = record.fields.get("mimeType", "application/octet-stream")
    if mime.startswith(GOOGLE_APPS):
        return Response(403, b"Only files with binary content can be downloaded", content_type="text/plain")
    return content_response(record.fields, mime)


def export(state, exports, request, account):
    """A Google document in the export format its file object links to."""
    record = state.lists.find(SERVICE, "files", request.query.get("id", ""), account)
    if record is None:
        return not_found(request.query.get("id", ""))
    wanted = exports.get(record.fields.get("mimeType", ""))
    if wanted is None or request.query.get("exportFormat") != wanted:
        raise BadRequest("Invalid exportFormat")
    return content_response(record.fields, wanted)
