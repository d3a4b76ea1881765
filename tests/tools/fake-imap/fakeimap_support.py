"""Starts the fake Gmail IMAP server for a test and talks to it: imaplib over TLS for ordinary
exchanges, a raw TLS client where the exact bytes matter, and the JSON control port. Nothing
here uses the fake's own modules, so a parsing mistake there cannot hide itself."""
import base64
import imaplib
import json
import os
import re
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import urllib.request

ROOT = os.environ.get("TDW_SOURCE_ROOT") or os.path.join(os.path.dirname(__file__), "..", "..", "..")
FAKE = os.path.join(ROOT, "tools", "fake-imap", "fake_gmail_imap.py")
GEN_MAILBOX = os.path.join(ROOT, "tools", "imap-peer", "gen_mailbox.py")
TESTCA = os.path.join(ROOT, "tools", "testca", "make-testca.sh")
USER, TOKEN = "alice@example.com", "ya29.local-test-token-alice"

for _cmd in ("XLIST", "ID", "NAMESPACE", "COMPRESS"):
    imaplib.Commands.setdefault(_cmd, ("NONAUTH", "AUTH", "SELECTED"))

_tmp = None


def workdir():
    """One temporary folder per test process, holding the test CA and scenario files."""
    global _tmp
    if _tmp is None:
        _tmp = tempfile.mkdtemp(prefix="fakeimap-test-")
        subprocess.run([TESTCA, os.path.join(_tmp, "ca")], check=True)
    return _tmp


def cleanup():
    global _tmp
    if _tmp:
        shutil.rmtree(_tmp, ignore_errors=True)
        _tmp = None


def xoauth2(user=USER, token=TOKEN):
    return "user=%s\x01auth=Bearer %s\x01\x01" % (user, token)


class Fake:
    """One fake server process, started with a scenario (a dict) and extra arguments."""

    def __init__(self, scenario=None, *args, tls_dir=None):
        d = workdir()
        tls = ["--tls-dir", tls_dir] if tls_dir else [
            "--cert", os.path.join(d, "ca", "server.pem"), "--key", os.path.join(d, "ca", "server.key")]
        fd, self.scenario_path = tempfile.mkstemp(suffix=".json", dir=d)
        with os.fdopen(fd, "w") as f:
            json.dump(scenario or {}, f)
        self.log = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(
            [sys.executable, FAKE, *tls, "--scenario", self.scenario_path, "--exit-on-stdin-eof", *args],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.log, text=True)
        line = self.proc.stdout.readline()
        if not line:
            self.proc.stdin.close()
            self.proc.wait()
            self.log.seek(0)
            raise RuntimeError("fake did not start: %s" % self.log.read().decode())
        self.info = dict(kv.split("=", 1) for kv in line.split())
        self.port, self.control_port = int(self.info["port"]), int(self.info["control_port"])
        self.line = line
        self.tls = ssl.create_default_context(
            cafile=self.info["ca_cert"] if tls_dir else os.path.join(d, "ca", "ca.pem"))

    def stop(self):
        """Stops the server; an internal error it logged fails the test that used it."""
        self.proc.terminate()
        self.proc.wait(10)
        self.proc.stdin.close()
        self.proc.stdout.close()
        self.log.seek(0)
        log = self.log.read().decode(errors="replace")
        self.log.close()
        os.remove(self.scenario_path)
        assert "internal error" not in log, log

    def control(self, *reqs, expect_ok=True):
        req = urllib.request.Request("http://127.0.0.1:%d/" % self.control_port,
                                     data=json.dumps(list(reqs)).encode(), method="POST")
        try:
            with urllib.request.urlopen(req, timeout=10) as r:
                body = json.load(r)
        except urllib.error.HTTPError as e:
            body = json.load(e)
        assert body["ok"] == expect_ok, body
        return body.get("result") if expect_ok else body["error"]

    def imap(self, login=True, timeout=10):
        m = imaplib.IMAP4_SSL("127.0.0.1", self.port, ssl_context=self.tls, timeout=timeout)
        if login:
            m.authenticate("XOAUTH2", lambda challenge: xoauth2().encode())
        return m

    def raw(self, login=True):
        r = Raw(self.tls, self.port)
        if login:
            r.command("A0 AUTHENTICATE XOAUTH2 " + base64.b64encode(xoauth2().encode()).decode())
        return r


class Raw:
    """A bare TLS connection: sends bytes as given and reads logical response lines (with their
    literals inline), so tests can check the exact wire form and pipelining."""

    def __init__(self, tls, port):
        sock = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.sock = tls.wrap_socket(sock, server_hostname="127.0.0.1")
        self.buf = b""
        self.greeting = self.line()

    def send(self, data):
        self.sock.sendall(data.encode() if isinstance(data, str) else data)

    def _more(self):
        chunk = self.sock.recv(65536)
        if not chunk:
            raise EOFError("server closed the connection")
        self.buf += chunk

    def _read_line(self):
        while b"\r\n" not in self.buf:
            self._more()
        line, self.buf = self.buf.split(b"\r\n", 1)
        return line + b"\r\n"

    def line(self):
        out = self._read_line()
        while True:
            m = re.search(rb"\{(\d+)\}\r\n$", out)
            if not m:
                return out
            n = int(m.group(1))
            while len(self.buf) < n:
                self._more()
            out += self.buf[:n]
            self.buf = self.buf[n:]
            out += self._read_line()

    def until_tagged(self, tag):
        lines = []
        while True:
            line = self.line()
            lines.append(line)
            if line.startswith(tag.encode() + b" "):
                return lines

    def command(self, text):
        tag = text.split(" ", 1)[0]
        self.send(text + "\r\n")
        return self.until_tagged(tag)

    def close(self):
        self.sock.close()


def tokens(data):
    """A small IMAP response tokenizer: atoms and flags as str, quoted strings as ('q', text),
    literals as ('l', text), lists as Python lists."""
    pos, stack, cur = 0, [], []
    while pos < len(data):
        c = data[pos:pos + 1]
        if c in (b" ", b"\r", b"\n"):
            pos += 1
        elif c == b"(":
            stack.append(cur)
            cur = []
            pos += 1
        elif c == b")":
            stack[-1].append(cur)
            cur = stack.pop()
            pos += 1
        elif c == b'"':
            m = re.compile(rb'"((?:[^"\\]|\\.)*)"').match(data, pos)
            cur.append(("q", re.sub(rb"\\(.)", rb"\1", m.group(1)).decode("latin-1")))
            pos = m.end()
        elif c == b"{":
            m = re.compile(rb"\{(\d+)\}\r\n").match(data, pos)
            n = int(m.group(1))
            cur.append(("l", data[m.end():m.end() + n].decode("latin-1")))
            pos = m.end() + n
        else:
            m = re.compile(rb"[^ ()\[\r\n]+(\[[^\]]*\])?(<\d+>)?").match(data, pos)
            cur.append(m.group(0).decode("latin-1"))
            pos = m.end()
    return cur


def fetch_items(data):
    """Items of every FETCH response, from an imaplib result ('n (...)' elements, literals as
    tuples) or from raw lines ('* n FETCH (...)'), as {seq: {ITEM: value}}."""
    if isinstance(data, list):
        data = b"\r\n".join(x[0] + b"\r\n" + x[1] if isinstance(x, tuple) else x
                            for x in data if x is not None)
    out = {}
    toks = tokens(data)
    for k, t in enumerate(toks):
        if not isinstance(t, list) or k == 0:
            continue
        seq = toks[k - 2] if toks[k - 1] == "FETCH" else toks[k - 1]
        if isinstance(seq, str) and seq.isdigit():
            out[int(seq)] = {t[j].upper(): t[j + 1] for j in range(0, len(t), 2)}
    return out


def text_of(tok):
    return tok[1] if isinstance(tok, tuple) else tok
