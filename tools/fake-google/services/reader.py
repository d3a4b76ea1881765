"""Reader: the tag list and the subscription list (XML lists of objects), and the saved-article
streams (starred, broadcast, like) as Atom feeds paged by continuation."""
import hashlib

from fakegoogle.pages import element, list_endpoint, token_paged, user_number, xml_page

HOST = "www.google.com"
SERVICE = "reader"
READER_SCHEME = "http://www.google.com/reader/"
STREAMS = ("starred", "broadcast", "like")
DEFAULT_PAGE, MAX_PAGE = 20, 1000


def register(router, state, table):
    scope = table.service(SERVICE).get("oauthScope")
    router.add("GET", HOST, "/reader/api/0/tag/list", list_endpoint(state, scope, lambda r, a: tag_list(state, r, a)))
    router.add("GET", HOST, "/reader/api/0/subscription/list",
               list_endpoint(state, scope, lambda r, a: subscription_list(state, r, a)))
    for stream in STREAMS:
        router.add("GET", HOST, "/reader/atom/user/-/state/com.google/" + stream,
                   list_endpoint(state, scope, lambda r, a, s=stream: articles(state, r, a, s)))


def label_id(account, label):
    return "user/%s/label/%s" % (user_number(account), label)


def state_id(account, name):
    return "user/%s/state/com.google/%s" % (user_number(account), name)


def string(name, value):
    return element("string", value, {"name": name})


def object_list(request, name, objects):
    return xml_page(request, "<?xml version='1.0' encoding='UTF-8'?>"
                    + element("object", children=element("list", attrs={"name": name}, children="".join(objects))),
                    "text/xml; charset=UTF-8")


def live(state, account, collection):
    return [r for r in state.lists.items(account, SERVICE, collection) if not r.trashed]


def tag_list(state, request, account):
    # The service's own states come first, as Reader lists them; they are not user tags.
    ids = [state_id(account, "starred"), state_id(account, "broadcast")]
    ids += [label_id(account, r.id) for r in live(state, account, "tags")]
    return object_list(request, "tags", [element("object", children=string("id", i) + string("sortid", "%08X" % n))
                                         for n, i in enumerate(ids)])


def subscription_list(state, request, account):
    objects = []
    for n, record in enumerate(live(state, account, "subscriptions")):
        fields = record.fields
        categories = "".join(element("object", children=string("id", label_id(account, p)) + string("label", p))
                             for p in record.parents)
        children = string("id", record.id) + string("title", fields.get("title", ""))
        children += element("list", attrs={"name": "categories"}, children=categories)
        children += string("sortid", "%08X" % n)
        if fields.get("htmlUrl"):
            children += string("htmlUrl", fields["htmlUrl"])
        objects.append(element("object", children=children))
    return object_list(request, "subscriptions", objects)


def article_entry(record, account):
    fields = record.fields
    link = fields.get("link", "http://example.com/articles/" + record.id)
    item = hashlib.sha1(("%s|%s" % (account, record.id)).encode("utf-8")).hexdigest()[:16]
    children = element("id", "tag:google.com,2005:reader/item/" + item, {"gr:original-id": link})
    for name in ["reading-list"] + list(fields.get("streams", ["starred"])):
        children += element("category", attrs={"term": state_id(account, name), "scheme": READER_SCHEME, "label": name})
    for label in record.parents:
        children += element("category", attrs={"term": label_id(account, label), "scheme": READER_SCHEME, "label": label})
    children += element("title", fields.get("title", ""), {"type": "html"})
    children += element("published", fields.get("published", record.modified)) + element("updated", record.modified)
    children += element("link", attrs={"rel": "alternate", "href": link, "type": "text/html"})
    if fields.get("summary"):
        children += element("summary", fields["summary"], {"type": "html"})
    children += element("author", children=element("name", fields.get("author", "(author unknown)")))
    source = fields.get("source", "Example Feed")
    children += element("source", attrs={"gr:stream-id": "feed/http://example.com/feed"},
                        children=element("id", "tag:google.com,2005:reader/feed/http://example.com/feed")
                        + element("title", source, {"type": "html"}))
    return element("entry", children=children)


def articles(state, request, account, stream):
    records = [r for r in live(state, account, "articles") if stream in r.fields.get("streams", ["starred"])]
    page, continuation = token_paged(request, state.lists, records, DEFAULT_PAGE, MAX_PAGE, "n", "c")
    head = element("generator", "Google Reader", {"uri": "http://www.google.com/reader"})
    head += element("id", "tag:google.com,2005:reader/" + state_id(account, stream))
    head += element("title", "%s items in Google Reader" % stream)
    if continuation is not None:
        head += element("gr:continuation", continuation)
    attrs = {"xmlns:idx": "urn:atom-extension:indexing", "xmlns:gr": "http://www.google.com/schemas/reader/atom/",
             "xmlns:media": "http://search.yahoo.com/mrss/", "xmlns": "http://www.w3.org/2005/Atom"}
    text = "<?xml version='1.0' encoding='UTF-8'?>" + element(
        "feed", attrs=attrs, children=head + "".join(article_entry(r, account) for r in page))
    return xml_page(request, text)
