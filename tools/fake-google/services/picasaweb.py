"""Picasa Web Albums GData feeds (version 2): the album list, each album's photos and each
photo's comments, paged by start-index with rel="next" links."""
import urllib.parse

from fakegoogle.content import content_response
from fakegoogle.http import Response
from fakegoogle.pages import (KIND_SCHEME, BadRequest, atom_feed, element, index_paged, item_etag, list_endpoint,
                              user_number, xml_page)

HOST = "picasaweb.google.com"
# Photo content is public, as Google's own is: no token is needed (and none should be sent).
CONTENT_HOST = "lh3.googleusercontent.com"
CONTENT_PREFIX = "/fake/"
SERVICE = "picasaweb"
USER_FEED = "/data/feed/api/user/default"
ALBUM_PREFIX = USER_FEED + "/albumid/"
PHOTOS = "http://schemas.google.com/photos/2007#"
DEFAULT_PAGE, MAX_PAGE = 1000, 1000
NAMESPACES = {"xmlns:gphoto": "http://schemas.google.com/photos/2007", "xmlns:media": "http://search.yahoo.com/mrss/",
              "xmlns:app": "http://www.w3.org/2007/app"}


def register(router, state, table):
    scope = table.service(SERVICE).get("oauthScope")
    handler = list_endpoint(state, scope, lambda r, a: feed(state, r, a))
    router.add("GET", HOST, USER_FEED, handler)
    router.add_prefix("GET", HOST, ALBUM_PREFIX, handler)
    router.add_prefix("GET", CONTENT_HOST, CONTENT_PREFIX, lambda r: photo_content(state, r))


def entry_url(account, *path):
    """The entry id below the user: album id, then "photoid" and photo id, then "commentid"
    and comment id."""
    return "https://%s/data/entry/api/user/%s/albumid/%s" % (HOST, user_number(account), "/".join(path))


def head(record, account, kind, *path):
    return (element("id", entry_url(account, *path)) + element("published", record.fields.get("published", record.modified))
            + element("updated", record.modified) + element("app:edited", record.modified)
            + element("category", attrs={"scheme": KIND_SCHEME, "term": PHOTOS + kind}))


def album_entry(record, account):
    fields = record.fields
    children = head(record, account, "album", record.id) + element("title", fields.get("title", ""), {"type": "text"})
    children += element("summary", fields.get("summary", ""), {"type": "text"})
    children += element("link", attrs={"rel": "http://schemas.google.com/g/2005#feed", "type": "application/atom+xml",
                                       "href": "https://%s%s%s" % (HOST, ALBUM_PREFIX, record.id)})
    children += element("gphoto:id", record.id)
    if fields.get("location"):
        children += element("gphoto:location", fields["location"])
    return element("entry", attrs={"gd:etag": item_etag(record)}, children=children)


def photo_entry(record, account, album):
    fields = record.fields
    title = fields.get("title", record.id + ".jpg")
    children = head(record, account, "photo", album, "photoid", record.id) + element("title", title, {"type": "text"})
    children += element("summary", fields.get("summary", ""), {"type": "text"})
    children += element("content", attrs={"type": "image/jpeg", "src": "https://%s%s%s/%s/%s"
                                                                       % (CONTENT_HOST, CONTENT_PREFIX, album, record.id,
                                                                          urllib.parse.quote(title))})
    children += element("gphoto:id", record.id) + element("gphoto:albumid", album)
    children += element("gphoto:width", fields.get("width", 800)) + element("gphoto:height", fields.get("height", 600))
    children += element("media:group", children=element("media:keywords", ", ".join(fields.get("keywords", []))))
    return element("entry", attrs={"gd:etag": item_etag(record)}, children=children)


def comment_entry(record, account, album, photo):
    children = head(record, account, "comment", album, "photoid", photo, "commentid", record.id)
    children += element("title", "Comment", {"type": "text"})
    children += element("content", record.fields.get("content", ""), {"type": "text"})
    children += element("author", children=element("name", record.fields.get("author", account)))
    children += element("gphoto:id", record.id) + element("gphoto:photoid", photo)
    return element("entry", attrs={"gd:etag": item_etag(record)}, children=children)


def live(state, account, collection):
    return [r for r in state.lists.items(account, SERVICE, collection) if not r.trashed]


def first_parent(record):
    return record.parents[0] if record.parents else None


class NotFound(Exception):
    pass


def feed_items(state, account, path, kind):
    """The records of the feed at `path` (the segments below "albumid/") for `kind`, and how
    each becomes an entry."""
    albums = {r.id for r in live(state, account, "albums")}
    if path and path[0] not in albums:
        raise NotFound("No album found.")
    if not path and kind == "album":
        return live(state, account, "albums"), lambda r: album_entry(r, account)
    if len(path) == 1 and kind == "photo":
        album = path[0]
        return ([r for r in live(state, account, "photos") if first_parent(r) == album],
                lambda r: photo_entry(r, account, album))
    if len(path) == 3 and path[1] == "photoid" and kind == "comment":
        album, photo = path[0], path[2]
        if not any(r.id == photo and first_parent(r) == album for r in live(state, account, "photos")):
            raise NotFound("Photo not found.")
        return ([r for r in live(state, account, "comments") if first_parent(r) == photo],
                lambda r: comment_entry(r, account, album, photo))
    raise BadRequest("Invalid kind or feed")


def feed(state, request, account):
    """The album list at the user feed; below it, albumid/A?kind=photo and
    albumid/A/photoid/P?kind=comment. The path may arrive percent-encoded."""
    path = []
    if request.path.startswith(ALBUM_PREFIX):
        # Decoded before it is split: a photo id ("A/photoid/P") may come encoded as one segment.
        path = urllib.parse.unquote(request.path[len(ALBUM_PREFIX):]).split("/")
    try:
        records, render = feed_items(state, account, path, request.query.get("kind"))
    except NotFound as e:
        return Response(404, str(e).encode("utf-8"), content_type="text/plain")
    page, offset, next_href = index_paged(request, state.lists, records, DEFAULT_PAGE, MAX_PAGE)
    feed_kind = ("user", "album", None, "photo")[len(path)]
    text = atom_feed(NAMESPACES, entry_url(account, *path) if path else "https://%s%s" % (HOST, USER_FEED),
                     account, PHOTOS + feed_kind, [render(r) for r in page], next_href, offset, len(records))
    return xml_page(request, text)


def photo_content(state, request):
    """A photo's bytes ("content" or "size" generated bytes) at the content URL of its entry."""
    parts = request.path[len(CONTENT_PREFIX):].split("/")
    record = state.lists.find(SERVICE, "photos", parts[1], None) if len(parts) == 3 else None
    if record is None or record.trashed or first_parent(record) != parts[0]:
        return Response(404, b"Not Found", content_type="text/plain")
    return content_response(record.fields, "image/jpeg")
