#!/usr/bin/env python3
"""A fake Gmail IMAP server for the tests of the IMAP client and the mail backup.

Implicit TLS on 127.0.0.1, XOAUTH2 with Gmail's failure step, Gmail's label model and its IMAP
extensions (X-GM-EXT-1, XLIST), scripted changes through a control port and scripted faults.
Python 3 standard library only. See README.md next to this file for the command line, the
scenario format and the control interface.
"""
import argparse
import base64
import binascii
import bisect
import http.server
import json
import os
import re
import select
import signal
import socket
import socketserver
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import traceback
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gmail_model import (LANGUAGES, ModelError, build_mailbox, message_from_spec,  # noqa: E402
                         STARRED)
from google_tokens import MAIL_SCOPE, GoogleTokens  # noqa: E402
from imap_wire import (LITERAL_MARK, Atom, ParseError, astring, compress_set,  # noqa: E402
                       internaldate_out, is_string, label_out, nstring_out,
                       parse_sequence_set, quoted, tokenize)

HERE = os.path.dirname(os.path.abspath(__file__))
CAPABILITIES = ("IMAP4rev1 UNSELECT IDLE NAMESPACE QUOTA ID XLIST CHILDREN X-GM-EXT-1 UIDPLUS "
                "COMPRESS=DEFLATE ENABLE MOVE CONDSTORE ESEARCH UTF8=ACCEPT LIST-EXTENDED "
                "LIST-STATUS LITERAL- SPECIAL-USE APPENDLIMIT=35651584")
# Before login Gmail announces a short set (no SPECIAL-USE, no CONDSTORE); "full" is the whole
# set plus the mechanisms, for clients that must not depend on which one they read.
PREAUTH_CAPABILITIES = {
    "gmail": ("IMAP4rev1 UNSELECT IDLE NAMESPACE QUOTA ID XLIST CHILDREN X-GM-EXT-1 XYZZY SASL-IR "
              "AUTH=XOAUTH2 AUTH=PLAIN AUTH=PLAIN-CLIENTTOKEN AUTH=OAUTHBEARER"),
    "full": CAPABILITIES + " SASL-IR AUTH=XOAUTH2 AUTH=PLAIN AUTH=OAUTHBEARER",
}
COMPRESS_CAPABILITY = " COMPRESS=DEFLATE"
DEFAULT_USER, DEFAULT_TOKEN, DEFAULT_PASSWORD = (
    "alice@example.com", "ya29.local-test-token-alice", "secret")
FAILURE_JSON = json.dumps({"status": "400", "schemes": "Bearer",
                           "scope": MAIL_SCOPE}, separators=(",", ":"))
OAUTHBEARER_FAILURE_JSON = json.dumps({"status": "invalid_token", "schemes": "bearer",
                                       "scope": MAIL_SCOPE},
                                      separators=(",", ":"))
MAX_LINE = 1 << 20
MAX_LITERAL = 64 << 20
NONSYNC_LITERAL_MAX = 4096   # LITERAL- (RFC 7888)
FLUSH_AT = 1 << 20           # bounds the reply buffer when a client fetches a whole mailbox
# Replies to pipelined commands already received go out together up to this size; a larger one
# (a message body) goes out at once, so the client works on it while the next one is made.
BATCH_AT = 1 << 12
LABEL_STYLES = ("gmail", "mixed", "bare", "quoted", "literal")
# Gmail leaves the label of the selected folder out of X-GM-LABELS ("omit"); "show" lists it.
SELECTED_LABEL_STYLES = ("omit", "show")
FAULT_KINDS = ("bad", "no", "throttled", "throttled_ok", "drop", "drop_mid_literal", "stall", "expunge",
               "long_literal")
# What a long_literal fault sends after the message: lines of a fixed text.
PADDING_LINE = b"x" * 78 + b"\r\n"
FLAGS_LINE = "\\Answered \\Flagged \\Draft \\Deleted \\Seen $NotPhishing $Phishing"
STATUS_ITEMS = ("MESSAGES", "RECENT", "UIDNEXT", "UIDVALIDITY", "UNSEEN", "HIGHESTMODSEQ")
BODY_RE = re.compile(r"^(BODY|BODY\.PEEK)\[([^\]]*)\](?:<(\d+)(?:\.(\d+))?>)?$", re.I)
# Gmail answers with its items in an order of its own, not the order asked for; "legacy" is
# another fixed order, for clients that must not depend on one.
ITEM_ORDERS = {
    "gmail": ("X-GM-THRID", "X-GM-MSGID", "X-GM-LABELS", "UID", "RFC822.SIZE", "MODSEQ",
              "INTERNALDATE", "FLAGS", "ENVELOPE"),
    "legacy": ("X-GM-THRID", "X-GM-MSGID", "X-GM-LABELS", "UID", "FLAGS", "MODSEQ",
               "INTERNALDATE", "RFC822.SIZE", "ENVELOPE"),
}
MACROS = {"ALL": ["FLAGS", "INTERNALDATE", "RFC822.SIZE", "ENVELOPE"],
          "FAST": ["FLAGS", "INTERNALDATE", "RFC822.SIZE"]}


class Dropped(Exception):
    """The connection is closed on purpose (a fault) or by the client."""


class Fault:
    """A scripted fault: fires on the nth matching command after it was armed, and on the
    (times - 1) matching commands after that."""

    def __init__(self, spec):
        self.kind = spec.get("type")
        if self.kind not in FAULT_KINDS:
            raise ModelError("fault type must be one of %s" % ", ".join(FAULT_KINDS))
        self.command = spec.get("command", "*").upper()
        self.nth, self.times = int(spec.get("nth", 1)), int(spec.get("times", 1))
        self.contains, self.user = spec.get("contains"), spec.get("user")
        self.text, self.seconds = spec.get("text"), spec.get("seconds")
        self.extra = int(spec.get("extra", 0))
        self.seen = self.fired = 0

    def matches(self, user, name, line):
        if self.fired >= self.times or self.command not in ("*", name):
            return False
        if self.user is not None and (user or "").lower() != self.user.lower():
            return False
        if self.contains is not None and self.contains.lower() not in line.lower():
            return False
        self.seen += 1
        if self.seen < self.nth:
            return False
        self.fired += 1
        return True


class Account:
    def __init__(self, user, tokens, password, mailbox):
        self.user, self.tokens, self.password, self.mailbox = user, set(tokens), password, mailbox


class FakeGmail:
    """Accounts, faults and settings shared by every connection; one lock guards them all."""

    def __init__(self, scenario, base_dir, verbose=False, google_tokens=None):
        self.lock = threading.RLock()
        self.base_dir, self.verbose = base_dir, verbose
        self.google_tokens = google_tokens
        self.strict_ranges = bool(scenario.get("strict_ranges", False))
        self.label_style = self._label_style(scenario.get("label_style", "gmail"))
        self.selected_label = self._choice("selected_label", scenario.get("selected_label", "omit"),
                                           SELECTED_LABEL_STYLES)
        self.preauth_capabilities = self._choice(
            "preauth_capabilities", scenario.get("preauth_capabilities", "gmail"), PREAUTH_CAPABILITIES)
        self.item_order = self._choice("item_order", scenario.get("item_order", "gmail"), ITEM_ORDERS)
        # Off for benchmarks: a client that negotiates DEFLATE would measure our compressor.
        self.compress = bool(scenario.get("compress", True))
        self.faults = [Fault(f) for f in scenario.get("faults", [])]
        self.accounts = {}
        specs = scenario.get("accounts") or [{"user": DEFAULT_USER, "tokens": [DEFAULT_TOKEN],
                                              "password": DEFAULT_PASSWORD}]
        for spec in specs:
            box = build_mailbox(spec.get("mailbox", scenario), base_dir)
            acct = Account(spec["user"], spec.get("tokens", []), spec.get("password"), box)
            self.accounts[acct.user.lower()] = acct
            for change in spec.get("mailbox", scenario).get("changes", []):
                self.control(dict(change, user=acct.user))
        self.default_user = specs[0]["user"]

    @staticmethod
    def _label_style(style):
        return FakeGmail._choice("label_style", style, LABEL_STYLES)

    @staticmethod
    def _choice(key, value, allowed):
        if value not in allowed:
            raise ModelError("%s must be one of %s" % (key, ", ".join(allowed)))
        return value

    def capabilities(self, logged_in):
        """The CAPABILITY set after login, or the one before it."""
        caps = CAPABILITIES if logged_in else PREAUTH_CAPABILITIES[self.preauth_capabilities]
        return caps if self.compress else caps.replace(COMPRESS_CAPABILITY, "")

    def log(self, text):
        if self.verbose:
            sys.stderr.write("fake-imap: %s\n" % text)
            sys.stderr.flush()

    def account_for_token(self, user, token):
        """The account when the token is one of its own, or (with a fake Google server to ask)
        one that server issued for it with the mail scope. Takes the lock itself, and is not
        called under it: the question to the other server may take a while."""
        with self.lock:
            acct = self.accounts.get(user.lower())
            if acct is None or token in acct.tokens:
                return acct
        if self.google_tokens is not None and self.google_tokens.grants_mail(acct.user, token):
            return acct
        return None

    def take_fault(self, user, name, line):
        with self.lock:
            for f in self.faults:
                if f.matches(user, name, line):
                    return f
        return None

    # --- control requests (README.md, "Control interface") -------------------------------
    def control(self, req):
        with self.lock:
            op = req.get("op")
            # Requests about the whole server; "user" in a fault limits the fault to that user.
            if op == "fault":
                self.faults.append(Fault(req))
                return {"faults": len(self.faults)}
            if op == "clear_faults":
                self.faults = []
                return {}
            if op == "set":
                if "strict_ranges" in req:
                    self.strict_ranges = bool(req["strict_ranges"])
                if "label_style" in req:
                    self.label_style = self._label_style(req["label_style"])
                for key, allowed in (("selected_label", SELECTED_LABEL_STYLES),
                                     ("preauth_capabilities", PREAUTH_CAPABILITIES),
                                     ("item_order", ITEM_ORDERS)):
                    if key in req:
                        setattr(self, key, self._choice(key, req[key], allowed))
                return {"strict_ranges": self.strict_ranges, "label_style": self.label_style,
                        "selected_label": self.selected_label,
                        "preauth_capabilities": self.preauth_capabilities,
                        "item_order": self.item_order}
            acct = self.accounts.get((req.get("user") or self.default_user).lower())
            if acct is None:
                raise ModelError("no such account: %s" % req.get("user"))
            box = acct.mailbox
            if op in ("label", "flag", "move", "expunge", "restore"):
                msg = box.find(req)
                if op == "label":
                    box.change_labels(msg, names(req, "add"), names(req, "remove"))
                elif op == "flag":
                    box.change_flags(msg, names(req, "add"), names(req, "remove"))
                elif op == "move":
                    box.change_labels(msg, [self._label_of(box, req["to"])],
                                      [self._label_of(box, req["from"])])
                elif op == "expunge":
                    box.expunge(msg)
                else:
                    box.restore(msg, names(req, "labels") if "labels" in req else None)
                return self._summary(box, msg)
            if op == "add_message":
                return self._summary(box, box.add(message_from_spec(req, self.base_dir)))
            if op == "uidvalidity":
                folder = box.folder(req.get("folder", box.all_mail))
                if folder is None or not folder.selectable:
                    raise ModelError("no such folder: %s" % req.get("folder"))
                box.bump_uidvalidity(folder, req.get("value"))
                return {"folder": folder.name, "uidvalidity": folder.uidvalidity}
            if op == "hide":
                box.hide(req.get("folders", []))
                return {}
            if op == "add_token":
                acct.tokens.add(req["token"])
                return {}
            if op == "expire_token":
                acct.tokens.discard(req["token"])
                return {}
            if op == "state":
                return {"folders": [{"name": f.name, "selectable": f.selectable,
                                     "uidvalidity": f.uidvalidity, "uidnext": f.uidnext,
                                     "messages": len(f.uids)} for f in box.sorted_folders()]}
            if op == "messages":
                folder = box.folder(req.get("folder", box.all_mail))
                if folder is None:
                    raise ModelError("no such folder: %s" % req.get("folder"))
                return {"messages": [dict(self._summary(box, m), uid=u)
                                     for u, m in zip(folder.uids, folder.msgs)]}
            raise ModelError("unknown op: %r" % op)

    @staticmethod
    def _label_of(box, name):
        """A move names labels or folders; a system folder stands for its label."""
        folder = box.folder(name)
        return folder.label if folder is not None and folder.label else name

    @staticmethod
    def _summary(box, msg):
        labels = list(msg.labels) + ([STARRED] if "\\Flagged" in msg.flags else [])
        return {"msgid": msg.msgid, "thrid": msg.thrid, "labels": labels,
                "flags": list(msg.flags), "expunged": msg.expunged,
                "all_mail_uid": msg.uids.get(box.all_mail), "uids": dict(msg.uids)}


def names(req, key):
    """A list of label or flag names from a control request."""
    value = req.get(key, [])
    if not isinstance(value, list) or not all(isinstance(v, str) for v in value):
        raise ModelError("%s must be a list of names" % key)
    return value


class Wire:
    """Buffered reading and writing over the TLS socket, with COMPRESS=DEFLATE once enabled."""

    def __init__(self, sock):
        self.sock, self.buf = sock, bytearray()
        self.inflater = self.deflater = None

    def fill(self):
        while True:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise Dropped("client closed the connection")
            if self.inflater is not None:
                chunk = self.inflater.decompress(chunk)
            if chunk:
                self.buf += chunk
                return

    def has_input(self):
        """Whether a whole command line has arrived and not been read yet."""
        return b"\n" in self.buf

    def readline(self):
        start = 0
        while True:
            i = self.buf.find(b"\n", start)
            if i >= 0:
                line = bytes(self.buf[:i + 1])
                del self.buf[:i + 1]
                return line
            if len(self.buf) > MAX_LINE:
                raise ParseError("line too long")
            start = len(self.buf)
            self.fill()

    def read(self, n):
        while len(self.buf) < n:
            self.fill()
        data = bytes(self.buf[:n])
        del self.buf[:n]
        return data

    def send(self, data):
        if self.deflater is not None:
            data = self.deflater.compress(data) + self.deflater.flush(zlib.Z_SYNC_FLUSH)
        self.sock.sendall(data)

    def start_deflate(self):
        self.deflater = zlib.compressobj(6, zlib.DEFLATED, -15)
        self.inflater = zlib.decompressobj(-15)
        if self.buf:
            self.buf = bytearray(self.inflater.decompress(bytes(self.buf)))


class Selection:
    """The view of one selected folder within a session: its sequence numbers stay as the
    client last learnt them until updates are reported (at NOOP or CHECK)."""

    def __init__(self, box, folder, readonly):
        self.folder, self.readonly = folder, readonly
        self.uids, self.msgs = list(folder.uids), list(folder.msgs)
        self.modseq, self.uidvalidity = box.modseq, folder.uidvalidity


class Session(socketserver.BaseRequestHandler):
    """One client connection; commands are read and answered strictly in order, so pipelined
    commands get their replies in the order they were sent."""

    def setup(self):
        self.fake = self.server.fake
        self.user = self.sel = None
        self.out = bytearray()
        self.cut_literal = False
        self.long_literal = None   # bytes the next message literal runs past its message
        self.throttle_ok = False   # the next tagged OK ends in [THROTTLED]
        self.condstore = False     # ENABLE CONDSTORE: every FETCH answer carries MODSEQ

    def handle(self):
        self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        try:
            tls = self.server.tls.wrap_socket(self.request, server_side=True)
        except (ssl.SSLError, OSError) as e:
            self.fake.log("TLS handshake failed: %s" % e)
            return
        self.wire = Wire(tls)
        try:
            self.w(b"* OK Gimap ready for requests from %s\r\n" %
                   self.client_address[0].encode())
            self.flush()
            while self.serve_one():
                pass
        except (Dropped, OSError, ssl.SSLError) as e:
            self.fake.log("connection ended: %s" % e)
        except Exception:
            # A fault of the fake itself: loud, so it is not mistaken for one of the client;
            # written before the connection closes, so a test that sees the close finds it.
            sys.stderr.write("fake_gmail_imap: internal error:\n%s" % traceback.format_exc())
            sys.stderr.flush()
        finally:
            try:
                tls.close()
            except OSError:
                pass

    # --- output --------------------------------------------------------------------------
    def w(self, data):
        self.out += data
        if len(self.out) >= FLUSH_AT:
            self.flush()

    def wlit(self, data):
        """A message literal; the drop_mid_literal fault cuts the connection halfway through it,
        the long_literal fault makes it longer than the message."""
        if self.cut_literal:
            self.out += b"{%d}\r\n" % len(data) + data[:len(data) // 2]
            self.drop()
        if self.long_literal is not None:
            extra, self.long_literal = self.long_literal, None
            self.w(b"{%d}\r\n" % (len(data) + extra))
            self.w(data)
            self.flush()
            self.send_padding(extra)
            return
        self.w(b"{%d}\r\n" % len(data))
        self.w(data)

    def send_padding(self, size):
        """`size` bytes of padding lines, sent as they are made: a client that refuses them
        closes the connection, which ends the sending."""
        block = PADDING_LINE * ((1 << 20) // len(PADDING_LINE))
        while size > 0:
            part = block[:size]
            self.wire.send(part)
            size -= len(part)

    def flush(self):
        if self.out:
            self.wire.send(self.out)
            self.out.clear()

    def drop(self):
        self.flush()
        try:
            self.wire.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        raise Dropped("connection dropped by a fault")

    def tagged(self, tag, text):
        if self.throttle_ok and text.startswith("OK"):
            # Gmail also reports throttling on a command that succeeded.
            self.throttle_ok = False
            text += " [THROTTLED]"
        self.w(("%s %s\r\n" % (tag, text)).encode("latin-1"))

    # --- input ---------------------------------------------------------------------------
    def read_command(self):
        """One command with its literals, as (tag, text after the tag, literals, error); a
        refused command is still read to its end, so the next one starts in the right place."""
        literals, parts, error = [], [], None
        while True:
            line = self.wire.readline()
            if not line.endswith(b"\r\n"):
                raise ParseError("line not terminated by CRLF")
            line = line[:-2]
            if b"\0" in line:
                raise ParseError("NUL in command")
            m = re.search(rb"\{(\d+)(\+?)\}$", line)
            if not m:
                parts.append(line)
                break
            n, nonsync = int(m.group(1)), bool(m.group(2))
            if n > MAX_LITERAL:
                raise ParseError("literal too big")
            if nonsync and n > NONSYNC_LITERAL_MAX:
                error = "Non-synchronizing literal larger than 4096 bytes"
            if not nonsync:
                self.w(b"+ go ahead\r\n")
                self.flush()
            data = self.wire.read(n)
            parts.append(line[:m.start()] + b"%s%d%s" % (LITERAL_MARK.encode(), len(literals),
                                                         LITERAL_MARK.encode()))
            literals.append(data.decode("latin-1"))
        text = b"".join(parts).decode("latin-1")
        tag, _, rest = text.partition(" ")
        if not tag or any(c in '(){ %*"\\+' or ord(c) < 0x21 or ord(c) > 0x7E for c in tag):
            return None, None, None, "Invalid tag"
        return tag, rest, literals, error

    def serve_one(self):
        try:
            tag, rest, literals, error = self.read_command()
        except ParseError as e:
            self.w(b"* BAD %s\r\n" % str(e).encode())
            self.flush()
            return str(e) != "line too long"
        if error:
            self.w(("%s BAD %s\r\n" % (tag or "*", error)).encode("latin-1"))
            self.flush()
            return True
        try:
            args = tokenize(rest, literals)
            if not args or not isinstance(args[0], Atom):
                raise ParseError("Missing command")
            name = args[0].upper()
            args = args[1:]
            if name == "UID":
                if not args or not isinstance(args[0], Atom):
                    raise ParseError("Missing UID command")
                name, args = "UID " + args[0].upper(), args[1:]
        except ParseError as e:
            self.tagged(tag, "BAD %s" % e)
            self.flush()
            return True
        secret = name in ("AUTHENTICATE", "LOGIN")
        self.fake.log("C: %s %s" % (tag, name if secret else rest[:300]))
        if self.apply_fault(tag, name, "" if secret else rest, args):
            return True
        keep = self.dispatch(tag, name, args)
        self.long_literal = None
        if self.cut_literal:
            # The reply had no message literal to cut: cut it halfway instead.
            del self.out[len(self.out) // 2:]
            self.drop()
        if not keep or not self.wire.has_input() or len(self.out) >= BATCH_AT:
            self.flush()
        return keep

    def apply_fault(self, tag, name, line, args):
        """Answers the command with a scripted fault; False when the command runs normally
        (possibly with its reply cut, after a delay, or after its messages vanished)."""
        fault = self.fake.take_fault(self.user, name, line)
        if fault is None:
            return False
        self.flush()  # the replies before the fault are out before it acts
        self.fake.log("fault %s on %s %s" % (fault.kind, tag, name))
        if fault.kind == "bad":
            self.tagged(tag, "BAD " + (fault.text or "Could not parse command"))
        elif fault.kind == "no":
            self.tagged(tag, "NO " + (fault.text or "[UNAVAILABLE] Temporary System Error"))
        elif fault.kind == "throttled":
            self.tagged(tag, "NO [THROTTLED] " +
                        (fault.text or "Account exceeded command or bandwidth limits. (Failure)"))
        elif fault.kind == "throttled_ok":
            self.throttle_ok = True
            return False
        elif fault.kind == "drop":
            self.drop()
        elif fault.kind == "expunge":
            self.expunge_named(name, args)
            return False
        elif fault.kind == "stall":
            if fault.seconds is not None:
                time.sleep(float(fault.seconds))
                return False
            while True:  # read and ignore everything until the client gives up
                self.wire.buf.clear()
                self.wire.fill()
        elif fault.kind == "long_literal":
            self.long_literal = fault.extra
            return False
        else:
            self.cut_literal = True
            return False
        self.flush()
        return True

    def expunge_named(self, name, args):
        """The messages a FETCH or UID FETCH names in the selected folder are expunged for
        good, as by another client just before the command arrived."""
        if name not in ("FETCH", "UID FETCH") or self.sel is None or not args or not isinstance(args[0], Atom):
            return
        with self.fake.lock:
            for i in self.resolve(args[0], name == "UID FETCH"):
                if not self.sel.msgs[i].expunged:
                    self.box.expunge(self.sel.msgs[i])

    # --- dispatch ------------------------------------------------------------------------
    def dispatch(self, tag, name, args):
        entry = COMMANDS.get(name)
        if entry is None:
            self.tagged(tag, "BAD Unknown command")
            return True
        state, method = entry
        allowed = {"any": True, "noauth": self.user is None, "auth": self.user is not None,
                   "selected": self.sel is not None}[state]
        if not allowed:
            self.tagged(tag, "BAD Command received in Invalid state.")
            return True
        try:
            return getattr(self, method)(tag, args) is not False
        except (ParseError, ModelError) as e:
            self.tagged(tag, "BAD %s" % e)
            return True

    @property
    def box(self):
        return self.fake.accounts[self.user.lower()].mailbox

    def cmd_capability(self, tag, args):
        self.w(b"* CAPABILITY %s\r\n" % self.fake.capabilities(bool(self.user)).encode())
        self.tagged(tag, "OK Thats all she wrote!")

    def cmd_noop(self, tag, args):
        self.report_updates()
        self.tagged(tag, "OK Success")

    def cmd_logout(self, tag, args):
        self.w(b"* BYE LOGOUT Requested\r\n")
        self.tagged(tag, "OK 73 good day (Success)")
        self.flush()
        return False

    def cmd_id(self, tag, args):
        if len(args) != 1 or not (isinstance(args[0], list) or args[0].upper() == "NIL"):
            raise ParseError("ID expects a parameter list or NIL")
        self.w(b'* ID ("name" "GImap" "vendor" "Google, Inc." '
               b'"support-url" "https://support.google.com/mail")\r\n')
        self.tagged(tag, "OK Success")

    def cmd_namespace(self, tag, args):
        self.w(b'* NAMESPACE (("" "/")) NIL NIL\r\n')
        self.tagged(tag, "OK Success")

    def cmd_enable(self, tag, args):
        enabled = [a.upper() for a in args if is_string(a) and a.upper() == "CONDSTORE"]
        self.condstore = self.condstore or bool(enabled)
        self.w(" ".join(["* ENABLED"] + enabled).encode() + b"\r\n")
        self.tagged(tag, "OK Success")

    def cmd_compress(self, tag, args):
        if not self.fake.compress:
            raise ParseError("COMPRESS is not offered")
        if len(args) != 1 or astring(args[0]).upper() != "DEFLATE":
            raise ParseError("Unknown compression mechanism")
        if self.wire.deflater is not None:
            self.tagged(tag, "NO [COMPRESSIONACTIVE] DEFLATE active")
            return
        self.tagged(tag, "OK Success")
        self.flush()
        self.wire.start_deflate()

    # --- authentication ------------------------------------------------------------------
    def cmd_login(self, tag, args):
        if len(args) != 2:
            raise ParseError("LOGIN expects user name and password")
        user, password = astring(args[0]), astring(args[1])
        acct = self.fake.accounts.get(user.lower())
        if acct is None or acct.password is None or acct.password != password:
            self.tagged(tag, "NO [AUTHENTICATIONFAILED] Invalid credentials (Failure)")
        else:
            self.logged_in(tag, acct)

    def logged_in(self, tag, acct):
        self.user = acct.user
        self.w(b"* CAPABILITY %s\r\n" % self.fake.capabilities(True).encode())
        self.tagged(tag, "OK %s authenticated (Success)" % acct.user)

    def sasl_response(self, args, challenge=b""):
        """The client's SASL answer: the initial response, or a line after our challenge."""
        if args:
            text = astring(args[0])
        else:
            self.w(b"+ " + base64.b64encode(challenge) + b"\r\n")
            self.flush()
            text = self.wire.readline().rstrip(b"\r\n").decode("latin-1")
            if text == "*":
                return None
        if text == "=":
            return b""
        try:
            return base64.b64decode(text, validate=True)
        except binascii.Error:
            raise ParseError("Invalid SASL argument. (Failure)")

    def cmd_authenticate(self, tag, args):
        if not args or not isinstance(args[0], Atom) or len(args) > 2:
            raise ParseError("AUTHENTICATE expects a mechanism")
        mech = args[0].upper()
        if mech not in ("XOAUTH2", "OAUTHBEARER", "PLAIN"):
            self.tagged(tag, "NO [CANNOT] Unsupported authentication mechanism (Failure)")
            return
        data = self.sasl_response(args[1:])
        if data is None:
            self.tagged(tag, "BAD AUTHENTICATE aborted")
            return
        text = data.decode("utf-8", "replace")
        if mech == "PLAIN":
            fields = text.split("\0")
            if len(fields) != 3:
                raise ParseError("Invalid SASL argument. (Failure)")
            acct = self.fake.accounts.get(fields[1].lower())
            if acct is None or acct.password is None or acct.password != fields[2]:
                self.tagged(tag, "NO [AUTHENTICATIONFAILED] Invalid credentials (Failure)")
            else:
                self.logged_in(tag, acct)
            return
        # XOAUTH2: "user=U^Aauth=Bearer T^A^A"; OAUTHBEARER (RFC 7628): "n,a=U,^Aauth=Bearer T^A^A"
        m = (re.fullmatch(r"user=([^\x01]+)\x01auth=Bearer ([^\x01]+)\x01\x01", text)
             if mech == "XOAUTH2" else
             re.fullmatch(r"n,a=([^,\x01]+),\x01(?:[^\x01]*\x01)*?auth=Bearer ([^\x01]+)\x01"
                          r"(?:[^\x01]*\x01)*\x01", text))
        if not m:
            raise ParseError("Invalid SASL argument. (Failure)")
        acct = self.fake.account_for_token(m.group(1), m.group(2))
        if acct is not None:
            self.logged_in(tag, acct)
            return
        # Gmail's failure step: a challenge carrying the error, an empty answer, then NO.
        failure = FAILURE_JSON if mech == "XOAUTH2" else OAUTHBEARER_FAILURE_JSON
        self.w(b"+ " + base64.b64encode(failure.encode()) + b"\r\n")
        self.flush()
        if self.wire.readline().rstrip(b"\r\n") == b"*":
            self.tagged(tag, "BAD AUTHENTICATE aborted")
        else:
            self.tagged(tag, "NO [AUTHENTICATIONFAILED] Invalid credentials (Failure)")

    # --- folders -------------------------------------------------------------------------
    def cmd_select(self, tag, args, readonly=False):
        if not args or len(args) > 2:
            raise ParseError("SELECT expects a mailbox name")
        name = astring(args[0])
        self.sel = None
        with self.fake.lock:
            folder = self.box.folder(name)
            if folder is None or not folder.selectable or not folder.shown:
                self.tagged(tag, "NO [NONEXISTENT] Unknown Mailbox: %s (now in authenticated "
                                 "state) (Failure)" % name)
                return
            sel = self.sel = Selection(self.box, folder, readonly)
            uidvalidity, uidnext = folder.uidvalidity, folder.uidnext
        self.w(("* FLAGS (%s)\r\n"
                "* OK [PERMANENTFLAGS (%s)] Flags permitted.\r\n"
                "* OK [UIDVALIDITY %d] UIDs valid.\r\n"
                "* %d EXISTS\r\n* 0 RECENT\r\n"
                "* OK [UIDNEXT %d] Predicted next UID.\r\n"
                "* OK [HIGHESTMODSEQ %d]\r\n"
                % (FLAGS_LINE, "" if readonly else FLAGS_LINE + " \\*", uidvalidity,
                   len(sel.uids), uidnext, sel.modseq)).encode())
        self.tagged(tag, "OK [%s] %s selected. (Success)"
                    % ("READ-ONLY" if readonly else "READ-WRITE", folder.name))

    def cmd_examine(self, tag, args):
        return self.cmd_select(tag, args, readonly=True)

    def cmd_close(self, tag, args):
        self.sel = None
        self.tagged(tag, "OK Returned to authenticated state. (Success)")

    def folder_attrs(self, folder, xlist, subscribed):
        attrs = list(folder.xlist_attrs if xlist else folder.list_attrs)
        attrs.append("\\HasChildren" if self.box.has_children(folder) else "\\HasNoChildren")
        if not folder.selectable:
            attrs.append("\\Noselect")
        if subscribed:
            attrs.append("\\Subscribed")
        return sorted(attrs, key=str.lower)

    def cmd_list(self, tag, args, kind="LIST"):
        selection, returns, status = [], [], None
        if args and isinstance(args[0], list):
            if kind != "LIST":
                raise ParseError("%s takes no selection options" % kind)
            selection = [astring(a).upper() for a in args[0]]
            args = args[1:]
        if len(args) not in (2, 4):
            raise ParseError("%s expects a reference and a mailbox pattern" % kind)
        ref = astring(args[0])
        patterns = [astring(p) for p in args[1]] if isinstance(args[1], list) else [astring(args[1])]
        if len(args) == 4:
            if kind != "LIST" or not is_string(args[2]) or args[2].upper() != "RETURN" \
                    or not isinstance(args[3], list):
                raise ParseError("bad RETURN options")
            opts = args[3]
            k = 0
            while k < len(opts):
                opt = astring(opts[k]).upper()
                if opt == "STATUS":
                    if k + 1 >= len(opts) or not isinstance(opts[k + 1], list):
                        raise ParseError("STATUS expects a list of items")
                    status = status_items(opts[k + 1])
                    k += 1
                returns.append(opt)
                k += 1
        if patterns == [""]:
            self.w(b'* %s (\\Noselect) "/" ""\r\n' % kind.encode())
            self.tagged(tag, "OK Success")
            return
        regexes = [pattern_re(ref + p) for p in patterns]
        subscribed = "SUBSCRIBED" in selection or "SUBSCRIBED" in returns or kind == "LSUB"
        with self.fake.lock:
            for folder in self.box.sorted_folders():
                if not folder.shown:
                    continue
                shown = "Inbox" if kind == "XLIST" and folder.name == "INBOX" else folder.name
                if not any(r.match(folder.name) or (folder.name == "INBOX" and
                                                    re.match(r.pattern, "INBOX", re.I))
                           for r in regexes):
                    continue
                if "SPECIAL-USE" in selection and not folder.list_attrs:
                    continue
                attrs = self.folder_attrs(folder, kind == "XLIST", subscribed)
                self.w(('* %s (%s) "/" %s\r\n' % (kind, " ".join(attrs), quoted(shown)))
                       .encode("latin-1"))
                if status and folder.selectable:
                    self.write_status(folder, status)
        self.tagged(tag, "OK Success")

    def cmd_xlist(self, tag, args):
        return self.cmd_list(tag, args, "XLIST")

    def cmd_lsub(self, tag, args):
        return self.cmd_list(tag, args, "LSUB")

    def write_status(self, folder, items):
        values = []
        for item in items:
            values.append("%s %d" % (item, {
                "MESSAGES": lambda: len(folder.uids), "RECENT": lambda: 0,
                "UIDNEXT": lambda: folder.uidnext, "UIDVALIDITY": lambda: folder.uidvalidity,
                "UNSEEN": lambda: sum("\\Seen" not in m.flags for m in folder.msgs),
                "HIGHESTMODSEQ": lambda: self.box.modseq}[item]()))
        self.w(("* STATUS %s (%s)\r\n" % (quoted(folder.name), " ".join(values)))
               .encode("latin-1"))

    def cmd_status(self, tag, args):
        if len(args) != 2 or not isinstance(args[1], list):
            raise ParseError("STATUS expects a mailbox and a list of items")
        name = astring(args[0])
        items = status_items(args[1])
        with self.fake.lock:
            folder = self.box.folder(name)
            if folder is None or not folder.selectable or not folder.shown:
                self.tagged(tag, "NO [NONEXISTENT] Unknown Mailbox: %s (Failure)" % name)
                return
            self.write_status(folder, items)
        self.tagged(tag, "OK Success")

    # --- selected state ------------------------------------------------------------------
    def report_updates(self):
        """Tells the client what changed in its folder since it last learnt: EXPUNGE for views
        the message left (or a UID that changed), EXISTS for new arrivals, FETCH for flags."""
        sel = self.sel
        if sel is None:
            return
        with self.fake.lock:
            folder = sel.folder
            name = folder.name
            if folder.uidvalidity != sel.uidvalidity:
                # Every UID the client holds is void: report them gone and the folder anew.
                gone = list(range(len(sel.uids)))
                self.w(b"* OK [UIDVALIDITY %d] UIDs valid.\r\n" % folder.uidvalidity)
            else:
                gone = [i for i, (u, m) in enumerate(zip(sel.uids, sel.msgs))
                        if m.uids.get(name) != u]
            for i in reversed(gone):
                del sel.uids[i], sel.msgs[i]
                self.w(b"* %d EXPUNGE\r\n" % (i + 1))
            known = len(sel.uids)
            k = bisect.bisect_right(folder.uids, sel.uids[-1] if sel.uids else 0)
            if k < len(folder.uids):
                sel.uids += folder.uids[k:]
                sel.msgs += folder.msgs[k:]
            if gone or len(sel.uids) != known:
                self.w(b"* %d EXISTS\r\n" % len(sel.uids))
            for i in range(known):
                m = sel.msgs[i]
                if m.modseq > sel.modseq:
                    self.w(("* %d FETCH (UID %d FLAGS (%s) MODSEQ (%d))\r\n"
                            % (i + 1, sel.uids[i], " ".join(m.flags), m.modseq)).encode())
            sel.modseq = self.box.modseq
            sel.uidvalidity = folder.uidvalidity

    def resolve(self, text, uid):
        """Indexes into the selection of a sequence set (or UID set). Sequence numbers past
        EXISTS are refused with BAD in strict mode and ignored in lenient mode."""
        ranges = parse_sequence_set(text)
        sel, out = self.sel, set()
        n = len(sel.uids)
        top = (sel.uids[-1] if n else 0) if uid else n
        for lo, hi in ranges:
            lo, hi = (top if lo is None else lo), (top if hi is None else hi)
            lo, hi = min(lo, hi), max(lo, hi)
            if uid:
                out.update(range(bisect.bisect_left(sel.uids, lo),
                                 bisect.bisect_right(sel.uids, hi)))
            else:
                if hi > n or lo < 1:
                    if self.fake.strict_ranges:
                        raise ParseError("Invalid messageset")
                out.update(range(max(lo, 1) - 1, min(hi, n)))
        return sorted(out)

    def cmd_fetch(self, tag, args, uid=False):
        if len(args) not in (2, 3):
            raise ParseError("FETCH expects a sequence set and items")
        if not isinstance(args[0], Atom):
            raise ParseError("Invalid messageset")
        simple, bodies = parse_fetch_items(args[1])
        changed_since = None
        if len(args) == 3:
            mods = args[2]
            if (not isinstance(mods, list) or len(mods) != 2
                    or astring(mods[0]).upper() != "CHANGEDSINCE"
                    or not astring(mods[1]).isdigit()):
                raise ParseError("Unknown FETCH modifier")
            changed_since = int(mods[1])
            simple.add("MODSEQ")
        if uid:
            simple.add("UID")
        with self.fake.lock:
            targets = self.resolve(args[0], uid)
            # A message expunged since the session learnt its UID is gone for UID FETCH.
            if uid:
                targets = [i for i in targets if not self.sel.msgs[i].expunged]
        for i in targets:
            self.write_fetch(i, simple, bodies, changed_since)
        self.tagged(tag, "OK Success")

    def cmd_uid_fetch(self, tag, args):
        return self.cmd_fetch(tag, args, uid=True)

    def write_fetch(self, i, simple, bodies, changed_since):
        sel = self.sel
        uid, msg = sel.uids[i], sel.msgs[i]
        names = set(simple)
        with self.fake.lock:
            if changed_since is not None and msg.modseq <= changed_since:
                return
            if not sel.readonly and any(not b["peek"] for b in bodies) \
                    and "\\Seen" not in msg.flags:
                self.box.change_flags(msg, add=["\\Seen"])
                names.add("FLAGS")
            flags, labels = list(msg.flags), list(msg.labels)
            modseq = msg.modseq
        if "\\Flagged" in flags:
            labels.append(STARRED)
        if self.fake.selected_label == "omit" and sel.folder.label:
            labels = [lab for lab in labels if lab != sel.folder.label]
        if self.condstore:
            names.add("MODSEQ")
        values = {
            "X-GM-THRID": lambda: b"%d" % msg.thrid,
            "X-GM-MSGID": lambda: b"%d" % msg.msgid,
            "X-GM-LABELS": lambda: self.labels_out(labels, uid),
            "UID": lambda: b"%d" % uid,
            "FLAGS": lambda: ("(%s)" % " ".join(flags)).encode("latin-1"),
            "MODSEQ": lambda: b"(%d)" % modseq,
            "INTERNALDATE": lambda: internaldate_out(msg.date).encode(),
            "RFC822.SIZE": lambda: b"%d" % msg.size(),
            "ENVELOPE": lambda: envelope(msg.header()),
        }
        items = [name.encode() + b" " + values[name]()
                 for name in ITEM_ORDERS[self.fake.item_order] if name in names]
        self.w(b"* %d FETCH (" % (i + 1) + b" ".join(items))
        for k, body in enumerate(bodies):
            data = section_data(msg, body)
            self.w((b" " if items or k else b"") + body["resp"].encode("latin-1") + b" ")
            self.wlit(data)
        self.w(b")\r\n")

    def labels_out(self, labels, uid):
        style = self.fake.label_style
        forms = ("bare", "quoted", "literal")
        return b"(" + b" ".join(
            label_out(lab, forms[(uid + k) % 3] if style == "mixed" else style)
            for k, lab in enumerate(labels)) + b")"

    def cmd_search(self, tag, args, uid=False):
        returns = None
        if len(args) >= 2 and is_string(args[0]) and args[0].upper() == "RETURN":
            if not isinstance(args[1], list):
                raise ParseError("RETURN expects a list")
            returns = [astring(r).upper() for r in args[1]] or ["ALL"]
            if any(r not in ("MIN", "MAX", "COUNT", "ALL") for r in returns):
                raise ParseError("Unknown RETURN option")
            args = args[2:]
        if len(args) >= 2 and is_string(args[0]) and args[0].upper() == "CHARSET":
            if astring(args[1]).upper() not in ("US-ASCII", "UTF-8"):
                self.tagged(tag, "NO [BADCHARSET (US-ASCII UTF-8)] Unsupported charset")
                return
            args = args[2:]
        if not args:
            raise ParseError("SEARCH expects criteria")
        with self.fake.lock:
            test = self.search_criteria(list(args))
            sel = self.sel
            hits = [i for i in range(len(sel.uids)) if test(i, sel.msgs[i])]
            numbers = [sel.uids[i] if uid else i + 1 for i in hits]
        if returns is None:
            self.w(("* SEARCH%s\r\n" % "".join(" %d" % x for x in numbers)).encode())
        else:
            parts = ['(TAG %s)' % quoted(tag)] + (["UID"] if uid else [])
            if numbers:
                for r in returns:
                    parts.append({"MIN": lambda: "MIN %d" % numbers[0],
                                  "MAX": lambda: "MAX %d" % numbers[-1],
                                  "COUNT": lambda: "COUNT %d" % len(numbers),
                                  "ALL": lambda: "ALL " + compress_set(numbers)}[r]())
            elif "COUNT" in returns:
                parts.append("COUNT 0")
            self.w(("* ESEARCH %s\r\n" % " ".join(parts)).encode())
        self.tagged(tag, "OK SEARCH completed (Success)")

    def cmd_uid_search(self, tag, args):
        return self.cmd_search(tag, args, uid=True)

    def search_criteria(self, toks):
        """Consumes the criteria and gives a test of (index, message); several criteria AND."""
        tests = []
        while toks:
            tests.append(self.search_key(toks))
        return lambda i, m: all(t(i, m) for t in tests)

    def search_key(self, toks):
        tok = toks.pop(0)
        if isinstance(tok, list):
            return self.search_criteria(list(tok))
        key = astring(tok).upper()
        flag_keys = {"SEEN": "\\Seen", "FLAGGED": "\\Flagged", "ANSWERED": "\\Answered",
                     "DRAFT": "\\Draft", "DELETED": "\\Deleted"}

        def arg():
            if not toks:
                raise ParseError("%s expects an argument" % key)
            return astring(toks.pop(0))
        if key == "ALL":
            return lambda i, m: True
        if key in flag_keys:
            return lambda i, m: flag_keys[key] in m.flags
        if key.startswith("UN") and key[2:] in flag_keys:
            return lambda i, m: flag_keys[key[2:]] not in m.flags
        if key == "NOT":
            inner = self.search_key(toks)
            return lambda i, m: not inner(i, m)
        if key == "OR":
            a, b = self.search_key(toks), self.search_key(toks)
            return lambda i, m: a(i, m) or b(i, m)
        if key == "UID":
            chosen = set(self.resolve(arg(), True))
            return lambda i, m: i in chosen
        if key in ("X-GM-MSGID", "X-GM-THRID"):
            value = arg()
            if not value.isdigit():
                raise ParseError("%s expects a number" % key)
            attr = "msgid" if key == "X-GM-MSGID" else "thrid"
            return lambda i, m: getattr(m, attr) == int(value)
        if key == "X-GM-LABELS":
            label = arg()
            return lambda i, m: label in m.labels or (
                label == STARRED and "\\Flagged" in m.flags)
        if re.match(r"^[\d*:,]+$", key):
            chosen = set(self.resolve(key, False))
            return lambda i, m: i in chosen
        raise ParseError("Unsupported search key %s" % key)


def status_items(toks):
    items = [astring(t).upper() for t in toks]
    unknown = [i for i in items if i not in STATUS_ITEMS]
    if unknown or not items:
        raise ParseError("Unknown STATUS item %s" % " ".join(unknown))
    return items


def pattern_re(pattern):
    """A LIST pattern as a regular expression: * matches anything, % anything but the '/'."""
    return re.compile("^" + "".join(".*" if c == "*" else "[^/]*" if c == "%" else re.escape(c)
                                    for c in pattern) + "$")


def parse_fetch_items(tok):
    """The FETCH items as (set of simple item names, list of body sections in request order)."""
    if isinstance(tok, Atom) and tok.upper() in MACROS:
        return set(MACROS[tok.upper()]), []
    toks = tok if isinstance(tok, list) else [tok]
    if not toks:
        raise ParseError("FETCH expects items")
    simple, bodies = set(), []
    for t in toks:
        if not isinstance(t, Atom):
            raise ParseError("Invalid FETCH item")
        up = t.upper()
        if up in ITEM_ORDERS["gmail"]:
            simple.add(up)
        elif up == "RFC822":
            bodies.append(body_spec("", False, None, "RFC822"))
        elif up == "RFC822.HEADER":
            bodies.append(body_spec("HEADER", True, None, "RFC822.HEADER"))
        elif up == "RFC822.TEXT":
            bodies.append(body_spec("TEXT", False, None, "RFC822.TEXT"))
        else:
            m = BODY_RE.match(t)
            if not m:
                raise ParseError("Unsupported FETCH item %s" % t)
            partial = None if m.group(3) is None else (int(m.group(3)),
                                                       None if m.group(4) is None
                                                       else int(m.group(4)))
            resp = "BODY[%s]" % m.group(2) + ("" if partial is None else "<%d>" % partial[0])
            bodies.append(body_spec(m.group(2), m.group(1).upper() == "BODY.PEEK", partial, resp))
    return simple, bodies


def body_spec(section, peek, partial, resp):
    up = section.upper()
    m = re.match(r"^HEADER\.FIELDS(\.NOT)? \((.*)\)$", up)
    if m:
        fields = tokenize(section[section.index("(") + 1:section.rindex(")")], [])
        if not fields:
            raise ParseError("HEADER.FIELDS expects field names")
        kind, names = "FIELDS.NOT" if m.group(1) else "FIELDS", {astring(f).lower() for f in fields}
    elif up in ("", "HEADER", "TEXT"):
        kind, names = up, None
    else:
        raise ParseError("Unsupported body section [%s]" % section)
    return {"kind": kind, "fields": names, "peek": peek, "partial": partial, "resp": resp}


def header_fields(header):
    """(lower-case field name, raw bytes of the field with its continuation lines)."""
    fields = []
    for line in header.split(b"\r\n"):
        if not line:
            continue
        if line[:1] in (b" ", b"\t") and fields:
            fields[-1][1].append(line)
        else:
            fields.append((line.split(b":", 1)[0].strip().lower().decode("latin-1"), [line]))
    return [(name, b"\r\n".join(lines) + b"\r\n") for name, lines in fields]


def section_data(msg, spec):
    kind = spec["kind"]
    if kind == "":
        data = msg.data()
    elif kind == "HEADER":
        data = msg.header()
    elif kind == "TEXT":
        data = msg.data()
        end = data.find(b"\r\n\r\n")
        data = data[end + 4:] if end >= 0 else b""
    else:
        keep = kind == "FIELDS"
        data = b"".join(raw for name, raw in header_fields(msg.header())
                        if (name in spec["fields"]) == keep) + b"\r\n"
    if spec["partial"] is not None:
        start, count = spec["partial"]
        data = data[start:] if count is None else data[start:start + count]
    return data


def envelope(header):
    """The ENVELOPE of RFC 3501 7.4.2 from the raw header (values unfolded, not decoded)."""
    import email.utils
    first = {}
    for name, raw in header_fields(header):
        first.setdefault(name, raw)

    def value(name):
        raw = first.get(name)
        if raw is None:
            return None
        return re.sub(rb"\r\n(?=[ \t])", b"", raw.split(b":", 1)[1]).strip()

    def addresses(name):
        v = value(name)
        if not v:
            return None
        out = []
        for display, addr in email.utils.getaddresses([v.decode("latin-1")]):
            if not addr:
                continue
            mailbox, _, host = addr.partition("@")
            out.append(b"(" + nstring_out(display.encode("latin-1") or None) + b" NIL " +
                       nstring_out(mailbox.encode("latin-1")) + b" " +
                       nstring_out(host.encode("latin-1") or None) + b")")
        return b"(" + b"".join(out) + b")" if out else None
    frm = addresses("from")
    parts = [nstring_out(value("date")), nstring_out(value("subject")), frm or b"NIL",
             addresses("sender") or frm or b"NIL", addresses("reply-to") or frm or b"NIL",
             addresses("to") or b"NIL", addresses("cc") or b"NIL", addresses("bcc") or b"NIL",
             nstring_out(value("in-reply-to")), nstring_out(value("message-id"))]
    return b"(" + b" ".join(parts) + b")"


# command -> (state in which it is allowed, method)
COMMANDS = {
    "CAPABILITY": ("any", "cmd_capability"), "NOOP": ("any", "cmd_noop"),
    "LOGOUT": ("any", "cmd_logout"), "ID": ("any", "cmd_id"),
    "AUTHENTICATE": ("noauth", "cmd_authenticate"), "LOGIN": ("noauth", "cmd_login"),
    "COMPRESS": ("auth", "cmd_compress"), "ENABLE": ("auth", "cmd_enable"),
    "NAMESPACE": ("auth", "cmd_namespace"), "SELECT": ("auth", "cmd_select"),
    "EXAMINE": ("auth", "cmd_examine"), "LIST": ("auth", "cmd_list"),
    "XLIST": ("auth", "cmd_xlist"), "LSUB": ("auth", "cmd_lsub"),
    "STATUS": ("auth", "cmd_status"),
    "CHECK": ("selected", "cmd_noop"), "CLOSE": ("selected", "cmd_close"),
    "UNSELECT": ("selected", "cmd_close"), "FETCH": ("selected", "cmd_fetch"),
    "UID FETCH": ("selected", "cmd_uid_fetch"), "SEARCH": ("selected", "cmd_search"),
    "UID SEARCH": ("selected", "cmd_uid_search"),
}


class ImapServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port, fake, tls):
        self.fake, self.tls = fake, tls
        super().__init__(("127.0.0.1", port), Session)


class ForkingImapServer(socketserver.ForkingMixIn, ImapServer):
    """A process per connection, so connections do not share one interpreter's core: for
    read-only benchmark runs. Each connection works on its own copy of the model, made when it
    was accepted, so changes and fault counts of one never reach another."""
    max_children = 256


def write_atomically(path, text):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write(text)
    os.replace(tmp, path)


def ports_text(imap, control, ca, cert, fake):
    """KEY=VALUE lines as the Dovecot peer writes them (tools/imap-peer), so the comparators
    and benchmarks that read its ports file run against this server unchanged."""
    acct = fake.accounts[fake.default_user.lower()]
    values = [("IMAPS_PORT", imap.server_address[1]), ("CONTROL_PORT", control.server_address[1]),
              ("CA_CERT", ca or cert), ("IMAP_USER", acct.user),
              ("IMAP_PASSWORD", acct.password or ""),
              ("IMAP_TOKEN", min(acct.tokens, default="")),
              ("INSTANCE", "fake-gmail-%d" % os.getpid())]
    return "".join("%s=%s\n" % kv for kv in values)


class ControlHandler(http.server.BaseHTTPRequestHandler):
    """POST / with one request object or a list of them; GET /state."""

    def do_POST(self):
        try:
            body = json.loads(self.rfile.read(int(self.headers.get("Content-Length", 0))))
            reqs = body if isinstance(body, list) else [body]
            results = [self.server.fake.control(r) for r in reqs]
            self.reply(200, {"ok": True, "results": results,
                             "result": results[-1] if results else None})
        except (ValueError, KeyError, TypeError, ModelError) as e:
            self.reply(400, {"ok": False, "error": "%s: %s" % (type(e).__name__, e)})

    def do_GET(self):
        if self.path.rstrip("/") == "/state":
            self.reply(200, {"ok": True, "result": self.server.fake.control({"op": "state"})})
        else:
            self.reply(404, {"ok": False, "error": "not found"})

    def reply(self, code, obj):
        data = json.dumps(obj).encode()
        self.send_response(code)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def log_message(self, fmt, *args):
        self.server.fake.log("control: " + fmt % args)


def tls_context(args):
    """The server's TLS context; certificates come from tools/testca (made on first use)."""
    cert, key, ca = args.cert, args.key, None
    if not cert:
        tls_dir = args.tls_dir or os.path.join(tempfile.gettempdir(),
                                               "tidewell-testca-%d" % os.getuid())
        script = os.path.join(HERE, "..", "testca", "make-testca.sh")
        subprocess.run([script, tls_dir], check=True)
        cert, key = os.path.join(tls_dir, "server.pem"), os.path.join(tls_dir, "server.key")
        ca = os.path.join(tls_dir, "ca.pem")
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.minimum_version = ssl.TLSVersion.TLSv1_2
    ctx.load_cert_chain(cert, key)
    return ctx, ca


def load_scenario(args):
    scenario, base_dir = {}, os.getcwd()
    if args.scenario:
        with open(args.scenario, encoding="utf-8") as f:
            scenario = json.load(f)
        base_dir = os.path.dirname(os.path.abspath(args.scenario))
    if args.maildir:
        scenario["maildir"] = os.path.abspath(args.maildir)
    if args.messages is not None:
        scenario["generate"] = {"count": args.messages}
    if args.layout:
        scenario["layout"] = args.layout
    if args.strict_ranges:
        scenario["strict_ranges"] = True
    if args.label_style:
        scenario["label_style"] = args.label_style
    if args.language:
        scenario["language"] = args.language
    if args.no_compress:
        scenario["compress"] = False
    return scenario, base_dir


def main(argv=None):
    ap = argparse.ArgumentParser(description="Fake Gmail IMAP server (implicit TLS, 127.0.0.1).")
    ap.add_argument("--scenario", help="JSON scenario file (README.md)")
    ap.add_argument("--maildir", help="mail home written by gen_mailbox.py")
    ap.add_argument("--messages", type=int, help="N small generated messages in All Mail")
    ap.add_argument("--layout", choices=("[Gmail]", "[Google Mail]"))
    ap.add_argument("--strict-ranges", action="store_true",
                    help="BAD on sequence numbers past EXISTS")
    ap.add_argument("--label-style", choices=LABEL_STYLES)
    ap.add_argument("--language", choices=sorted(LANGUAGES),
                    help="the account's language, which names the system folders")
    ap.add_argument("--port", type=int, default=0, help="IMAPS port (0: a free one)")
    ap.add_argument("--control-port", type=int, default=0, help="control port (0: a free one)")
    ap.add_argument("--port-file", help="also write the ready line to this file")
    ap.add_argument("--ports-file", help="also write a ports file in the Dovecot peer's format")
    ap.add_argument("--no-compress", action="store_true",
                    help="offer no COMPRESS=DEFLATE (benchmarks)")
    ap.add_argument("--process-per-connection", action="store_true",
                    help="serve each connection in a process of its own (read-only benchmarks)")
    ap.add_argument("--tls-dir", help="folder for tools/testca/make-testca.sh output")
    ap.add_argument("--cert", help="server certificate (PEM), instead of --tls-dir")
    ap.add_argument("--key", help="server key (PEM), with --cert")
    ap.add_argument("--exit-on-stdin-eof", action="store_true",
                    help="exit when standard input closes (so a crashed test leaves no server)")
    ap.add_argument("--exit-with-pid", type=int, metavar="PID",
                    help="exit when the process with this PID ends")
    ap.add_argument("--google-port", type=int, metavar="PORT",
                    help="also accept the access tokens that the fake Google server on this "
                         "plain-HTTP port of 127.0.0.1 issued")
    ap.add_argument("--verbose", "-v", action="store_true", help="log commands to stderr")
    args = ap.parse_args(argv)
    if bool(args.cert) != bool(args.key):
        ap.error("--cert and --key go together")
    try:
        # Opened first: a process that has already ended stops the start.
        watched = os.pidfd_open(args.exit_with_pid) if args.exit_with_pid else None
        scenario, base_dir = load_scenario(args)
        fake = FakeGmail(scenario, base_dir, args.verbose,
                         GoogleTokens(args.google_port) if args.google_port else None)
    except (OSError, ValueError, KeyError, ModelError) as e:
        sys.stderr.write("fake_gmail_imap: %s\n" % e)
        return 1
    ctx, ca = tls_context(args)
    imap = (ForkingImapServer if args.process_per_connection else ImapServer)(args.port, fake, ctx)
    control = http.server.ThreadingHTTPServer(("127.0.0.1", args.control_port), ControlHandler)
    control.daemon_threads = True
    control.fake = fake
    for srv in (imap, control):
        threading.Thread(target=srv.serve_forever, daemon=True).start()
    line = "port=%d control_port=%d" % (imap.server_address[1], control.server_address[1])
    if ca:
        line += " ca_cert=%s" % ca
    if args.port_file:
        write_atomically(args.port_file, line + "\n")
    if args.ports_file:
        write_atomically(args.ports_file, ports_text(imap, control, ca, args.cert, fake))
    print(line, flush=True)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    if args.exit_on_stdin_eof:
        threading.Thread(target=lambda: (sys.stdin.buffer.read(), os._exit(0)),
                         daemon=True).start()
    if watched is not None:
        threading.Thread(target=lambda: (select.select([watched], [], []), os._exit(0)),
                         daemon=True).start()
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
