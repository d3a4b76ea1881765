"""Checks the fake Google server from outside, with Python's own HTTP and TLS client and an
independent reading of the service table."""
import base64
import gzip
import hashlib
import http.client
import json
import os
import plistlib
import re
import socket
import ssl
import subprocess
import sys
import tempfile
import unittest
import urllib.parse

ROOT = os.environ.get("TDW_SOURCE_ROOT") or os.path.join(os.path.dirname(__file__), "..", "..", "..")
SERVER = os.path.join(ROOT, "tools", "fake-google", "fake_google.py")
MAKE_CA = os.path.join(ROOT, "tools", "testca", "make-testca.sh")
CONFIG = os.path.join(ROOT, "resources", "Config.plist")
FORM = {"Content-Type": "application/x-www-form-urlencoded"}


def ca_dir():
    base = os.environ.get("TDW_BINARY_ROOT") or tempfile.gettempdir()
    path = os.path.join(base, "testca")
    subprocess.run([MAKE_CA, path], check=True)
    return path


class Fake:
    """The server as a child process, reached by host name over TLS on its 127.0.0.1 port."""

    def __init__(self, scenario=None):
        self.ca = ca_dir()
        args = [sys.executable, SERVER, "--tls-dir", self.ca, "--watch-stdin"]
        if scenario is not None:
            self.scenario_file = tempfile.NamedTemporaryFile("w", suffix=".json", delete=False)
            json.dump(scenario, self.scenario_file)
            self.scenario_file.close()
            args += ["--scenario", self.scenario_file.name]
        self.process = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        ports = json.loads(self.process.stdout.readline())
        self.http_port, self.https_port = ports["http_port"], ports["https_port"]
        self.context = ssl.create_default_context(cafile=os.path.join(self.ca, "ca.pem"))

    def close(self):
        self.process.stdin.close()
        self.process.wait(timeout=10)
        self.process.stdout.close()

    def request(self, method, url, body=None, headers=None, timeout=10):
        """Sends to the fake whatever host the URL names; TLS checks the certificate against it."""
        split = urllib.parse.urlsplit(url)
        if split.scheme == "https":
            raw = socket.create_connection(("127.0.0.1", self.https_port), timeout=timeout)
            conn = http.client.HTTPSConnection(split.hostname, timeout=timeout, context=self.context)
            conn.sock = self.context.wrap_socket(raw, server_hostname=split.hostname)
        else:
            conn = http.client.HTTPConnection("127.0.0.1", self.http_port, timeout=timeout)
        target = split.path + ("?" + split.query if split.query else "")
        all_headers = {"Host": split.hostname}
        all_headers.update(headers or {})
        if isinstance(body, dict):
            body = urllib.parse.urlencode(body)
        try:
            conn.request(method, target, body=body, headers=all_headers)
            response = conn.getresponse()
            return response.status, dict(response.getheaders()), response.read()
        finally:
            conn.close()

    def control(self, name, value=None):
        status, _, data = self.request("POST" if value is not None else "GET",
                                       "http://127.0.0.1/_control/" + name,
                                       json.dumps(value) if value is not None else None)
        assert status == 200, data
        return json.loads(data)

    def token(self, form):
        status, _, data = self.request("POST", "https://accounts.google.com/o/oauth2/token", form, FORM)
        return status, json.loads(data)


def bearer(token):
    return {"Authorization": "Bearer " + token}


class ScenarioTestCase(unittest.TestCase):
    """Tests of one fake started with the class's SCENARIO, which each test starts from."""
    SCENARIO = {}

    @classmethod
    def setUpClass(cls):
        cls.fake = Fake(cls.SCENARIO)

    @classmethod
    def tearDownClass(cls):
        cls.fake.close()

    def setUp(self):
        self.fake.control("reset", {})


class FakeGoogleTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.fake = Fake({"accounts": [{"email": "User@Example.com", "refresh_token": "rt-user"}]})

    @classmethod
    def tearDownClass(cls):
        cls.fake.close()

    def setUp(self):
        self.fake.control("reset", {})

    def consent(self, redirect_uri, decision, challenge=None):
        query = {"response_type": "code", "client_id": "client-1", "redirect_uri": redirect_uri,
                 "state": "x", "scope": "https://www.googleapis.com/auth/userinfo.email https://mail.google.com/",
                 "login_hint": "New@Example.com"}
        if challenge:
            query.update(code_challenge=challenge, code_challenge_method="S256")
        status, _, page = self.fake.request("GET", "https://accounts.google.com/o/oauth2/auth?" + urllib.parse.urlencode(query))
        self.assertEqual(status, 200)
        page = page.decode()
        self.assertIn('id="submit_approve_access"', page)
        request_id = re.search(r'name="request" value="([^"]+)"', page).group(1)
        return self.fake.request("POST", "https://accounts.google.com/o/oauth2/approval",
                                 {"request": request_id, "decision": decision}, FORM)

    def test_sign_in_with_pkce_then_tokens_work_and_the_code_works_once(self):
        verifier = "v" * 20 + "-._~" + "A1" * 10
        challenge = base64.urlsafe_b64encode(hashlib.sha256(verifier.encode()).digest()).rstrip(b"=").decode()
        redirect_uri = "http://127.0.0.1:5555/cb"

        def exchange(verifier_sent, code=None):
            if code is None:
                status, headers, _ = self.consent(redirect_uri, "allow", challenge)
                self.assertEqual(status, 302)
                location = urllib.parse.urlsplit(headers["Location"])
                self.assertEqual(location.netloc, "127.0.0.1:5555")
                args = dict(urllib.parse.parse_qsl(location.query))
                self.assertEqual(args["state"], "x")
                code = args["code"]
            form = {"grant_type": "authorization_code", "code": code, "client_id": "client-1",
                    "client_secret": "s", "redirect_uri": redirect_uri}
            if verifier_sent:
                form["code_verifier"] = verifier_sent
            return code, self.fake.token(form)

        for verifier_sent in (None, "w" * 43):
            _, (status, answer) = exchange(verifier_sent)
            self.assertEqual((status, answer["error"]), (400, "invalid_grant"), verifier_sent)
        code, (status, tokens) = exchange(verifier)
        self.assertEqual(status, 200)
        _, (status, answer) = exchange(verifier, code)
        self.assertEqual((status, answer["error"]), (400, "invalid_grant"))

        self.assertTrue(tokens["refresh_token"] and tokens["expires_in"] > 0)
        status, _, data = self.fake.request("GET", "https://www.googleapis.com/userinfo/email?alt=json",
                                            headers=bearer(tokens["access_token"]))
        self.assertEqual((status, json.loads(data)["data"]["email"]), (200, "New@Example.com"))
        # The mail scope was granted, the Drive scope was not.
        status, _, _ = self.fake.request("GET", "https://www.googleapis.com/drive/v2/about",
                                         headers=bearer(tokens["access_token"]))
        self.assertEqual(status, 403)

    def test_deny_redirects_with_access_denied_and_oob_shows_the_code(self):
        status, headers, _ = self.consent("http://localhost/", "deny")
        self.assertEqual(status, 302)
        self.assertEqual(dict(urllib.parse.parse_qsl(urllib.parse.urlsplit(headers["Location"]).query)),
                         {"error": "access_denied", "state": "x"})
        status, _, page = self.consent("urn:ietf:wg:oauth:2.0:oob", "allow")
        self.assertEqual(status, 200)
        self.assertRegex(page.decode(), r'id="code" readonly value="4/')

    def test_refresh_grant_and_token_expiry(self):
        status, answer = self.fake.token({"grant_type": "refresh_token", "refresh_token": "rt-user", "client_id": "c"})
        self.assertEqual(status, 200)
        self.assertNotIn("refresh_token", answer)
        url = "https://www.googleapis.com/userinfo/email?alt=json"
        self.assertEqual(self.fake.request("GET", url, headers=bearer(answer["access_token"]))[0], 200)
        self.fake.control("clock", {"advance": answer["expires_in"] + 1})
        self.assertEqual(self.fake.request("GET", url, headers=bearer(answer["access_token"]))[0], 401)
        status, answer = self.fake.token({"grant_type": "refresh_token", "refresh_token": "unknown", "client_id": "c"})
        self.assertEqual((status, answer["error"]), (400, "invalid_grant"))

    def test_every_preflight_url_of_the_service_table_needs_a_token(self):
        with open(CONFIG, "rb") as f:
            urls = [s["preflighturl"] for s in plistlib.load(f)["services"] if "preflighturl" in s]
        self.assertGreaterEqual(len(urls), 3)
        _, answer = self.fake.token({"grant_type": "refresh_token", "refresh_token": "rt-user", "client_id": "c"})
        for url in urls:
            with self.subTest(url=url):
                self.assertEqual(self.fake.request("GET", url)[0], 401)
                self.assertEqual(self.fake.request("GET", url, headers=bearer(answer["access_token"]))[0], 200)

    def test_scripted_faults(self):
        url = "https://www.googleapis.com/drive/v2/about"
        path = "/drive/v2/about"
        cases = [
            ({"status": 429, "retry_after": 7}, 429, {"Retry-After": "7"}, None),
            ({"status": 403, "reason": "userRateLimitExceeded"}, 403, {}, "userRateLimitExceeded"),
            ({"status": 503}, 503, {}, None),
            ({"status": 200, "body": "{not json"}, 200, {}, None),
            ({"status": 200, "body": [1, 2]}, 200, {}, None),
            ({"status": 302, "location": "https://mail.google.com/elsewhere"}, 302,
             {"Location": "https://mail.google.com/elsewhere"}, None),
        ]
        for fault, status, headers, reason in cases:
            with self.subTest(fault=fault):
                self.fake.control("fault", dict(fault, path=path))
                got_status, got_headers, body = self.fake.request("GET", url)
                self.assertEqual(got_status, status)
                for name, value in headers.items():
                    self.assertEqual(got_headers.get(name), value)
                if reason:
                    self.assertEqual(json.loads(body)["error"]["errors"][0]["reason"], reason)
                if "body" in fault:
                    self.assertEqual(body, (fault["body"] if isinstance(fault["body"], str) else json.dumps(fault["body"])).encode())
                # Each fault was scripted for one request only.
                self.assertEqual(self.fake.request("GET", url)[0], 401)

    def test_stall_drop_and_repeated_faults(self):
        self.fake.control("fault", {"path": "/slow", "stall": 30})
        with self.assertRaises((socket.timeout, TimeoutError)):
            self.fake.request("GET", "https://www.googleapis.com/slow", timeout=0.5)
        self.fake.control("fault", {"path": "/gone", "drop": True})
        with self.assertRaises((http.client.RemoteDisconnected, ConnectionError)):
            self.fake.request("GET", "https://www.googleapis.com/gone")
        self.fake.control("fault", {"path": "/o/oauth2/token", "status": 400, "error": "invalid_grant", "times": -1})
        for _ in range(3):
            status, answer = self.fake.token({"grant_type": "refresh_token", "refresh_token": "rt-user", "client_id": "c"})
            self.assertEqual((status, answer["error"]), (400, "invalid_grant"))

    def test_gzip_zeros_and_trickle(self):
        self.fake.control("fault", {"path": "/bomb", "status": 500, "zeros": 8 << 20, "gzip": True})
        status, headers, body = self.fake.request("GET", "https://www.googleapis.com/bomb")
        self.assertEqual((status, headers["Content-Encoding"]), (500, "gzip"))
        self.assertLess(len(body), 64 << 10)
        self.assertEqual(gzip.decompress(body), bytes(8 << 20))
        self.fake.control("fault", {"path": "/packed", "body": "hello", "gzip": True})
        self.assertEqual(gzip.decompress(self.fake.request("GET", "https://www.googleapis.com/packed")[2]), b"hello")
        # Each byte comes late, so a short read time-out ends the answer before its end.
        self.fake.control("fault", {"path": "/drip", "body": "0123456789", "trickle": 0.3})
        with self.assertRaises((socket.timeout, TimeoutError)):
            self.fake.request("GET", "https://www.googleapis.com/drip", timeout=0.2)
        self.fake.control("fault", {"path": "/drip", "body": "0123", "trickle": 0.05})
        self.assertEqual(self.fake.request("GET", "https://www.googleapis.com/drip")[2], b"0123")

    def test_request_log_records_host_scheme_and_headers(self):
        self.fake.control("requests/clear", {})
        self.fake.request("GET", "https://www.google.com/m8/feeds/contacts/default/full?max-results=1",
                          headers={"GData-Version": "3.0"})
        log = self.fake.control("requests")
        self.assertEqual(len(log), 1)
        entry = log[0]
        self.assertEqual((entry["scheme"], entry["host"], entry["path"], entry["query"]),
                         ("https", "www.google.com", "/m8/feeds/contacts/default/full", "max-results=1"))
        self.assertEqual(entry["headers"]["gdata-version"], "3.0")
        self.assertNotIn("authorization", entry["headers"])


    def test_a_browser_gets_the_consent_page_on_the_plain_http_port(self):
        """A browser follows no host map and trusts no test CA: it asks for the page under
        127.0.0.1, and posts the form back there."""
        query = {"response_type": "code", "client_id": "client-1", "redirect_uri": "http://127.0.0.1:5555/cb",
                 "state": "s", "scope": "https://mail.google.com/", "login_hint": "user@example.com"}
        status, _, page = self.fake.request("GET", "http://127.0.0.1/o/oauth2/auth?" + urllib.parse.urlencode(query))
        self.assertEqual(status, 200)
        page = page.decode()
        action = re.search(r'<form method="post" action="([^"]+)"', page).group(1)
        request_id = re.search(r'name="request" value="([^"]+)"', page).group(1)
        status, headers, _ = self.fake.request("POST", urllib.parse.urljoin("http://127.0.0.1/o/oauth2/auth", action),
                                               {"request": request_id, "decision": "allow"}, FORM)
        self.assertEqual(status, 302)
        args = dict(urllib.parse.parse_qsl(urllib.parse.urlsplit(headers["Location"]).query))
        self.assertEqual(args["state"], "s")
        # The code is exchanged where the program sends it, at the token endpoint.
        status, tokens = self.fake.token({"grant_type": "authorization_code", "code": args["code"], "client_id": "client-1",
                                          "redirect_uri": "http://127.0.0.1:5555/cb"})
        self.assertEqual(status, 200)
        # Only the consent page is there: the APIs keep their own host names.
        self.assertEqual(self.fake.request("GET", "http://127.0.0.1/userinfo/email",
                                           headers=bearer(tokens["access_token"]))[0], 404)

    def test_control_tells_what_a_live_access_token_grants(self):
        _, answer = self.fake.token({"grant_type": "refresh_token", "refresh_token": "rt-user", "client_id": "c"})

        def lookup(token):
            status, _, data = self.fake.request("POST", "http://127.0.0.1/_control/token",
                                                json.dumps({"access_token": token}))
            return status, json.loads(data)

        status, grant = lookup(answer["access_token"])
        self.assertEqual(status, 200)
        self.assertEqual(grant["email"], "User@Example.com")
        self.assertIn("https://mail.google.com/", grant["scopes"])
        self.assertTrue(0 < grant["expires_in"] <= answer["expires_in"])
        self.assertEqual(lookup("ya29.unknown")[0], 404)
        self.fake.control("clock", {"advance": answer["expires_in"] + 1})
        self.assertEqual(lookup(answer["access_token"])[0], 404)
        # The question is the fakes' own business: it is not in the request log.
        self.assertNotIn("/_control/token", [entry["path"] for entry in self.fake.control("requests")])


class WatchPidTest(unittest.TestCase):
    def test_ends_with_the_process_it_watches(self):
        watched = subprocess.Popen(["sleep", "600"])
        self.addCleanup(watched.wait)
        self.addCleanup(watched.kill)
        process = subprocess.Popen([sys.executable, SERVER, "--watch-pid", str(watched.pid)],
                                   stdout=subprocess.PIPE, text=True)
        self.addCleanup(process.stdout.close)
        self.addCleanup(process.kill)
        self.assertIn("http_port", json.loads(process.stdout.readline()))
        watched.kill()
        watched.wait()
        # A safety net against a hang, not a measurement.
        self.assertEqual(process.wait(60), 0)

    def test_a_process_already_gone_stops_the_start(self):
        gone = subprocess.Popen(["true"])
        gone.wait()
        process = subprocess.run([sys.executable, SERVER, "--watch-pid", str(gone.pid)],
                                 capture_output=True, text=True, timeout=60)
        self.assertNotEqual(process.returncode, 0)
        self.assertEqual(process.stdout, "")


if __name__ == "__main__":
    unittest.main()
