"""What the list endpoints share: authentication, page tokens, page etags with 304 answers,
and the pieces of JSON and Atom pages."""
import hashlib
import json
import re
import urllib.parse
import zlib
from xml.sax.saxutils import escape, quoteattr

from .http import Response, google_error, json_response

# Tokens hold a slash and a plus sign, so a client that does not encode them in a query
# (or decodes them twice) sends a token the fake refuses.
TOKEN = re.compile(r"^p/(\d+)\+$")
ETAG_MARKER = "@@page-etag@@"

ATOM = "http://www.w3.org/2005/Atom"
GDATA = "http://schemas.google.com/g/2005"
KIND_SCHEME = "http://schemas.google.com/g/2005#kind"
OPENSEARCH = "http://a9.com/-/spec/opensearch/1.1/"


class BadRequest(Exception):
    pass


def list_endpoint(state, scope, render):
    """A handler that answers render(request, account e-mail) for a live token with the scope."""
    def answer(request):
        account, error = state.authenticate(request, scope)
        if error:
            return error
        try:
            return render(request, account)
        except BadRequest as e:
            return google_error(400, "invalid", str(e))
    return answer


def page_token(offset):
    return "p/%d+" % offset


def token_offset(token):
    """The offset a page token stands for; 0 without a token."""
    if token is None:
        return 0
    match = TOKEN.match(token)
    if not match:
        raise BadRequest("Invalid page token: %r" % token)
    return int(match.group(1))


def int_param(request, name, default):
    value = request.query.get(name)
    if value is None:
        return default
    try:
        return int(value)
    except ValueError:
        raise BadRequest("Invalid %s: %r" % (name, value))


def same_url_with(request, params):
    """The request's own https URL with some query parameters set (the others kept in order)."""
    pairs = [(k, v) for k, v in urllib.parse.parse_qsl(request.raw_query, keep_blank_values=True) if k not in params]
    pairs += [(k, str(v)) for k, v in params.items()]
    return "https://%s%s?%s" % (request.host, request.path, urllib.parse.urlencode(pairs, quote_via=urllib.parse.quote))


def slice_page(items, offset, size):
    """The page's items and the offset of the next page (None on the last page)."""
    end = offset + size
    return items[offset:end], (end if end < len(items) else None)


def token_paged(request, lists, items, default, maximum, size_param="maxResults", token_param="pageToken"):
    """The page of items that a request with a size and a page token asks for, and the token of
    the next page (None on the last page)."""
    size = lists.page_size_for(int_param(request, size_param, None), default, maximum)
    page, next_offset = slice_page(items, token_offset(request.query.get(token_param)), size)
    return page, (page_token(next_offset) if next_offset is not None else None)


def token_page_content(page, next_token):
    """The paging part of a JSON list page. Google leaves an empty "items" array out."""
    content = {}
    if next_token is not None:
        content["nextPageToken"] = next_token
    if page:
        content["items"] = page
    return content


def index_paged(request, lists, items, default, maximum):
    """GData paging by "start-index" (from 1) and "max-results": the page, its offset, and the
    href of the next page (None on the last page)."""
    size = lists.page_size_for(int_param(request, "max-results", None), default, maximum)
    start = int_param(request, "start-index", 1)
    if start < 1:
        raise BadRequest("Invalid start-index")
    page, next_offset = slice_page(items, start - 1, size)
    next_href = None
    if next_offset is not None:
        next_href = same_url_with(request, {"start-index": next_offset + 1, "max-results": size})
    return page, start - 1, next_href


def user_number(email):
    """A stable numeric user id for an e-mail address, as Reader and Picasa Web write them."""
    return str(zlib.crc32(email.lower().encode("utf-8")) + 10 ** 11)


def item_etag(record):
    """New with every change of the item, also when it comes back after its deletion."""
    digest = hashlib.sha1(("%s|%d" % (record.id, record.change_id)).encode("utf-8")).hexdigest()
    return '"%s"' % digest[:16]


def _not_modified(request, etag):
    wanted = request.header("if-none-match")
    if not wanted:
        return None
    tags = [t.strip() for t in wanted.split(",")]
    if "*" in tags or etag in tags or "W/" + etag in tags:
        return Response(304, b"", {"ETag": etag})
    return None


def _etag_of(data):
    return '"%s"' % hashlib.sha1(data).hexdigest()[:20]


def json_page(request, kind, content):
    """A JSON list page: "kind", then its "etag" (a digest of the rest), then the content; 304
    when the request's If-None-Match names that etag."""
    etag = _etag_of(json.dumps([kind, content], sort_keys=True).encode("utf-8"))
    answer = _not_modified(request, etag)
    if answer is not None:
        return answer
    page = {"kind": kind, "etag": etag}
    page.update(content)
    return json_response(200, page, {"ETag": etag})


def xml_page(request, text, content_type="application/atom+xml; charset=UTF-8"):
    """An XML page whose ETAG_MARKER is replaced by its etag; 304 as for json_page."""
    etag = _etag_of(text.encode("utf-8"))
    answer = _not_modified(request, etag)
    if answer is not None:
        return answer
    return Response(200, text.replace(ETAG_MARKER, escape(etag, {'"': "&quot;"})).encode("utf-8"), {"ETag": etag}, content_type)


def element(name, text=None, attrs=None, children=""):
    """One XML element; text is escaped, children are markup."""
    attributes = "".join(" %s=%s" % (k, quoteattr(str(v))) for k, v in (attrs or {}).items() if v is not None)
    inner = (escape(str(text)) if text is not None else "") + children
    return "<%s%s>%s</%s>" % (name, attributes, inner, name) if inner else "<%s%s/>" % (name, attributes)


def atom_feed(namespaces, feed_id, title, kind_term, entries, next_href=None, start=0, total=0, extra=""):
    """A GData Atom feed with its etag, kind, OpenSearch counts and rel="next" link."""
    xmlns = {"xmlns": ATOM, "xmlns:gd": GDATA, "xmlns:openSearch": OPENSEARCH}
    xmlns.update(namespaces)
    head = element("id", feed_id) + element("title", title)
    if kind_term:
        head += element("category", attrs={"scheme": KIND_SCHEME, "term": kind_term})
    if next_href:
        head += element("link", attrs={"rel": "next", "type": "application/atom+xml", "href": next_href})
    head += element("openSearch:totalResults", total) + element("openSearch:startIndex", start + 1)
    attrs = dict(xmlns, **{"gd:etag": "W/" + ETAG_MARKER})
    return "<?xml version='1.0' encoding='UTF-8'?>" + element("feed", attrs=attrs, children=head + extra + "".join(entries))
