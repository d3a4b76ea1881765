"""Request and response values shared by the server core and the service modules."""
import json
import urllib.parse


class Request:
    """One request as a service module sees it: the host it was meant for (from the Host
    header, without port), the path without query, the query and form fields (first value
    of each name), the headers with lower-case names, and the raw body."""

    def __init__(self, method, host, target, headers, body, tls):
        self.method = method
        self.host = host
        split = urllib.parse.urlsplit(target)
        self.path = split.path
        self.raw_query = split.query
        self.query = {k: v[0] for k, v in urllib.parse.parse_qs(split.query, keep_blank_values=True).items()}
        self.headers = headers
        self.body = body
        self.tls = tls

    def header(self, name):
        return self.headers.get(name.lower())

    def form(self):
        """The body's form fields, or None when the body is not a form."""
        ctype = (self.header("content-type") or "").split(";")[0].strip().lower()
        if ctype != "application/x-www-form-urlencoded":
            return None
        text = self.body.decode("utf-8", "replace")
        return {k: v[0] for k, v in urllib.parse.parse_qs(text, keep_blank_values=True).items()}

    def json(self):
        return json.loads(self.body.decode("utf-8")) if self.body else {}

    def bearer_token(self):
        value = self.header("authorization") or ""
        if value[:7].lower() == "bearer ":
            return value[7:].strip()
        return None

    def log_entry(self):
        return {
            "method": self.method,
            "scheme": "https" if self.tls else "http",
            "host": self.host,
            "path": self.path,
            "query": self.raw_query,
            "headers": self.headers,
            "body": self.body.decode("utf-8", "replace"),
        }


class Response:
    """What a handler answers. `stall` (seconds) holds the answer back before anything is
    sent; `stall_body` sends status and headers, then holds the body back; `trickle` sends
    the body one byte at a time with that many seconds between bytes; `drop` closes the
    connection without any answer. A streamed body (set_stream) is sent chunk by chunk as an
    iterable yields it, never held whole."""

    def __init__(self, status=200, body=b"", headers=None, content_type=None):
        self.status = status
        self.body = body if isinstance(body, bytes) else str(body).encode("utf-8")
        self.headers = dict(headers or {})
        if content_type:
            self.headers["Content-Type"] = content_type
        self.stall = 0
        self.stall_body = 0
        self.trickle = 0
        self.drop = False
        self.stream = None
        self.stream_length = 0
        self.break_after = None

    def set_stream(self, length, chunks):
        self.body = b""
        self.stream_length = length
        self.stream = chunks

    def content_length(self):
        return self.stream_length if self.stream is not None else len(self.body)


def json_response(status, value, headers=None):
    return Response(status, json.dumps(value).encode("utf-8"), headers, "application/json; charset=UTF-8")


def html_response(status, text, headers=None):
    return Response(status, text.encode("utf-8"), headers, "text/html; charset=utf-8")


def redirect(location, status=302):
    return Response(status, b"", {"Location": location})


def oauth_error(status, error, description=None):
    """The token endpoint's error form."""
    value = {"error": error}
    if description:
        value["error_description"] = description
    return json_response(status, value)


def google_error(status, reason, message, domain="global", extra_headers=None):
    """The JSON error form of Google's APIs, with one entry under "errors"."""
    value = {"error": {"errors": [{"domain": domain, "reason": reason, "message": message}],
                       "code": status, "message": message}}
    return json_response(status, value, extra_headers)
