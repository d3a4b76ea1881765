"""Accounts, grants and tokens of the fake, with a clock that tests can move forward."""
import secrets
import threading
import time

from .faults import FaultQueue
from .http import google_error
from .lists import ListStore

CODE_LIFETIME = 600


class State:
    """Everything a scenario sets up and the endpoints change. Every method takes the lock,
    so the threaded server may call them from any request thread."""

    def __init__(self, all_scopes):
        self.lock = threading.RLock()
        self.all_scopes = list(all_scopes)
        self.faults = FaultQueue()
        self.lists = ListStore()
        self.clear()

    def clear(self):
        with self.lock:
            self.clock_offset = 0.0
            self.token_lifetime = 3600
            self.clients = {}          # client id -> secret; empty: any client id is accepted
            self.accounts = {}         # lower-case e-mail -> e-mail as Google spells it
            self.sign_in_as = None     # account the consent page signs in, instead of login_hint
            self.refresh_tokens = {}   # token -> {"email", "scopes", "client_id"}
            self.access_tokens = {}    # token -> {"email", "scopes", "expires"}
            self.pending = {}          # consent request id -> authorization request
            self.codes = {}            # code -> grant waiting for the token exchange
            self.requests = []
            self.faults.clear()

    def now(self):
        return time.time() + self.clock_offset

    def advance_clock(self, seconds):
        with self.lock:
            self.clock_offset += float(seconds)

    def load_scenario(self, scenario):
        """Replaces the state with a scenario (see README.md)."""
        with self.lock:
            self.clear()
            self.token_lifetime = int(scenario.get("token_lifetime", 3600))
            self.clients = dict(scenario.get("clients", {}))
            self.sign_in_as = scenario.get("sign_in_as")
            for account in scenario.get("accounts", []):
                self.add_account(account)
            for fault in scenario.get("faults", []):
                self.faults.add(fault)
            self.lists.load(scenario.get("lists", {}))

    def add_account(self, account):
        with self.lock:
            email = account["email"]
            self.accounts[email.lower()] = email
            scopes = account.get("scopes", self.all_scopes)
            client_id = account.get("client_id")
            for token in _as_list(account.get("refresh_token")):
                self.refresh_tokens[token] = {"email": email, "scopes": scopes, "client_id": client_id}
            for token in _as_list(account.get("access_token")):
                expires = self.now() + float(account.get("access_token_expires_in", self.token_lifetime))
                self.access_tokens[token] = {"email": email, "scopes": scopes, "expires": expires}

    def log_request(self, entry):
        with self.lock:
            self.requests.append(entry)

    def request_log(self):
        with self.lock:
            return list(self.requests)

    def clear_request_log(self):
        with self.lock:
            self.requests = []

    # OAuth grants

    def check_client(self, client_id, client_secret, require_secret):
        """None when the client may use the endpoints, else the OAuth error name."""
        if not client_id:
            return "invalid_client"
        with self.lock:
            if not self.clients:
                return None
            if client_id not in self.clients:
                return "invalid_client"
            if require_secret and client_secret != self.clients[client_id]:
                return "invalid_client"
        return None

    def start_consent(self, params):
        with self.lock:
            request_id = secrets.token_urlsafe(12)
            self.pending[request_id] = params
            return request_id

    def finish_consent(self, request_id):
        with self.lock:
            return self.pending.pop(request_id, None)

    def signed_in_email(self, login_hint):
        with self.lock:
            email = self.sign_in_as or login_hint or "user@example.com"
            return self.accounts.setdefault(email.lower(), email)

    def issue_code(self, grant):
        with self.lock:
            code = "4/" + secrets.token_urlsafe(24)
            self.codes[code] = dict(grant, expires=self.now() + CODE_LIFETIME)
            return code

    def redeem_code(self, code):
        """The grant of an unused, unexpired code; a code works once only."""
        with self.lock:
            grant = self.codes.pop(code, None)
            if grant is None or grant["expires"] < self.now():
                return None
            return grant

    def issue_tokens(self, email, scopes, client_id, with_refresh):
        with self.lock:
            access = "ya29." + secrets.token_urlsafe(30)
            self.access_tokens[access] = {"email": email, "scopes": scopes,
                                          "expires": self.now() + self.token_lifetime}
            answer = {"access_token": access, "expires_in": self.token_lifetime,
                      "scope": " ".join(scopes), "token_type": "Bearer"}
            if with_refresh:
                refresh = "1//" + secrets.token_urlsafe(30)
                self.refresh_tokens[refresh] = {"email": email, "scopes": scopes, "client_id": client_id}
                answer["refresh_token"] = refresh
            return answer

    def refresh_grant(self, refresh_token, client_id):
        with self.lock:
            grant = self.refresh_tokens.get(refresh_token)
            if grant is None:
                return None
            if grant.get("client_id") and grant["client_id"] != client_id:
                return None
            return grant

    def access_grant(self, token):
        """What a live access token grants: {"email", "scopes", "expires_in"}; None when the
        token is unknown or expired."""
        with self.lock:
            grant = self.access_tokens.get(token)
            if grant is None or grant["expires"] <= self.now():
                return None
            return {"email": grant["email"], "scopes": list(grant["scopes"]),
                    "expires_in": int(grant["expires"] - self.now())}

    def authenticate(self, request, scope=None):
        """(e-mail, None) for a request with a live access token granted `scope`, else
        (None, the error response Google would give)."""
        token = request.bearer_token()
        grant = self.access_grant(token) if token else None
        if grant is None:
            return None, google_error(401, "authError", "Invalid Credentials",
                                      extra_headers={"WWW-Authenticate": 'Bearer realm="https://accounts.google.com/"'})
        if scope and scope not in grant["scopes"]:
            return None, google_error(403, "insufficientPermissions", "Insufficient Permission")
        return grant["email"], None


def _as_list(value):
    if value is None:
        return []
    return value if isinstance(value, list) else [value]
