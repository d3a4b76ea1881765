"""Faults that tests script: which requests they hit, how often, and the answer they give
instead of the real one."""
import gzip
import json
import threading
import zlib

from .http import Response, google_error, oauth_error

RATE_LIMIT_REASONS = {"rateLimitExceeded", "userRateLimitExceeded", "dailyLimitExceeded", "quotaExceeded"}


class FaultQueue:
    def __init__(self):
        self.lock = threading.Lock()
        self.faults = []

    def clear(self):
        with self.lock:
            self.faults = []

    def add(self, fault):
        if not isinstance(fault, dict) or not fault.get("path"):
            raise ValueError("a fault needs a \"path\"")
        fault = dict(fault)
        fault.setdefault("times", 1)
        if not isinstance(fault["times"], int) or (fault["times"] < 1 and fault["times"] != -1):
            raise ValueError("\"times\" is a positive count, or -1 for every time")
        if not isinstance(fault.get("skip", 0), int) or fault.get("skip", 0) < 0:
            raise ValueError("\"skip\" is a count of requests to let through first")
        with self.lock:
            self.faults.append(fault)

    def pending(self):
        with self.lock:
            return [dict(f) for f in self.faults]

    def take(self, request):
        """The answer of the first fault that matches the request, counting it down; None
        when no fault applies. A fault that alters the real answer gives a function that
        takes that answer and gives the altered one."""
        with self.lock:
            for fault in self.faults:
                if fault["path"] != request.path:
                    continue
                if fault.get("host") and fault["host"].lower() != request.host:
                    continue
                if fault.get("method") and fault["method"].upper() != request.method:
                    continue
                if fault.get("skip", 0) > 0:
                    fault["skip"] -= 1
                    continue
                if fault["times"] > 0:
                    fault["times"] -= 1
                    if fault["times"] == 0:
                        self.faults.remove(fault)
                return build_response(fault)
        return None


def build_response(fault):
    if "truncate" in fault:
        return truncation(fault["truncate"])
    if "break_after" in fault:
        return breaking_off(int(fault["break_after"]))
    status = int(fault.get("status", 200))
    if "error" in fault:
        response = oauth_error(status, fault["error"], fault.get("error_description"))
    elif "reason" in fault:
        domain = "usageLimits" if fault["reason"] in RATE_LIMIT_REASONS else "global"
        response = google_error(status, fault["reason"], fault.get("message", fault["reason"]), domain)
    elif "body" in fault:
        body = fault["body"]
        if isinstance(body, str):
            response = Response(status, body.encode("utf-8"), content_type=fault.get("content_type", "application/json"))
        else:
            response = Response(status, json.dumps(body).encode("utf-8"), content_type="application/json")
    elif "zeros" in fault:
        response = Response(status, b"", content_type="application/octet-stream")
    elif status >= 400:
        response = google_error(status, "backendError" if status >= 500 else "error", "Fault %d" % status)
    else:
        response = Response(status, b"")
    if "zeros" in fault:
        response.body = gzipped_zeros(int(fault["zeros"])) if fault.get("gzip") else bytes(int(fault["zeros"]))
    elif fault.get("gzip"):
        response.body = gzip.compress(response.body)
    if fault.get("gzip"):
        response.headers["Content-Encoding"] = "gzip"
    response.headers.update(fault.get("headers", {}))
    if "retry_after" in fault:
        response.headers["Retry-After"] = str(fault["retry_after"])
    if "location" in fault:
        response.headers["Location"] = fault["location"]
    response.stall = float(fault.get("stall", 0))
    response.stall_body = float(fault.get("stall_body", 0))
    response.drop = bool(fault.get("drop", False))
    response.trickle = float(fault.get("trickle", 0))
    return response


def truncation(keep):
    """Cuts the body of the real answer to `keep` bytes (true: to half its length); the
    answer stays complete at the HTTP level, so only the document is broken."""
    def cut(response):
        size = len(response.body) // 2 if keep is True else int(keep)
        response.body = response.body[:size]
        return response
    return cut


def breaking_off(count):
    """The real answer, headers and Content-Length as they are, with the connection closed
    after `count` bytes of its body: a download that breaks off."""
    def cut(response):
        response.break_after = count
        return response
    return cut


def gzipped_zeros(count):
    """The gzip form of `count` zero bytes, made a chunk at a time: a bomb of a
    gigabyte costs the fake about a megabyte."""
    compressor = zlib.compressobj(9, zlib.DEFLATED, 31)
    chunk = bytes(min(count, 1 << 20))
    parts = []
    left = count
    while left > 0:
        parts.append(compressor.compress(chunk[:min(left, len(chunk))]))
        left -= len(chunk)
    parts.append(compressor.flush())
    return b"".join(parts)
