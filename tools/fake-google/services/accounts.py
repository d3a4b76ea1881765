"""Google's OAuth 2.0 endpoints for installed applications: the consent page, its Allow and
Deny answer, and the token endpoint (authorization code with PKCE, and refresh token)."""
import base64
import hashlib
import html
import re
import urllib.parse

from fakegoogle.http import html_response, json_response, oauth_error, redirect

HOST = "accounts.google.com"
# A browser reaches the fake without the program's host map, on its plain-HTTP port: the
# consent page and its answer are served under that address too.
BROWSER_HOST = "127.0.0.1"
OOB = "urn:ietf:wg:oauth:2.0:oob"
VERIFIER = re.compile(r"^[A-Za-z0-9._~-]{43,128}$")


def register(router, state, table):
    for host in (HOST, BROWSER_HOST):
        router.add("GET", host, "/o/oauth2/auth", lambda r: authorization_page(state, r))
        router.add("POST", host, "/o/oauth2/approval", lambda r: approval(state, r))
    router.add("POST", HOST, "/o/oauth2/token", lambda r: token(state, r))


def is_loopback_redirect(uri):
    if uri == OOB:
        return True
    split = urllib.parse.urlsplit(uri)
    return split.scheme == "http" and split.hostname in ("127.0.0.1", "localhost", "::1")


def error_page(status, message):
    return html_response(status, "<!DOCTYPE html><html><head><title>Error</title></head><body>"
                                 "<p id=\"error\">%s</p></body></html>" % html.escape(message))


def authorization_page(state, request):
    q = request.query
    if q.get("response_type") != "code":
        return error_page(400, "unsupported_response_type")
    if state.check_client(q.get("client_id"), None, require_secret=False):
        return error_page(401, "invalid_client")
    redirect_uri = q.get("redirect_uri", "")
    if not is_loopback_redirect(redirect_uri):
        return error_page(400, "redirect_uri_mismatch")
    scopes = q.get("scope", "").split()
    if not scopes:
        return error_page(400, "invalid_scope")
    method = q.get("code_challenge_method", "plain" if q.get("code_challenge") else None)
    if method not in (None, "plain", "S256"):
        return error_page(400, "invalid_request: code_challenge_method")
    email = state.signed_in_email(q.get("login_hint"))
    request_id = state.start_consent({
        "client_id": q["client_id"], "redirect_uri": redirect_uri, "scopes": scopes,
        "state": q.get("state"), "email": email,
        "challenge": q.get("code_challenge"), "method": method,
    })
    items = "".join("<li>%s</li>" % html.escape(s) for s in scopes)
    return html_response(200, (
        "<!DOCTYPE html><html><head><title>Sign in - Google Accounts</title></head><body>"
        "<h1>An application wants to access your Google Account</h1>"
        "<p id=\"account\">%s</p><ul id=\"scopes\">%s</ul>"
        "<form method=\"post\" action=\"/o/oauth2/approval\">"
        "<input type=\"hidden\" name=\"request\" value=\"%s\">"
        "<button type=\"submit\" id=\"submit_approve_access\" name=\"decision\" value=\"allow\">Allow</button>"
        "<button type=\"submit\" id=\"submit_deny_access\" name=\"decision\" value=\"deny\">Deny</button>"
        "</form></body></html>") % (html.escape(email), items, request_id))


def approval(state, request):
    form = request.form() or {}
    grant = state.finish_consent(form.get("request", ""))
    if grant is None:
        return error_page(400, "This sign-in request has expired or was already answered.")
    if form.get("decision") == "allow":
        code = state.issue_code(grant)
        answer = {"code": code, "scope": " ".join(grant["scopes"])}
    else:
        code = None
        answer = {"error": "access_denied"}
    if grant["state"] is not None:
        answer["state"] = grant["state"]
    if grant["redirect_uri"] == OOB:
        if code is None:
            return error_page(200, "access_denied")
        return html_response(200, "<!DOCTYPE html><html><head><title>Success code=%s</title></head><body>"
                                  "<input id=\"code\" readonly value=\"%s\"></body></html>" % (code, code))
    separator = "&" if "?" in grant["redirect_uri"] else "?"
    return redirect(grant["redirect_uri"] + separator + urllib.parse.urlencode(answer))


def pkce_matches(grant, verifier):
    challenge = grant.get("challenge")
    if not challenge:
        return True
    if not verifier or not VERIFIER.match(verifier):
        return False
    if grant["method"] == "S256":
        digest = hashlib.sha256(verifier.encode("ascii")).digest()
        return base64.urlsafe_b64encode(digest).rstrip(b"=").decode("ascii") == challenge
    return verifier == challenge


def token(state, request):
    form = request.form()
    if form is None:
        return oauth_error(400, "invalid_request", "Content-Type must be application/x-www-form-urlencoded")
    client_id = form.get("client_id")
    client_error = state.check_client(client_id, form.get("client_secret"), require_secret=True)
    if client_error:
        return oauth_error(401, client_error, "The OAuth client was not found.")
    grant_type = form.get("grant_type")
    if grant_type == "authorization_code":
        grant = state.redeem_code(form.get("code", ""))
        if grant is None or grant["client_id"] != client_id:
            return oauth_error(400, "invalid_grant", "Malformed auth code.")
        if form.get("redirect_uri") != grant["redirect_uri"]:
            return oauth_error(400, "redirect_uri_mismatch", "Bad Request")
        if not pkce_matches(grant, form.get("code_verifier")):
            return oauth_error(400, "invalid_grant", "Invalid code verifier.")
        return json_response(200, state.issue_tokens(grant["email"], grant["scopes"], client_id, True))
    if grant_type == "refresh_token":
        grant = state.refresh_grant(form.get("refresh_token", ""), client_id)
        if grant is None:
            return oauth_error(400, "invalid_grant", "Token has been expired or revoked.")
        return json_response(200, state.issue_tokens(grant["email"], grant["scopes"], client_id, False))
    return oauth_error(400, "unsupported_grant_type", "Invalid grant_type: %s" % (grant_type or ""))
