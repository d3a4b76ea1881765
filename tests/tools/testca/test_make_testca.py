"""Checks tools/testca/make-testca.sh with Python's own TLS stack as the client."""
import os
import pathlib
import shutil
import ssl
import stat
import subprocess
import tempfile
import time
import unittest

ROOT = os.environ.get("TDW_SOURCE_ROOT") or os.path.join(os.path.dirname(__file__), "..", "..", "..")
SCRIPT = os.path.join(ROOT, "tools", "testca", "make-testca.sh")
FILES = ("ca.pem", "ca.key", "server.pem", "server.key")


def handshake(outdir, server_name):
    """Runs a TLS handshake in memory between the generated server certificate and a client that
    trusts only ca.pem; raises ssl.SSLCertVerificationError when the name is not covered."""
    sctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    sctx.load_cert_chain(os.path.join(outdir, "server.pem"), os.path.join(outdir, "server.key"))
    cctx = ssl.create_default_context(cafile=os.path.join(outdir, "ca.pem"))
    cin, cout, sin, sout = (ssl.MemoryBIO() for _ in range(4))
    client = cctx.wrap_bio(cin, cout, server_hostname=server_name)
    server = sctx.wrap_bio(sin, sout, server_side=True)
    done = {client: False, server: False}
    for _ in range(20):
        for side in (client, server):
            if not done[side]:
                try:
                    side.do_handshake()
                    done[side] = True
                except ssl.SSLWantReadError:
                    pass
        sin.write(cout.read())
        cin.write(sout.read())
        if all(done.values()):
            return
    raise AssertionError("handshake did not finish")


def run(outdir, **env):
    subprocess.run([SCRIPT, outdir], check=True, env=dict(os.environ, **env))


def contents(outdir):
    return {f: pathlib.Path(outdir, f).read_bytes() for f in FILES}


class MakeTestCaTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="testca-")
        self.addCleanup(shutil.rmtree, self.dir)
        self.out = os.path.join(self.dir, "ca")  # not yet there: the script creates it
        run(self.out)

    def test_server_certificate_covers_loopback_and_google_hosts(self):
        for name in ("127.0.0.1", "localhost", "imap.gmail.com", "accounts.google.com",
                     "oauth2.googleapis.com", "www.googleapis.com", "gmail.googleapis.com",
                     "docs.google.com", "picasaweb.google.com", "www.google.com",
                     "lh3.googleusercontent.com"):
            with self.subTest(name=name):
                handshake(self.out, name)
        for name in ("example.com", "a.b.googleapis.com", "127.0.0.2"):
            with self.subTest(name=name), self.assertRaises(ssl.SSLCertVerificationError):
                handshake(self.out, name)

    def test_loopback_address_is_also_a_dns_name(self):
        """Clients that match the host they were given against DNS names only (mbsync) accept
        127.0.0.1 too."""
        out = subprocess.run(["openssl", "x509", "-in", os.path.join(self.out, "server.pem"),
                              "-noout", "-ext", "subjectAltName"], check=True, capture_output=True,
                             text=True).stdout
        self.assertIn("DNS:127.0.0.1", out)
        self.assertIn("IP Address:127.0.0.1", out)

    def test_keys_are_private_and_validity_is_short(self):
        for key in ("ca.key", "server.key"):
            self.assertEqual(stat.S_IMODE(os.stat(os.path.join(self.out, key)).st_mode), 0o600)
        end = subprocess.run(["openssl", "x509", "-in", os.path.join(self.out, "server.pem"),
                              "-noout", "-enddate"], check=True, capture_output=True, text=True)
        not_after = ssl.cert_time_to_seconds(end.stdout.strip().split("=", 1)[1])
        days = int((not_after - time.time()) // 86400)
        self.assertIn(days, (29, 30))

    def test_second_run_reuses_a_valid_set(self):
        before = contents(self.out)
        run(self.out)
        self.assertEqual(contents(self.out), before)

    def test_incomplete_or_short_lived_set_is_replaced(self):
        before = contents(self.out)
        os.remove(os.path.join(self.out, "server.key"))
        run(self.out)
        after = contents(self.out)
        self.assertNotEqual(after["ca.pem"], before["ca.pem"])
        handshake(self.out, "imap.gmail.com")
        # A set that expires within a day would not last through a test run.
        short = os.path.join(self.dir, "short")
        run(short, TESTCA_DAYS="1")
        first = contents(short)
        run(short, TESTCA_DAYS="1")
        self.assertNotEqual(contents(short)["server.pem"], first["server.pem"])

    def test_concurrent_runs_leave_one_matching_set(self):
        shared = os.path.join(self.dir, "shared")
        procs = [subprocess.Popen([SCRIPT, shared]) for _ in range(4)]
        self.assertEqual([p.wait() for p in procs], [0] * 4)
        handshake(shared, "localhost")
        self.assertEqual([n for n in os.listdir(shared) if n.startswith(".new")], [])


if __name__ == "__main__":
    unittest.main()
