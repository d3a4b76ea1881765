"""Starts the demo's servers the way scripts/demo does (tools/demo/servers.sh) and checks that
the sample account answers where the program is sent, that stopping ends exactly the
servers that were started, and that they end with the process that started them."""
import imaplib
import json
import os
import shlex
import signal
import socket
import ssl
import subprocess
import tempfile
import time
import unittest
import urllib.parse

ROOT = os.environ.get("TDW_SOURCE_ROOT") or os.path.join(os.path.dirname(__file__), "..", "..", "..")
SERVERS = os.path.join(ROOT, "tools", "demo", "servers.sh")
ADDRESS = "demo@example.com"
PASSWORD = "demo"
TOKEN = "ya29.demo-sample-account"
REFRESH_TOKEN = "1//demo-sample-account"


def servers(command, folder):
    subprocess.run([SERVERS, command, folder], check=True, timeout=120, stdout=subprocess.DEVNULL)


def read_env(folder):
    env = {}
    with open(os.path.join(folder, "servers.env"), encoding="utf-8") as f:
        for line in f:
            name, _, value = line.rstrip("\n").partition("=")
            env[name] = shlex.split(value)[0]
    return env


def running(pid):
    """True while the process exists and is not a zombie waiting for its parent."""
    try:
        with open("/proc/%d/stat" % pid, encoding="utf-8") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except FileNotFoundError:
        return False


def host_map(env):
    """{(host, port): (address, port)} from TDW_HOST_MAP, the program's view of the servers."""
    mapping = {}
    for entry in env["TDW_HOST_MAP"].split(","):
        source, target = entry.split("=")
        host, _, port = source.partition(":")
        address, target_port = target.rsplit(":", 1)
        mapping[(host, int(port or 443))] = (address, int(target_port))
    return mapping


def https_get(env, url_host, path, token):
    """A GET over TLS to where TDW_HOST_MAP sends url_host, checked against the demo's CA under
    the real host name, as the program's HTTP layer does; (status, body)."""
    return https_request(env, url_host, "GET %s HTTP/1.1\r\nAuthorization: Bearer %s\r\n" % (path, token))


def https_post_form(env, url_host, path, form):
    body = urllib.parse.urlencode(form)
    return https_request(env, url_host, "POST %s HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                                        "Content-Length: %d\r\n" % (path, len(body)), body)


def https_request(env, url_host, head, body=""):
    address = host_map(env)[(url_host, 443)]
    context = ssl.create_default_context(cafile=env["TDW_EXTRA_CA"])
    with socket.create_connection(address, timeout=30) as raw, \
            context.wrap_socket(raw, server_hostname=url_host) as tls:
        tls.sendall(("%sHost: %s\r\nConnection: close\r\n\r\n%s" % (head, url_host, body)).encode())
        answer = b""
        while chunk := tls.recv(65536):
            answer += chunk
    head, _, body = answer.partition(b"\r\n\r\n")
    return int(head.split()[1]), body.decode()


def imap(env):
    context = ssl.create_default_context(cafile=env["TDW_EXTRA_CA"])
    return imaplib.IMAP4_SSL("127.0.0.1", int(env["IMAP_PORT"]), ssl_context=context, timeout=30)


class SampleAccountTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.folder = os.path.join(cls.tmp.name, "servers")
        servers("start", cls.folder)
        cls.env = read_env(cls.folder)

    @classmethod
    def tearDownClass(cls):
        servers("stop", cls.folder)
        cls.tmp.cleanup()

    def test_environment_names_the_account_and_every_google_host(self):
        self.assertEqual(self.env["DEMO_ADDRESS"], ADDRESS)
        hosts = {host for host, _ in host_map(self.env)}
        for host in ("accounts.google.com", "www.googleapis.com", "www.google.com", "picasaweb.google.com"):
            self.assertIn(host, hosts)

    def test_imap_lists_the_labels_of_the_sample_mailbox(self):
        client = imap(self.env)
        try:
            self.assertEqual(client.login(ADDRESS, PASSWORD)[0], "OK")
            status, lines = client.list()
            self.assertEqual(status, "OK")
            names = {shlex.split(line.decode())[-1] for line in lines}
            for name in ("INBOX", "Work", "Personal/Family", "Travel Plans", "Receipts",
                         "[Gmail]/All Mail", "[Gmail]/Sent Mail", "[Gmail]/Spam", "[Gmail]/Trash"):
                self.assertIn(name, names)
            status, count = client.select('"[Gmail]/All Mail"', readonly=True)
            self.assertEqual((status, count), ("OK", [b"400"]))
            client.select("INBOX", readonly=True)
            status, data = client.fetch("1", "(BODY.PEEK[HEADER.FIELDS (TO)])")
            self.assertEqual(status, "OK")
            self.assertIn(ADDRESS.encode(), data[0][1])
        finally:
            client.logout()

    def test_imap_takes_the_access_token_the_fake_google_knows(self):
        client = imap(self.env)
        try:
            answer = "user=%s\x01auth=Bearer %s\x01\x01" % (ADDRESS, TOKEN)
            self.assertEqual(client.authenticate("XOAUTH2", lambda _: answer.encode())[0], "OK")
        finally:
            client.logout()

    def test_imap_takes_an_access_token_the_fake_google_issues_later(self):
        status, body = https_post_form(self.env, "accounts.google.com", "/o/oauth2/token", {
            "grant_type": "refresh_token", "refresh_token": REFRESH_TOKEN, "client_id": "demo-client"})
        self.assertEqual(status, 200)
        issued = json.loads(body)["access_token"]
        self.assertNotEqual(issued, TOKEN)
        for mech, text, expect in (
                ("XOAUTH2", "user=%s\x01auth=Bearer %s\x01\x01" % (ADDRESS, issued), "OK"),
                ("OAUTHBEARER", "n,a=%s,\x01auth=Bearer %s\x01\x01" % (ADDRESS, issued), "OK"),
                ("XOAUTH2", "user=%s\x01auth=Bearer %s\x01\x01" % (ADDRESS, issued + "x"), "NO")):
            with self.subTest(mech=mech, text=text):
                client = imap(self.env)
                try:
                    answers = iter([text.encode(), b""])  # the failure step takes an empty answer
                    try:
                        result = client.authenticate(mech, lambda _: next(answers))[0]
                    except imaplib.IMAP4.error:
                        result = "NO"
                    self.assertEqual(result, expect)
                finally:
                    client.shutdown()

    def test_a_browser_finds_the_consent_page_without_the_host_map(self):
        url = urllib.parse.urlsplit(self.env["TDW_AUTHORIZATION_URL"])
        self.assertEqual((url.scheme, url.hostname), ("http", "127.0.0.1"))
        query = urllib.parse.urlencode({"response_type": "code", "client_id": "demo-client", "state": "s",
                                        "redirect_uri": "http://127.0.0.1:5555/", "scope": "https://mail.google.com/",
                                        "login_hint": ADDRESS})
        with socket.create_connection((url.hostname, url.port), timeout=30) as raw:
            raw.sendall(("GET %s?%s HTTP/1.1\r\nHost: %s\r\nConnection: close\r\n\r\n"
                         % (url.path, query, url.netloc)).encode())
            answer = b""
            while chunk := raw.recv(65536):
                answer += chunk
        self.assertTrue(answer.startswith(b"HTTP/1.1 200 "), answer[:200])
        self.assertIn(b'id="submit_approve_access"', answer)

    def test_google_answers_for_the_sample_account(self):
        status, body = https_get(self.env, "www.googleapis.com", "/userinfo/email", TOKEN)
        self.assertEqual(status, 200)
        self.assertIn(ADDRESS, body)
        status, _ = https_get(self.env, "www.googleapis.com", "/calendar/v3/users/me/calendarList?maxResults=1", TOKEN)
        self.assertEqual(status, 200)
        status, body = https_get(self.env, "www.googleapis.com", "/calendar/v3/calendars/demo%40example.com/events", TOKEN)
        self.assertEqual(status, 200)
        self.assertIn("ev-swim_20260112T180000Z", body)
        status, _ = https_get(self.env, "www.googleapis.com", "/calendar/v3/users/me/calendarList?maxResults=1", "ya29.unknown")
        self.assertEqual(status, 401)


class StopTest(unittest.TestCase):
    def test_stop_ends_its_own_servers_and_nothing_else(self):
        with tempfile.TemporaryDirectory() as tmp:
            first, second = os.path.join(tmp, "first"), os.path.join(tmp, "second")
            servers("start", first)
            try:
                servers("start", second)
                try:
                    first_env, second_env = read_env(first), read_env(second)
                    first_pids = [int(first_env["GOOGLE_PID"]), int(first_env["IMAP_PID"])]
                    second_pids = [int(second_env["GOOGLE_PID"]), int(second_env["IMAP_PID"])]
                    servers("stop", first)
                    self.assertEqual([pid for pid in first_pids if running(pid)], [])
                    self.assertTrue(all(running(pid) for pid in second_pids))
                    client = imap(second_env)
                    self.assertEqual(client.login(ADDRESS, PASSWORD)[0], "OK")
                    client.logout()
                finally:
                    servers("stop", second)
                self.assertEqual([pid for pid in second_pids if running(pid)], [])
            finally:
                servers("stop", first)

    def test_servers_end_when_their_starter_is_killed_outright(self):
        with tempfile.TemporaryDirectory() as tmp:
            folder = os.path.join(tmp, "servers")
            # A starter like scripts/demo: it starts the servers, then waits on something else.
            starter = subprocess.Popen(["bash", "-c", '"$0" start "$1" > /dev/null && echo started && read -r _',
                                        SERVERS, folder], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
            try:
                self.assertEqual(starter.stdout.readline(), "started\n")
                env = read_env(folder)
                pids = [int(env["GOOGLE_PID"]), int(env["IMAP_PID"])]
                self.assertTrue(all(running(pid) for pid in pids))
                starter.send_signal(signal.SIGKILL)
                starter.wait()
                # A safety net against a hang, not a measurement.
                for _ in range(600):
                    if not any(running(pid) for pid in pids):
                        break
                    time.sleep(0.1)
                self.assertEqual([pid for pid in pids if running(pid)], [])
            finally:
                starter.kill()
                starter.wait()
                starter.stdin.close()
                starter.stdout.close()
                servers("stop", folder)

    def test_stop_leaves_a_process_that_took_over_a_recorded_pid(self):
        with tempfile.TemporaryDirectory() as folder:
            other = subprocess.Popen(["sleep", "60"])
            try:
                with open(os.path.join(folder, "servers.pids"), "w", encoding="utf-8") as f:
                    f.write("%d %s\n" % (other.pid, os.path.join(ROOT, "tools", "fake-google", "fake_google.py")))
                servers("stop", folder)
                self.assertIsNone(other.poll())
            finally:
                other.kill()
                other.wait()


if __name__ == "__main__":
    unittest.main()
