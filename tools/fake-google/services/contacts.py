"""Contacts GData feeds (version 3.0): contact groups and contacts, paged by start-index with
rel="next" links."""
import urllib.parse

from fakegoogle.http import Response
from fakegoogle.pages import KIND_SCHEME, atom_feed, element, index_paged, item_etag, list_endpoint, xml_page

HOST = "www.google.com"
SERVICE = "contacts"
DEFAULT_PAGE, MAX_PAGE = 25, 10000
NAMESPACES = {"xmlns:gContact": "http://schemas.google.com/contact/2008", "xmlns:app": "http://www.w3.org/2007/app",
              "xmlns:batch": "http://schemas.google.com/gdata/batch"}
PHOTO_REL = "http://schemas.google.com/contacts/2008/rel#photo"
PHOTO_PREFIX = "/m8/feeds/photos/media/"
# The parts of a contact's "name" in the order Google sends them.
NAME_PARTS = ("fullName", "namePrefix", "givenName", "additionalName", "familyName", "nameSuffix")
# What a contact's photo is when the scenario gives no "photo" text: the start of a JPEG.
DEFAULT_PHOTO = "\xff\xd8\xff\xe0 photo of %s"


def register(router, state, table):
    scope = table.service(SERVICE).get("oauthScope")
    for collection, kind in (("groups", "group"), ("contacts", "contact")):
        router.add("GET", HOST, "/m8/feeds/%s/default/full" % collection,
                   list_endpoint(state, scope, lambda r, a, c=collection, k=kind: feed(state, r, a, c, k)))
    router.add_prefix("GET", HOST, PHOTO_PREFIX, list_endpoint(state, scope, lambda r, a: photo(state, r, a)))


def entry_id(account, collection, item_id):
    return "http://%s/m8/feeds/%s/%s/base/%s" % (HOST, collection, urllib.parse.quote(account, safe=""), item_id)


def head(record, account, collection, kind):
    return (element("id", entry_id(account, collection, record.id)) + element("updated", record.modified)
            + element("app:edited", record.modified)
            + element("category", attrs={"scheme": KIND_SCHEME, "term": "http://schemas.google.com/contact/2008#" + kind})
            + element("title", record.fields.get("title", "")))


def group_entry(record, account):
    system = record.fields.get("system")
    children = head(record, account, "groups", "group")
    if system:
        children += element("gContact:systemGroup", attrs={"id": system})
    return element("entry", attrs={"gd:etag": item_etag(record)}, children=children)


def contact_entry(record, account):
    fields = record.fields
    children = head(record, account, "contacts", "contact")
    # Every contact has a photo link; only one with a photo has an etag on it.
    children += element("link", attrs={"rel": PHOTO_REL, "type": "image/*", "gd:etag": fields.get("photo_etag"),
                                       "href": "https://%s%s%s/%s"
                                               % (HOST, PHOTO_PREFIX, urllib.parse.quote(account, safe=""), record.id)})
    name = fields.get("name")
    if name:
        children += element("gd:name", children="".join(element("gd:" + part, name[part]) for part in NAME_PARTS
                                                        if name.get(part) is not None))
    if fields.get("organization"):
        children += element("gd:organization", attrs={"rel": "http://schemas.google.com/g/2005#work"},
                            children=element("gd:orgName", fields["organization"]))
    if fields.get("email"):
        children += element("gd:email", attrs={"rel": "http://schemas.google.com/g/2005#other",
                                               "address": fields["email"], "primary": "true"})
    for group in record.parents:
        children += element("gContact:groupMembershipInfo",
                             attrs={"deleted": "false", "href": entry_id(account, "groups", group)})
    return element("entry", attrs={"gd:etag": item_etag(record)}, children=children)


def feed(state, request, account, collection, kind):
    # Contacts have no trash: a trashed one is gone from the feed like a deleted one.
    records = [r for r in state.lists.items(account, SERVICE, collection) if not r.trashed]
    page, offset, next_href = index_paged(request, state.lists, records, DEFAULT_PAGE, MAX_PAGE)
    render = group_entry if kind == "group" else contact_entry
    text = atom_feed(NAMESPACES, account, "%s's %s" % (account, collection.title()),
                     "http://schemas.google.com/contact/2008#" + kind, [render(r, account) for r in page],
                     next_href, offset, len(records),
                     element("author", children=element("name", account) + element("email", account)))
    return xml_page(request, text)


def photo(state, request, account):
    """The photo of one of the token's own contacts: its "photo" text (latin-1 bytes, so any
    byte can be given) with "photo_type" (default image/jpeg); 404 for a contact without one."""
    owner, _, contact_id = urllib.parse.unquote(request.path[len(PHOTO_PREFIX):]).partition("/")
    record = state.lists.find(SERVICE, "contacts", contact_id, account) if owner.lower() == account.lower() else None
    if record is None or record.trashed or not record.fields.get("photo_etag"):
        return Response(404, b"Photo not found", content_type="text/plain")
    fields = record.fields
    return Response(200, fields.get("photo", DEFAULT_PHOTO % contact_id).encode("latin-1"),
                    content_type=fields.get("photo_type", "image/jpeg"))
