"""The fake Gmail IMAP server, driven by Python's imaplib over TLS (trusting only the test CA)
and by a raw TLS client where the exact bytes matter."""
import base64
import calendar
import http.server
import imaplib
import json
import os
import re
import socket
import ssl
import subprocess
import sys
import threading
import time
import unittest
import zlib

from fakeimap_support import (GEN_MAILBOX, TOKEN, USER, Fake, cleanup, fetch_items, text_of,
                              tokens, workdir, xoauth2)

ALL_MAIL = '"[Gmail]/All Mail"'


def tearDownModule():
    cleanup()


def b64(text):
    return base64.b64encode(text.encode()).decode()


def message(subject, extra=""):
    return ("From: Bob <bob@example.org>\r\nTo: alice@example.com\r\nSubject: %s\r\n%s"
            "Date: Mon, 1 Mar 2021 10:00:00 +0000\r\n\r\nBody of %s.\r\n" % (subject, extra, subject))


def list_attrs(lines):
    """{name: set of attributes} of LIST or XLIST data from imaplib."""
    out = {}
    for line in lines:
        attrs, _, name = tokens(line)
        out[text_of(name)] = set(attrs)
    return out


def select_count(m, folder):
    typ, data = m.select(folder, readonly=True)
    assert typ == "OK", (folder, data)
    return int(data[0])


def uidnext(m, folder):
    return int(re.search(rb"UIDNEXT (\d+)", m.status(folder, "(UIDNEXT)")[1][0]).group(1))


def msgids(m, folder):
    """X-GM-MSGID of each message of a folder, in sequence order."""
    if select_count(m, folder) == 0:
        return []
    items = fetch_items(m.fetch("1:*", "(X-GM-MSGID)")[1])
    return [int(items[k]["X-GM-MSGID"]) for k in sorted(items)]


class AuthenticationTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.fake = Fake({"accounts": [
            {"user": USER, "tokens": [TOKEN], "password": "secret"},
            {"user": "bob@example.com", "tokens": ["ya29.bob"]}], "generate": 3})
        cls.addClassCleanup(cls.fake.stop)


    def test_xoauth2_success_changes_capabilities(self):
        m = self.fake.imap(login=False)
        self.assertIn("AUTH=XOAUTH2", m.capabilities)
        self.assertIn("SASL-IR", m.capabilities)
        typ, data = m.authenticate("XOAUTH2", lambda ch: xoauth2().encode())
        self.assertEqual((typ, data), ("OK", [b"alice@example.com authenticated (Success)"]))
        caps = m.untagged_responses["CAPABILITY"][-1].split()
        self.assertIn(b"X-GM-EXT-1", caps)
        self.assertFalse([c for c in caps if c.startswith(b"AUTH=")])
        m.logout()

    def test_capabilities_before_and_after_login(self):
        """Gmail's short set before login (no SPECIAL-USE, no CONDSTORE), the full one after;
        the full set before login stays available as an option."""
        short = ("IMAP4rev1 UNSELECT IDLE NAMESPACE QUOTA ID XLIST CHILDREN X-GM-EXT-1 XYZZY "
                 "SASL-IR AUTH=XOAUTH2 AUTH=PLAIN AUTH=PLAIN-CLIENTTOKEN AUTH=OAUTHBEARER").split()
        r = self.fake.raw(login=False)
        self.assertEqual(r.command("c CAPABILITY")[0].split()[2:], [c.encode() for c in short])
        after = r.command("a AUTHENTICATE XOAUTH2 " + b64(xoauth2()))[0].split()
        self.assertIn(b"SPECIAL-USE", after)
        self.assertIn(b"CONDSTORE", after)
        r.close()
        self.addCleanup(self.fake.control, {"op": "set", "preauth_capabilities": "gmail"})
        self.fake.control({"op": "set", "preauth_capabilities": "full"})
        r = self.fake.raw(login=False)
        caps = r.command("c CAPABILITY")[0].split()
        self.assertIn(b"SPECIAL-USE", caps)
        self.assertIn(b"AUTH=XOAUTH2", caps)
        r.close()

    def test_xoauth2_with_initial_response(self):
        r = self.fake.raw(login=False)
        lines = r.command("a AUTHENTICATE XOAUTH2 " + b64(xoauth2()))
        self.assertTrue(lines[0].startswith(b"* CAPABILITY IMAP4rev1 "))
        self.assertEqual(lines[-1], b"a OK alice@example.com authenticated (Success)\r\n")
        r.close()

    def test_failure_step(self):
        """A rejected token gets a challenge with the error, waits for an empty answer, then NO;
        the connection stays usable for another attempt."""
        for user, token in ((USER, "ya29.wrong"), ("bob@example.com", TOKEN)):
            r = self.fake.raw(login=False)
            r.send("f AUTHENTICATE XOAUTH2 %s\r\n" % b64(xoauth2(user, token)))
            challenge = r.line()
            self.assertTrue(challenge.startswith(b"+ "), challenge)
            self.assertEqual(json.loads(base64.b64decode(challenge[2:])),
                             {"status": "400", "schemes": "Bearer",
                              "scope": "https://mail.google.com/"})
            r.send("\r\n")
            self.assertEqual(r.line(),
                             b"f NO [AUTHENTICATIONFAILED] Invalid credentials (Failure)\r\n")
            lines = r.command("g AUTHENTICATE XOAUTH2 " + b64(xoauth2()))
            self.assertTrue(lines[-1].startswith(b"g OK "))
            r.close()

    def test_expired_token_is_rejected_at_authenticate(self):
        self.fake.control({"op": "add_token", "token": "ya29.short"})
        ok = self.fake.imap(login=False)
        ok.authenticate("XOAUTH2", lambda ch: xoauth2(token="ya29.short").encode())
        ok.logout()
        self.fake.control({"op": "expire_token", "token": "ya29.short"})
        seen = []

        def answer(challenge):
            seen.append(challenge)
            return xoauth2(token="ya29.short").encode() if len(seen) == 1 else b""
        m = self.fake.imap(login=False)
        self.addCleanup(m.shutdown)
        with self.assertRaisesRegex(imaplib.IMAP4.error, r"\[AUTHENTICATIONFAILED\]"):
            m.authenticate("XOAUTH2", answer)
        self.assertEqual(json.loads(seen[1])["status"], "400")

    def test_other_mechanisms_and_malformed_answers(self):
        cases = [
            ("OAUTHBEARER", "n,a=%s,\x01auth=Bearer %s\x01\x01" % (USER, TOKEN), b"OK"),
            ("PLAIN", "\0%s\0secret" % USER, b"OK"),
            ("PLAIN", "\0%s\0wrong" % USER, b"NO [AUTHENTICATIONFAILED]"),
            ("PLAIN", "\0bob@example.com\0", b"NO [AUTHENTICATIONFAILED]"),
            ("XOAUTH2", "user=%s\x01auth=Bearer %s\x01" % (USER, TOKEN), b"BAD"),
            ("XOAUTH2", "user=%s auth=Bearer %s" % (USER, TOKEN), b"BAD"),
            ("CRAM-MD5", "x", b"NO [CANNOT]"),
        ]
        for k, (mech, text, expect) in enumerate(cases):
            with self.subTest(mech=mech, text=text):
                r = self.fake.raw(login=False)
                last = r.command("t%d AUTHENTICATE %s %s" % (k, mech, b64(text)))[-1]
                self.assertTrue(last.startswith(b"t%d " % k + expect), last)
                r.close()
        # OAUTHBEARER fails with its own error document and the client's ^A answer
        r = self.fake.raw(login=False)
        r.send("o AUTHENTICATE OAUTHBEARER %s\r\n" % b64("n,a=%s,\x01auth=Bearer bad\x01\x01" % USER))
        self.assertEqual(json.loads(base64.b64decode(r.line()[2:]))["status"], "invalid_token")
        r.send("AQ==\r\n")
        self.assertTrue(r.line().startswith(b"o NO [AUTHENTICATIONFAILED]"))
        r.close()

    def test_login_and_state_checks(self):
        r = self.fake.raw(login=False)
        self.assertTrue(r.greeting.startswith(b"* OK "))
        self.assertTrue(r.command("a SELECT INBOX")[-1].startswith(b"a BAD "))
        self.assertTrue(r.command("b LOGIN alice@example.com wrong")[-1]
                        .startswith(b"b NO [AUTHENTICATIONFAILED]"))
        self.assertTrue(r.command("c LOGIN alice@example.com secret")[-1].startswith(b"c OK "))
        self.assertTrue(r.command("d LOGIN alice@example.com secret")[-1].startswith(b"d BAD "))
        self.assertTrue(r.command("e FETCH 1 (UID)")[-1].startswith(b"e BAD "))
        r.close()


class LayoutTest(unittest.TestCase):
    """LIST and XLIST in both folder layouts: RFC 6154 attributes in plain LIST, XLIST's own."""

    def check_layout(self, prefix):
        fake = Fake({"layout": prefix, "generate": 20})
        self.addCleanup(fake.stop)
        m = fake.imap()
        typ, data = m.list()
        self.assertEqual(typ, "OK")
        self.assertTrue(all(line.endswith(b'"') for line in data), data)  # names always quoted
        p = prefix + "/"
        self.assertEqual(list_attrs(data), {
            "INBOX": {"\\HasNoChildren"},
            "Work": {"\\HasNoChildren"},
            "Entw&APw-rfe": {"\\HasNoChildren"},
            "Personal": {"\\HasChildren", "\\Noselect"},
            "Personal/Family": {"\\HasNoChildren"},
            prefix: {"\\HasChildren", "\\Noselect"},
            p + "All Mail": {"\\All", "\\HasNoChildren"},
            p + "Drafts": {"\\Drafts", "\\HasNoChildren"},
            p + "Important": {"\\Important", "\\HasNoChildren"},
            p + "Sent Mail": {"\\Sent", "\\HasNoChildren"},
            p + "Spam": {"\\Junk", "\\HasNoChildren"},
            p + "Starred": {"\\Flagged", "\\HasNoChildren"},
            p + "Trash": {"\\Trash", "\\HasNoChildren"},
        })
        m._simple_command("XLIST", '""', '"*"')
        xlist = list_attrs(m.untagged_responses.pop("XLIST"))
        self.assertEqual({n: a - {"\\HasNoChildren", "\\HasChildren"} for n, a in xlist.items()
                          if a - {"\\HasNoChildren", "\\HasChildren"}}, {
            "Inbox": {"\\Inbox"}, "Personal": {"\\Noselect"}, prefix: {"\\Noselect"},
            p + "All Mail": {"\\AllMail"}, p + "Drafts": {"\\Drafts"},
            p + "Important": {"\\Important"}, p + "Sent Mail": {"\\Sent"},
            p + "Spam": {"\\Spam"}, p + "Starred": {"\\Starred"}, p + "Trash": {"\\Trash"}})
        typ, data = m._simple_command("LIST", "(SPECIAL-USE)", '""', '"*"')
        special = list_attrs(m._untagged_response(typ, data, "LIST")[1])
        self.assertEqual(set(special), {p + n for n in ("All Mail", "Drafts", "Important",
                                                        "Sent Mail", "Spam", "Starred", "Trash")})
        self.assertEqual(set(list_attrs(m.list('""', "%")[1])),
                         {"INBOX", "Work", "Entw&APw-rfe", "Personal", prefix})
        self.assertEqual(select_count(m, '"%sAll Mail"' % p), 20)
        self.assertEqual(m.select('"%s"' % prefix)[0], "NO")
        m.logout()

    def test_gmail_layout(self):
        self.check_layout("[Gmail]")

    def test_google_mail_layout(self):
        self.check_layout("[Google Mail]")

    def test_hidden_folders_are_out_of_sight(self):
        fake = Fake({"layout": "[Google Mail]", "generate": 20,
                     "hidden": ["[Google Mail]/All Mail", "Work"]})
        self.addCleanup(fake.stop)
        m = fake.imap()
        names = set(list_attrs(m.list()[1]))
        self.assertNotIn("[Google Mail]/All Mail", names)
        self.assertNotIn("Work", names)
        self.assertIn("[Google Mail]/Trash", names)
        m._simple_command("XLIST", '""', '"*"')
        self.assertNotIn("[Google Mail]/All Mail", list_attrs(m.untagged_responses.pop("XLIST")))
        for folder in ('"[Google Mail]/All Mail"', "Work"):
            self.assertEqual(m.select(folder, readonly=True)[0], "NO")
            self.assertEqual(m.status(folder, "(MESSAGES)")[0], "NO")
        self.assertEqual(select_count(m, "INBOX"), 7)
        # Switched off later, a label leaves the list of the next LIST.
        fake.control({"op": "hide", "folders": ["[Google Mail]/Trash"]})
        self.assertNotIn("[Google Mail]/Trash", set(list_attrs(m.list()[1])))
        m.logout()

    def test_localized_system_folders(self):
        """System folders carry the account's language; their special-use attributes name
        them. Names are sent in modified UTF-7, with spaces between the encoded runs."""
        for layout, language, special in (
                ("[Gmail]", "en-GB", {"\\Trash": "Bin"}),
                ("[Gmail]", "pt-BR", {"\\Trash": "Lixeira", "\\All": "Todos os e-mails"}),
                ("[Google Mail]", "de", {"\\All": "Alle Nachrichten", "\\Drafts": "Entw&APw-rfe"}),
                ("[Gmail]", "ru", {"\\All": "&BBIEQQRP- &BD8EPgRHBEIEMA-"})):
            with self.subTest(language=language):
                fake = Fake({"layout": layout, "language": language, "generate": 20})
                self.addCleanup(fake.stop)
                m = fake.imap()
                folders = list_attrs(m.list()[1])
                for attr, leaf in special.items():
                    name = layout + "/" + leaf
                    self.assertIn(attr, folders[name])
                    if attr == "\\All":
                        self.assertEqual(select_count(m, '"%s"' % name), 20)
                if "\\All" in special:
                    self.assertNotIn(layout + "/All Mail", folders)
                m.logout()
        with self.assertRaises(RuntimeError):
            Fake({"language": "xx"})

    def test_hiding_an_unknown_folder_is_refused(self):
        with self.assertRaises(RuntimeError):
            Fake({"hidden": ["No Such Label"]})


LABELLED = {"labels": ["Travel Plans"], "messages": [
    {"raw": message("one"), "labels": ["\\Inbox", "Work"], "flags": ["\\Seen"],
     "msgid": 1234567890123456789, "thrid": 1234567890000000000,
     "internaldate": "2021-03-04T05:06:07Z"},
    {"raw": message("two"), "labels": ["Work", "Personal/Family", "\\Important"]},
    {"raw": message("three")},
    {"raw": message("four"), "labels": ["Entwürfe"]},
    {"raw": message("spam"), "labels": ["\\Spam"]},
    {"raw": message("trash"), "labels": ["\\Trash", "Work"]},
    {"raw": message("star"), "labels": ["\\Sent"], "flags": ["\\Flagged", "\\Seen"]},
    {"raw": message("odd"), "labels": ['Say "hi"']},
]}


class LabelModelTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.fake = Fake(LABELLED)
        cls.addClassCleanup(cls.fake.stop)
        cls.m = cls.fake.imap()
        cls.ids = {e["subject"]: e for e in cls.subjects()}

    @classmethod
    def subjects(cls):
        select_count(cls.m, ALL_MAIL)
        items = fetch_items(cls.m.fetch("1:*", "(UID X-GM-MSGID BODY.PEEK[HEADER.FIELDS (SUBJECT)])")[1])
        for seq, it in sorted(items.items()):
            subject = text_of(it["BODY[HEADER.FIELDS (SUBJECT)]"]).split(":", 1)[1].strip()
            yield {"subject": subject, "seq": seq, "uid": int(it["UID"]),
                   "msgid": int(it["X-GM-MSGID"])}

    @classmethod
    def tearDownClass(cls):
        cls.m.logout()

    def test_labels_are_views_of_one_message_set(self):
        ids = {s: e["msgid"] for s, e in self.ids.items()}
        self.assertEqual(list(ids), ["one", "two", "three", "four", "star", "odd"])  # arrival order
        self.assertEqual(len(set(e["uid"] for e in self.ids.values())), 6)
        for folder, expected in (("INBOX", ["one"]), ("Work", ["one", "two"]),
                                 ('"Personal/Family"', ["two"]), ("Entw&APw-rfe", ["four"]),
                                 ('"[Gmail]/Important"', ["two"]), ('"[Gmail]/Starred"', ["star"]),
                                 ('"[Gmail]/Sent Mail"', ["star"]), ('"Say \\"hi\\""', ["odd"]),
                                 ('"Travel Plans"', [])):
            with self.subTest(folder=folder):
                self.assertEqual(msgids(self.m, folder), [ids[s] for s in expected])
        # Spam and Trash hold mail that is not in All Mail
        for folder in ('"[Gmail]/Spam"', '"[Gmail]/Trash"'):
            got = msgids(self.m, folder)
            self.assertEqual(len(got), 1)
            self.assertNotIn(got[0], ids.values())

    def test_gmail_items_of_one_message(self):
        select_count(self.m, ALL_MAIL)
        one = self.ids["one"]
        it = fetch_items(self.m.uid("FETCH", str(one["uid"]),
                                    "(X-GM-THRID INTERNALDATE FLAGS X-GM-LABELS)")[1])[one["seq"]]
        self.assertEqual(int(it["UID"]), one["uid"])
        self.assertEqual(one["msgid"], 1234567890123456789)
        self.assertEqual(it["X-GM-THRID"], "1234567890000000000")
        self.assertEqual(text_of(it["INTERNALDATE"]), "04-Mar-2021 05:06:07 +0000")
        self.assertEqual(it["FLAGS"], ["\\Seen"])
        self.assertEqual({text_of(t) for t in it["X-GM-LABELS"]}, {"\\Inbox", "Work"})
        star = self.ids["star"]
        it = fetch_items(self.m.fetch(str(star["seq"]), "(X-GM-LABELS)")[1])[star["seq"]]
        self.assertEqual({text_of(t) for t in it["X-GM-LABELS"]}, {"\\Sent", "\\Starred"})

    def test_gmail_label_forms(self):
        """System labels quoted with the backslash escaped; user labels bare wherever an astring
        atom allows it ("]" included), quoted otherwise."""
        fake = Fake({"messages": [{"raw": message("forms"), "labels": [
            "\\Inbox", "\\Important", "Übung", "R&-D", "[Mailbox]", "Say hi"]}]})
        self.addCleanup(fake.stop)
        r = fake.raw()
        r.command("s EXAMINE " + ALL_MAIL)
        line = b"".join(r.command("f FETCH 1 (X-GM-LABELS)"))
        self.assertIn(b'X-GM-LABELS ("\\\\Inbox" "\\\\Important" &ANw-bung R&-D [Mailbox] "Say hi")',
                      line)
        r.close()

    def test_selected_folder_label_is_left_out(self):
        """X-GM-LABELS leaves out the label of the selected folder; All Mail shows them all."""
        one = self.ids["one"]
        r = self.fake.raw()
        self.addCleanup(r.close)
        self.addCleanup(self.fake.control, {"op": "set", "selected_label": "omit"})
        for setting, folder, expected in (
                ("omit", ALL_MAIL, {"\\Inbox", "Work"}), ("omit", "INBOX", {"Work"}),
                ("omit", "Work", {"\\Inbox"}), ("show", "INBOX", {"\\Inbox", "Work"}),
                ("show", "Work", {"\\Inbox", "Work"})):
            with self.subTest(setting=setting, folder=folder):
                self.fake.control({"op": "set", "selected_label": setting})
                r.command("s EXAMINE " + folder)
                items = fetch_items(b"".join(r.command("f FETCH 1:* (X-GM-MSGID X-GM-LABELS)")))
                got = [it for it in items.values() if int(it["X-GM-MSGID"]) == one["msgid"]]
                self.assertEqual({text_of(t) for t in got[0]["X-GM-LABELS"]}, expected)
        star = self.ids["star"]
        self.fake.control({"op": "set", "selected_label": "omit"})
        r.command("s EXAMINE \"[Gmail]/Starred\"")
        items = fetch_items(b"".join(r.command("f FETCH 1:* (X-GM-MSGID X-GM-LABELS)")))
        self.assertEqual({text_of(t) for t in items[1]["X-GM-LABELS"]}, {"\\Sent"})
        self.assertEqual(int(items[1]["X-GM-MSGID"]), star["msgid"])

    def test_condstore_adds_modseq_in_gmails_item_order(self):
        r = self.fake.raw()
        self.addCleanup(r.close)
        r.command("s EXAMINE " + ALL_MAIL)
        plain = b"".join(r.command("f FETCH 1 (FLAGS INTERNALDATE UID RFC822.SIZE X-GM-LABELS "
                                   "X-GM-MSGID X-GM-THRID)"))
        self.assertNotIn(b"MODSEQ", plain)
        r.command("e ENABLE CONDSTORE")
        line = b"".join(r.command("g FETCH 1 (FLAGS INTERNALDATE UID RFC822.SIZE X-GM-LABELS "
                                  "X-GM-MSGID X-GM-THRID)"))
        names = re.findall(rb"(X-GM-THRID|X-GM-MSGID|X-GM-LABELS|UID|RFC822\.SIZE|MODSEQ|"
                           rb"INTERNALDATE|FLAGS) ", line)
        self.assertEqual(names, [b"X-GM-THRID", b"X-GM-MSGID", b"X-GM-LABELS", b"UID",
                                 b"RFC822.SIZE", b"MODSEQ", b"INTERNALDATE", b"FLAGS"])

    def test_label_forms(self):
        expected = {"one": {"\\Inbox", "Work"}, "two": {"Work", "Personal/Family", "\\Important"},
                    "three": set(), "four": {"Entw&APw-rfe"}, "star": {"\\Sent", "\\Starred"},
                    "odd": {'Say "hi"'}}
        self.addCleanup(self.fake.control, {"op": "set", "label_style": "mixed"})
        r = self.fake.raw()
        r.command("s EXAMINE " + ALL_MAIL)
        for style in ("mixed", "bare", "quoted", "literal"):
            with self.subTest(style=style):
                self.fake.control({"op": "set", "label_style": style})
                items = fetch_items(b"".join(r.command("f FETCH 1:* (X-GM-LABELS)")))
                forms = set()
                for e in self.ids.values():
                    labels = items[e["seq"]]["X-GM-LABELS"]
                    self.assertEqual({text_of(t) for t in labels}, expected[e["subject"]])
                    forms |= {t[0] if isinstance(t, tuple) else "bare" for t in labels}
                self.assertEqual(forms, {"mixed": {"bare", "q", "l"}, "bare": {"bare", "q"},
                                         "quoted": {"q"}, "literal": {"l"}}[style])
        r.close()


class FaultTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.fake = Fake({"generate": 30})
        cls.addClassCleanup(cls.fake.stop)


    def setUp(self):
        self.fake.control({"op": "clear_faults"})

    def test_throttling_on_a_tagged_ok(self):
        r = self.fake.raw()
        self.fake.control({"op": "fault", "type": "throttled_ok", "command": "NOOP"})
        self.assertEqual(r.command("n1 NOOP")[-1], b"n1 OK Success [THROTTLED]\r\n")
        self.assertEqual(r.command("n2 NOOP")[-1], b"n2 OK Success\r\n")
        r.close()

    def test_tagged_faults_on_the_nth_command(self):
        for kind, expect in (("bad", b"BAD Could not parse command"),
                             ("no", b"NO [UNAVAILABLE]"),
                             ("throttled", b"NO [THROTTLED] ")):
            with self.subTest(kind=kind):
                r = self.fake.raw()
                self.fake.control({"op": "fault", "type": kind, "command": "NOOP", "nth": 2, "times": 2})
                got = [r.command("n%d NOOP" % k)[-1] for k in range(4)]
                self.assertTrue(got[0].startswith(b"n0 OK"), got)
                self.assertTrue(got[1].startswith(b"n1 " + expect), got)
                self.assertTrue(got[2].startswith(b"n2 " + expect), got)
                self.assertTrue(got[3].startswith(b"n3 OK"), got)
                r.close()

    def test_fault_matches_text_and_user(self):
        self.fake.control({"op": "fault", "type": "no", "command": "UID FETCH", "contains": "BODY.PEEK[]"},
                          {"op": "fault", "type": "bad", "command": "*", "user": "nobody@example.com"})
        r = self.fake.raw()
        r.command("s SELECT " + ALL_MAIL)
        self.assertTrue(r.command("a UID FETCH 1 (FLAGS)")[-1].startswith(b"a OK"))
        self.assertTrue(r.command("b UID FETCH 1 (BODY.PEEK[])")[-1].startswith(b"b NO"))
        self.assertTrue(r.command("c UID FETCH 1 (BODY.PEEK[])")[-1].startswith(b"c OK"))
        r.close()

    def test_dropped_connection(self):
        self.fake.control({"op": "fault", "type": "drop", "command": "SELECT"})
        m = self.fake.imap()
        self.addCleanup(m.shutdown)
        with self.assertRaises((imaplib.IMAP4.abort, OSError)):
            m.select(ALL_MAIL)

    def test_drop_in_the_middle_of_a_literal(self):
        self.fake.control({"op": "fault", "type": "drop_mid_literal", "command": "UID FETCH"})
        r = self.fake.raw()
        self.addCleanup(r.close)
        r.command("s SELECT " + ALL_MAIL)
        r.send("f UID FETCH 1:3 (UID BODY.PEEK[])\r\n")
        data = b""
        while True:
            chunk = r.sock.recv(65536)
            if not chunk:
                break
            data += chunk
        data = r.buf + data
        m = re.search(rb"\{(\d+)\}\r\n", data)
        self.assertTrue(data.startswith(b"* 1 FETCH ("), data)
        self.assertLess(len(data) - m.end(), int(m.group(1)))
        self.assertGreater(len(data) - m.end(), 0)

    def test_long_literal(self):
        """The message literal runs `extra` padding bytes past the message; RFC822.SIZE does not."""
        self.fake.control({"op": "fault", "type": "long_literal", "command": "UID FETCH", "contains": "RFC822.SIZE",
                           "extra": 100})
        r = self.fake.raw()
        self.addCleanup(r.close)
        r.command("s SELECT " + ALL_MAIL)
        plain = b"".join(r.command("a UID FETCH 1 (UID BODY.PEEK[])"))
        body = re.search(rb"\{(\d+)\}\r\n", plain)
        message = plain[body.end():body.end() + int(body.group(1))]
        long = b"".join(r.command("b UID FETCH 1 (UID RFC822.SIZE BODY.PEEK[])"))
        self.assertIn(b"RFC822.SIZE %d " % len(message), long)
        m = re.search(rb"\{(\d+)\}\r\n", long)
        self.assertEqual(int(m.group(1)), len(message) + 100)
        padding = (b"x" * 78 + b"\r\n") * 2
        self.assertEqual(long[m.end():m.end() + len(message) + 100], message + padding[:100])
        self.assertTrue(long.endswith(b"b OK Success\r\n"), long[-40:])
        # Only the first literal of the answer, and only once.
        again = b"".join(r.command("c UID FETCH 1 (UID BODY.PEEK[])"))
        self.assertEqual(again, plain.replace(b"a OK", b"c OK"))

    def test_stall(self):
        self.fake.control({"op": "fault", "type": "stall", "command": "FETCH", "times": 2})
        m = self.fake.imap(timeout=0.5)
        self.addCleanup(m.shutdown)
        m.select(ALL_MAIL)
        with self.assertRaises((socket.timeout, TimeoutError)):
            m.fetch("1", "(UID)")
        # a stall with a duration answers late; other connections are served meanwhile
        self.fake.control({"op": "clear_faults"},
                          {"op": "fault", "type": "stall", "command": "FETCH", "seconds": 0.3})
        m = self.fake.imap()
        m.select(ALL_MAIL)
        self.assertEqual(m.fetch("1", "(UID)")[0], "OK")
        m.logout()


class RangesTest(unittest.TestCase):
    """All Mail of exactly 2000 messages; strict and lenient sequence ranges."""

    @classmethod
    def setUpClass(cls):
        cls.fake = Fake({"generate": 2000})
        cls.addClassCleanup(cls.fake.stop)
        cls.m = cls.fake.imap()

    @classmethod
    def tearDownClass(cls):
        cls.m.logout()

    def setUp(self):
        self.addCleanup(self.fake.control, {"op": "set", "strict_ranges": False})
        self.assertEqual(select_count(self.m, ALL_MAIL), 2000)

    def test_two_thousand_messages(self):
        status = self.m.status(ALL_MAIL, "(MESSAGES UIDNEXT)")[1][0]
        self.assertIn(b"MESSAGES 2000", status)
        uids = [int(x) for x in self.m.uid("SEARCH", "ALL")[1][0].split()]
        self.assertEqual(len(uids), 2000)
        self.assertEqual(uids, sorted(set(uids)))
        self.assertGreater(uids[-1], 2000)  # UIDs have gaps, as in a real mailbox
        items = fetch_items(self.m.fetch("1:*", "(UID X-GM-MSGID)")[1])
        self.assertEqual(sorted(items), list(range(1, 2001)))
        self.assertEqual([int(items[k]["UID"]) for k in range(1, 2001)], uids)
        self.assertEqual(len({items[k]["X-GM-MSGID"] for k in items}), 2000)
        typ, data = self.m._simple_command("UID", "SEARCH", "RETURN", "(COUNT MIN MAX)", "ALL")
        esearch = self.m.untagged_responses.pop("ESEARCH")[0]
        self.assertIn(b"COUNT 2000 MIN %d MAX %d" % (uids[0], uids[-1]), esearch)

    def test_lenient_and_strict_ranges(self):
        got = fetch_items(self.m.fetch("1999:2999", "(UID)")[1])
        self.assertEqual(sorted(got), [1999, 2000])
        self.fake.control({"op": "set", "strict_ranges": True})
        with self.assertRaisesRegex(imaplib.IMAP4.error, "Invalid messageset"):
            self.m.fetch("1999:2999", "(UID)")
        self.assertEqual(sorted(fetch_items(self.m.fetch("1999:*", "(UID)")[1])), [1999, 2000])
        self.assertEqual(len(fetch_items(self.m.uid("FETCH", "1:999999", "(UID)")[1])), 2000)
        for mode in (True, False):
            self.fake.control({"op": "set", "strict_ranges": mode})
            with self.assertRaises(imaplib.IMAP4.error):
                self.m.fetch("0:3", "(UID)")


class ChangesTest(unittest.TestCase):
    """Changes a test applies through the control port between two syncs."""

    def setUp(self):
        self.fake = Fake({"generate": 30})
        self.addCleanup(self.fake.stop)
        self.m = self.fake.imap()
        self.addCleanup(self.m.logout)

    def all_mail(self):
        select_count(self.m, ALL_MAIL)
        items = fetch_items(self.m.fetch("1:*", "(UID X-GM-MSGID FLAGS X-GM-LABELS)")[1])
        return [dict(it, seq=k) for k, it in sorted(items.items())]

    def test_label_and_flag_changes(self):
        before = self.all_mail()[1]
        self.assertEqual({text_of(t) for t in before["X-GM-LABELS"]}, {"\\Sent"})
        work_uidnext = uidnext(self.m, "Work")
        msgid = int(before["X-GM-MSGID"])
        self.fake.control({"op": "label", "uid": int(before["UID"]), "add": ["Work"], "remove": ["\\Sent"]},
                          {"op": "flag", "msgid": msgid, "add": ["\\Flagged"], "remove": ["\\Seen"]})
        after = self.all_mail()[1]
        self.assertEqual(after["UID"], before["UID"])
        self.assertEqual({text_of(t) for t in after["X-GM-LABELS"]}, {"Work", "\\Starred"})
        self.assertEqual(after["FLAGS"], ["\\Flagged"])
        self.assertIn(msgid, msgids(self.m, '"[Gmail]/Starred"'))
        self.assertNotIn(msgid, msgids(self.m, '"[Gmail]/Sent Mail"'))
        self.assertEqual(msgids(self.m, "Work")[-1], msgid)
        uid = fetch_items(self.m.fetch("*", "(UID)")[1])
        self.assertGreaterEqual(int(list(uid.values())[0]["UID"]), work_uidnext)

    def test_expunge_mid_mailbox(self):
        other = self.fake.imap()
        select_count(other, ALL_MAIL)
        before = self.all_mail()
        self.fake.control({"op": "expunge", "uid": int(before[9]["UID"])})
        after = self.all_mail()
        self.assertEqual(len(after), 29)
        self.assertEqual(after[9]["X-GM-MSGID"], before[10]["X-GM-MSGID"])
        self.assertEqual([a["UID"] for a in after], [b["UID"] for b in before if b is not before[9]])
        # a session that had the folder open learns of it at NOOP
        other.noop()
        self.assertEqual(other.response("EXPUNGE")[1], [b"10"])
        other.logout()

    def test_expunge_fault_empties_the_fetch_it_fires_on(self):
        before = self.all_mail()
        uid = int(before[9]["UID"])
        self.fake.control({"op": "fault", "type": "expunge", "command": "UID FETCH", "contains": "BODY.PEEK[]"})
        # the session learnt the UID before the fault; its fetch then comes back empty
        self.assertEqual(self.m.uid("FETCH", str(uid), "(UID BODY.PEEK[])"), ("OK", [None]))
        self.assertNotIn(before[9]["X-GM-MSGID"], [a["X-GM-MSGID"] for a in self.all_mail()])
        gone = self.fake.control({"op": "messages"})["messages"]
        self.assertEqual(len(gone), 29)

    def test_uidvalidity_change(self):
        before = self.all_mail()
        v = int(self.m.response("UIDVALIDITY")[1][0])
        self.fake.control({"op": "expunge", "uid": int(before[0]["UID"])})
        result = self.fake.control({"op": "uidvalidity"})
        self.assertEqual(result["uidvalidity"], v + 1)
        after = self.all_mail()
        self.assertEqual(int(self.m.response("UIDVALIDITY")[1][0]), v + 1)
        self.assertEqual([a["X-GM-MSGID"] for a in after], [b["X-GM-MSGID"] for b in before[1:]])
        self.assertEqual(after[0]["UID"], "1")
        self.fake.control({"op": "uidvalidity", "folder": "INBOX", "value": 4000000000})
        self.assertIn(b"UIDVALIDITY 4000000000", self.m.status("INBOX", "(UIDVALIDITY)")[1][0])

    def test_message_comes_back_with_a_new_uid(self):
        before = self.all_mail()
        gone = before[4]
        next_uid = uidnext(self.m, ALL_MAIL)
        self.fake.control({"op": "expunge", "msgid": int(gone["X-GM-MSGID"])})
        self.assertEqual(len(self.all_mail()), 29)
        back = self.fake.control({"op": "restore", "msgid": int(gone["X-GM-MSGID"])})
        after = self.all_mail()
        self.assertEqual(len(after), 30)
        self.assertEqual(after[-1]["X-GM-MSGID"], gone["X-GM-MSGID"])
        self.assertEqual(int(after[-1]["UID"]), back["all_mail_uid"])
        self.assertGreaterEqual(back["all_mail_uid"], next_uid)
        # moving to Trash takes a message out of All Mail; moving it back gives a new UID again
        first = before[0]
        self.fake.control({"op": "move", "uid": int(first["UID"]), "from": "INBOX", "to": "[Gmail]/Trash"})
        self.assertNotIn(first["X-GM-MSGID"], [a["X-GM-MSGID"] for a in self.all_mail()])
        self.fake.control({"op": "move", "msgid": int(first["X-GM-MSGID"]), "from": "\\Trash", "to": "INBOX"})
        last = self.all_mail()[-1]
        self.assertEqual(last["X-GM-MSGID"], first["X-GM-MSGID"])
        self.assertGreater(int(last["UID"]), back["all_mail_uid"])

    def test_open_session_learns_of_changes_at_noop(self):
        before = self.all_mail()
        self.fake.control({"op": "flag", "uid": int(before[2]["UID"]), "add": ["\\Flagged"]})
        self.fake.control({"op": "add_message", "raw": message("new"), "labels": ["\\Inbox"]})
        self.m.noop()
        self.assertEqual(self.m.response("EXISTS")[1][-1], b"31")
        changed = fetch_items(self.m.response("FETCH")[1])
        self.assertIn("\\Flagged", changed[3]["FLAGS"])

    def test_bad_control_requests(self):
        for req in ({"op": "nonsense"}, {"op": "label", "msgid": 1, "add": ["Work"]},
                    {"op": "fault", "type": "explode"}, {"op": "set", "label_style": "odd"},
                    {"op": "state", "user": "nobody@example.com"},
                    {"op": "uidvalidity", "value": 2 ** 32}, {"op": "flag", "uid": 1, "add": "\\Seen"}):
            with self.subTest(req=req):
                self.assertTrue(self.fake.control(req, expect_ok=False))


class MaildirTest(unittest.TestCase):
    """Serving a tree written by gen_mailbox.py."""

    @classmethod
    def setUpClass(cls):
        cls.home = os.path.join(workdir(), "maildir")
        subprocess.run([sys.executable, GEN_MAILBOX, cls.home, "60", "--extra", "8", "--seed", "3"],
                       check=True, stdout=subprocess.DEVNULL)
        cls.fake = Fake({}, "--maildir", cls.home)
        cls.addClassCleanup(cls.fake.stop)
        cls.m = cls.fake.imap()

    @classmethod
    def tearDownClass(cls):
        cls.m.logout()

    def files(self, folder):
        d = os.path.join(self.home, folder, "cur")
        return sorted((os.path.join(d, n) for n in os.listdir(d)), key=lambda p: (os.stat(p).st_mtime, p))

    def test_folder_sizes_follow_the_tree(self):
        for folder, path in (("INBOX", "main/INBOX"), ("Work", "main/Work"),
                             ('"Personal/Family"', "main/Personal/Family"),
                             ('"Travel Plans"', "main/Travel Plans"),
                             ("Entw&APw-rfe", "main/Entw&APw-rfe"),
                             ('"[Gmail]/Sent Mail"', "store/Sent"), ('"[Gmail]/Spam"', "store/Spam"),
                             ('"[Gmail]/Trash"', "store/Trash")):
            with self.subTest(folder=folder):
                self.assertEqual(select_count(self.m, folder), len(self.files(path)))
        self.assertEqual(select_count(self.m, ALL_MAIL), 60)

    def test_messages_are_served_as_stored(self):
        select_count(self.m, "INBOX")
        paths = self.files("main/INBOX")
        items = fetch_items(self.m.fetch("1:*", "(FLAGS INTERNALDATE RFC822.SIZE BODY.PEEK[])")[1])
        letters = {"S": "\\Seen", "F": "\\Flagged", "R": "\\Answered", "a": "$Forwarded"}
        for seq, path in enumerate(paths, 1):
            with open(path, "rb") as f:
                expected = re.sub(rb"(?<!\r)\n", b"\r\n", f.read())
            it = items[seq]
            self.assertEqual(text_of(it["BODY[]"]).encode("latin-1"), expected)
            self.assertEqual(int(it["RFC822.SIZE"]), len(expected))
            stamp = time.strftime("%d-%b-%Y %H:%M:%S +0000", time.gmtime(int(os.stat(path).st_mtime)))
            self.assertEqual(text_of(it["INTERNALDATE"]), stamp)
            self.assertEqual(set(it["FLAGS"]), {letters[c] for c in path.rsplit(",", 1)[1]})

    def test_sizes_come_from_the_file_names(self):
        """A name with W= gives RFC822.SIZE without the file being read: a name that lies is
        believed."""
        home = os.path.join(workdir(), "maildir-sizes")
        cur = os.path.join(home, "main", "INBOX", "cur")
        os.makedirs(cur)
        for name, data in (("1.M1P1Q1.gen,S=9,W=4242:2,S", b"Subject: a\n\nx\n"),
                           ("2.M2P1Q2.gen,S=15:2,S", b"Subject: b\n\nyz\n")):
            path = os.path.join(cur, name)
            with open(path, "wb") as f:
                f.write(data)
            os.utime(path, (int(name[0]), int(name[0])))
        fake = Fake({}, "--maildir", home)
        self.addCleanup(fake.stop)
        m = fake.imap()
        select_count(m, "INBOX")
        items = fetch_items(m.fetch("1:2", "(RFC822.SIZE)")[1])
        self.assertEqual(int(items[1]["RFC822.SIZE"]), 4242)
        self.assertEqual(int(items[2]["RFC822.SIZE"]), len(b"Subject: b\r\n\r\nyz\r\n"))
        m.logout()

    def test_all_mail_is_in_arrival_order(self):
        select_count(self.m, ALL_MAIL)
        items = fetch_items(self.m.fetch("1:*", "(INTERNALDATE X-GM-MSGID X-GM-THRID)")[1])
        dates = [calendar.timegm(time.strptime(text_of(items[k]["INTERNALDATE"]),
                                               "%d-%b-%Y %H:%M:%S +0000")) for k in sorted(items)]
        self.assertEqual(dates, sorted(dates))
        ids = [int(items[k]["X-GM-MSGID"]) for k in sorted(items)]
        self.assertEqual(ids, sorted(ids))
        self.assertTrue(all(2 ** 53 < i < 2 ** 63 for i in ids))
        self.assertTrue(any(items[k]["X-GM-THRID"] != items[k]["X-GM-MSGID"] for k in items))


class StartTest(unittest.TestCase):
    def test_ready_line_and_certificates_made_on_first_use(self):
        tls_dir = os.path.join(workdir(), "own-ca")
        port_file = os.path.join(workdir(), "ports.txt")
        fake = Fake({}, "--port-file", port_file, tls_dir=tls_dir)
        self.addCleanup(fake.stop)
        self.assertRegex(fake.line, r"^port=\d+ control_port=\d+ ca_cert=\S+\n$")
        self.assertEqual(fake.info["ca_cert"], os.path.join(tls_dir, "ca.pem"))
        with open(port_file) as f:
            self.assertEqual(f.read(), fake.line)
        m = fake.imap()  # verifies the server against the new CA, by IP address
        self.assertEqual(m.noop()[0], "OK")
        m.logout()


class BenchmarkPeerTest(unittest.TestCase):
    """The switches that make the fake a fair benchmark peer."""

    def test_no_compress_leaves_deflate_out(self):
        fake = Fake({}, "--no-compress")
        self.addCleanup(fake.stop)
        r = fake.raw(login=False)
        caps = r.command("a AUTHENTICATE XOAUTH2 " + b64(xoauth2()))[0].split()
        self.assertIn(b"IMAP4rev1", caps)
        self.assertNotIn(b"COMPRESS=DEFLATE", caps)
        self.assertNotIn(b"COMPRESS=DEFLATE", r.command("c CAPABILITY")[0].split())
        self.assertTrue(r.command("z COMPRESS DEFLATE")[-1].startswith(b"z BAD "))
        self.assertTrue(r.command("n NOOP")[-1].startswith(b"n OK"))
        r.close()

    def test_ports_file_in_the_dovecot_peers_format(self):
        ports_file = os.path.join(workdir(), "peer-ports")
        fake = Fake({}, "--ports-file", ports_file, tls_dir=os.path.join(workdir(), "own-ca"))
        self.addCleanup(fake.stop)
        with open(ports_file) as f:
            ports = dict(line.rstrip("\n").split("=", 1) for line in f)
        self.assertEqual(int(ports["IMAPS_PORT"]), fake.port)
        self.assertEqual(int(ports["CONTROL_PORT"]), fake.control_port)
        self.assertEqual((ports["IMAP_USER"], ports["IMAP_TOKEN"]), (USER, TOKEN))
        self.assertTrue(os.path.exists(ports["CA_CERT"]))
        self.assertTrue(ports["INSTANCE"])
        m = imaplib.IMAP4_SSL("127.0.0.1", int(ports["IMAPS_PORT"]),
                              ssl_context=ssl.create_default_context(cafile=ports["CA_CERT"]))
        m.authenticate("XOAUTH2", lambda ch: xoauth2(ports["IMAP_USER"], ports["IMAP_TOKEN"]).encode())
        self.assertEqual(select_count(m, ALL_MAIL), 0)
        m.logout()

    def test_a_process_per_connection(self):
        """Connections work side by side; each keeps the mailbox it was accepted with, and
        a change reaches the connections accepted after it."""
        fake = Fake({"generate": 5}, "--process-per-connection")
        self.addCleanup(fake.stop)
        first = fake.imap()
        self.assertEqual(select_count(first, ALL_MAIL), 5)
        fake.control({"op": "add_message", "raw": "Subject: new\r\n\r\nhi\r\n"})
        second = fake.imap()
        self.assertEqual(select_count(second, ALL_MAIL), 6)
        self.assertEqual(select_count(first, ALL_MAIL), 5)
        bodies = [fetch_items(m.fetch("1:5", "(BODY.PEEK[])")[1]) for m in (first, second)]
        self.assertEqual(bodies[0], bodies[1])
        for m in (first, second):
            m.logout()


class ProtocolTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.fake = Fake({"generate": 10})
        cls.addClassCleanup(cls.fake.stop)


    def setUp(self):
        self.r = self.fake.raw()
        self.addCleanup(self.r.close)

    def test_pipelined_commands_are_answered_in_order(self):
        self.r.send("p1 NOOP\r\np2 SELECT INBOX\r\np3 FETCH 1:2 (UID)\r\np4 STATUS Work (MESSAGES)\r\n"
                    "p5 UID FETCH 1 (UID)\r\n")
        tagged = [line.split()[0] for line in self.r.until_tagged("p5") if not line.startswith(b"*")]
        self.assertEqual(tagged, [b"p1", b"p2", b"p3", b"p4", b"p5"])

    def test_a_message_body_is_sent_before_the_next_pipelined_command_is_read(self):
        """A reply holding a message body goes out at once, not held back for the replies to the
        pipelined commands after it: here the next one waits for its literal."""
        message = b"Subject: big\r\n\r\n" + b"x" * 10000 + b"\r\n"
        fake = Fake({"messages": [{"raw": message.decode()}]})
        self.addCleanup(fake.stop)
        r = fake.raw()
        self.addCleanup(r.close)
        r.command("s SELECT " + ALL_MAIL)
        r.send("f1 FETCH 1 (BODY.PEEK[])\r\nf2 STATUS {5+}\r\n")
        lines = r.until_tagged("f1")
        self.assertIn(b"{%d}\r\n" % len(message) + message + b")", lines[0])
        self.assertEqual(lines[-1], b"f1 OK Success\r\n")
        r.send("INBOX (MESSAGES)\r\n")
        self.assertTrue(r.until_tagged("f2")[-1].startswith(b"f2 OK"))

    def test_literals_in_commands(self):
        self.r.send("l1 SELECT {16}\r\n")
        self.assertTrue(self.r.line().startswith(b"+ "))
        self.r.send("[Gmail]/All Mail\r\n")
        lines = self.r.until_tagged("l1")
        self.assertIn(b"* 10 EXISTS\r\n", lines)
        self.assertTrue(lines[-1].startswith(b"l1 OK [READ-WRITE]"))
        lines = self.r.command("l2 STATUS {5+}\r\nINBOX (MESSAGES)")
        self.assertTrue(lines[0].startswith(b'* STATUS "INBOX" (MESSAGES '), lines)
        lines = self.r.command("l3 STATUS {5000+}\r\n" + "x" * 5000 + " (MESSAGES)")
        self.assertTrue(lines[-1].startswith(b"l3 BAD "), lines)
        self.assertTrue(self.r.command("l4 NOOP")[-1].startswith(b"l4 OK"))

    def test_compress_deflate(self):
        self.assertEqual(self.r.command("c1 COMPRESS DEFLATE")[-1], b"c1 OK Success\r\n")
        out, inflate = zlib.compressobj(6, zlib.DEFLATED, -15), zlib.decompressobj(-15)
        self.r.send(out.compress(b"c2 SELECT INBOX\r\nc3 NOOP\r\n") + out.flush(zlib.Z_SYNC_FLUSH))
        got = b""
        while b"c3 OK" not in got:
            got += inflate.decompress(self.r.sock.recv(65536))
        self.assertIn(b"c2 OK [READ-WRITE] INBOX selected.", got)

    def test_body_fetch_sets_seen_only_when_read_write(self):
        unseen = "2"  # generated message 1 has no \Seen
        self.r.command("e EXAMINE " + ALL_MAIL)
        it = fetch_items(b"".join(self.r.command("f FETCH %s (BODY[])" % unseen)))[2]
        self.assertNotIn("FLAGS", it)
        it = fetch_items(b"".join(self.r.command("g FETCH %s (FLAGS)" % unseen)))[2]
        self.assertEqual(it["FLAGS"], [])
        self.r.command("s SELECT " + ALL_MAIL)
        it = fetch_items(b"".join(self.r.command("h FETCH %s (BODY.PEEK[])" % unseen)))[2]
        self.assertNotIn("FLAGS", it)
        it = fetch_items(b"".join(self.r.command("i FETCH %s (BODY[])" % unseen)))[2]
        self.assertEqual(it["FLAGS"], ["\\Seen"])

    def test_sections(self):
        self.r.command("s EXAMINE " + ALL_MAIL)
        lines = self.r.command("f UID FETCH 1 (BODY.PEEK[HEADER.FIELDS (SUBJECT DATE)] "
                               "BODY.PEEK[]<5.10> RFC822.HEADER BODY.PEEK[TEXT] ENVELOPE)")
        it = fetch_items(b"".join(lines))[1]
        fields = text_of(it["BODY[HEADER.FIELDS (SUBJECT DATE)]"])
        self.assertEqual(fields, "Date: Thu, 01 Jan 2015 00:00:00 +0000\r\nSubject: Message 0\r\n\r\n")
        header = text_of(it["RFC822.HEADER"])
        self.assertTrue(header.endswith("\r\n\r\n") and "Subject: Message 0\r\n" in header)
        self.assertEqual(text_of(it["BODY[]<5>"]), (header + text_of(it["BODY[TEXT]"]))[5:15])
        env = it["ENVELOPE"]
        self.assertEqual(text_of(env[1]), "Message 0")
        self.assertEqual([text_of(x) for x in env[2][0]], ["Sender 0", "NIL", "sender0", "example.org"])
        self.assertEqual(text_of(env[9]), "<gen.0@example.org>")

    def test_session_commands(self):
        for command, reply in (("a ID NIL", b'* ID ("name" "GImap" '),
                               ('b ID ("name" "Tidewell")', b'* ID ("name" "GImap" '),
                               ("c NAMESPACE", b'* NAMESPACE (("" "/")) NIL NIL\r\n'),
                               ("d ENABLE CONDSTORE", b"* ENABLED CONDSTORE\r\n"),
                               ("e CAPABILITY", b"* CAPABILITY IMAP4rev1 ")):
            with self.subTest(command=command):
                lines = self.r.command(command)
                self.assertTrue(lines[0].startswith(reply), lines)
                self.assertTrue(lines[-1].startswith(command[0].encode() + b" OK"), lines)
        lines = self.r.command("f LOGOUT")
        self.assertEqual(lines[0], b"* BYE LOGOUT Requested\r\n")
        with self.assertRaises(EOFError):
            self.r.line()

    def test_refusals(self):
        self.r.command("s SELECT INBOX")
        for command, expect in (("a FETCH 1 (BODYSTRUCTURE)", b"a BAD"),
                                ("b FROB", b"b BAD"),
                                ("c STATUS INBOX (MESSAGES", b"c BAD"),
                                ("d COMPRESS (DEFLATE)", b"d BAD"),
                                ("e SEARCH CHARSET (UTF-8) ALL", b"e BAD"),
                                ("f FETCH 1 (UID) (CHANGEDSINCE (1))", b"f BAD"),
                                ("g FETCH 1 (BODY[1])", b"g BAD"),
                                ("h UID FETCH 1:x (UID)", b"h BAD"),
                                ("i SELECT Nowhere", b"i NO [NONEXISTENT]")):
            with self.subTest(command=command):
                self.assertTrue(self.r.command(command)[-1].startswith(expect))
        self.r.send("j NOOP\n")
        self.assertTrue(self.r.line().startswith(b"* BAD"))
        self.assertTrue(self.r.command("k NOOP")[-1].startswith(b"k OK"))


class GoogleStandIn(http.server.ThreadingHTTPServer):
    """Answers the fake Google server's token question from a table: token -> grant."""

    def __init__(self, grants):
        self.grants = grants
        super().__init__(("127.0.0.1", 0), GoogleStandInHandler)
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def close(self):
        self.shutdown()
        self.server_close()


class GoogleStandInHandler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        asked = json.loads(self.rfile.read(int(self.headers["Content-Length"])))
        grant = self.server.grants.get(asked["access_token"]) if self.path == "/_control/token" else None
        body = json.dumps(grant if grant is not None else {"error": "unknown"}).encode()
        self.send_response(200 if grant is not None else 404)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


class GoogleTokensTest(unittest.TestCase):
    """With --google-port, a token the fake Google server vouches for logs its account in."""
    MAIL = "https://mail.google.com/"

    @classmethod
    def setUpClass(cls):
        cls.google = GoogleStandIn({
            "ya29.issued": {"email": "Alice@Example.com", "scopes": [cls.MAIL], "expires_in": 3599},
            "ya29.for-bob": {"email": "bob@example.com", "scopes": [cls.MAIL], "expires_in": 3599},
            "ya29.no-mail": {"email": USER, "scopes": ["https://www.google.com/m8/feeds"], "expires_in": 3599},
        })
        cls.addClassCleanup(cls.google.close)
        cls.fake = Fake({"accounts": [{"user": USER, "tokens": [TOKEN]}, {"user": "bob@example.com"}]},
                        "--google-port", str(cls.google.server_address[1]))
        cls.addClassCleanup(cls.fake.stop)

    def authenticate(self, fake, mech, user, token):
        text = (xoauth2(user, token) if mech == "XOAUTH2"
                else "n,a=%s,\x01auth=Bearer %s\x01\x01" % (user, token))
        r = fake.raw(login=False)
        r.send("a AUTHENTICATE %s %s\r\n" % (mech, b64(text)))
        line = r.line()
        while not line.startswith(b"a "):
            if line.startswith(b"+ "):  # the failure step
                r.send("\r\n")
            line = r.line()
        r.close()
        return line

    def test_tokens_the_google_server_issued(self):
        cases = [
            (USER, "ya29.issued", b"a OK"),
            ("bob@example.com", "ya29.for-bob", b"a OK"),
            (USER, TOKEN, b"a OK"),                          # the scenario's own tokens still count
            ("bob@example.com", "ya29.issued", b"a NO [AUTHENTICATIONFAILED]"),   # another account's
            (USER, "ya29.no-mail", b"a NO [AUTHENTICATIONFAILED]"),               # without the mail scope
            (USER, "ya29.unknown", b"a NO [AUTHENTICATIONFAILED]"),
            ("carol@example.com", "ya29.issued", b"a NO [AUTHENTICATIONFAILED]"), # no such account here
        ]
        for mech in ("XOAUTH2", "OAUTHBEARER"):
            for user, token, expect in cases:
                with self.subTest(mech=mech, user=user, token=token):
                    self.assertTrue(self.authenticate(self.fake, mech, user, token).startswith(expect))

    def test_a_google_server_that_does_not_answer_grants_nothing(self):
        gone = GoogleStandIn({"ya29.issued": {"email": USER, "scopes": [self.MAIL]}})
        port = gone.server_address[1]
        gone.close()
        fake = Fake({"accounts": [{"user": USER, "tokens": [TOKEN]}]}, "--google-port", str(port))
        self.addCleanup(fake.stop)
        self.assertTrue(self.authenticate(fake, "XOAUTH2", USER, "ya29.issued")
                        .startswith(b"a NO [AUTHENTICATIONFAILED]"))
        self.assertTrue(self.authenticate(fake, "XOAUTH2", USER, TOKEN).startswith(b"a OK"))


class ExitWithPidTest(unittest.TestCase):
    def test_ends_with_the_process_it_watches(self):
        watched = subprocess.Popen(["sleep", "600"])
        self.addCleanup(watched.wait)
        self.addCleanup(watched.kill)
        fake = Fake({}, "--exit-with-pid", str(watched.pid))
        self.addCleanup(fake.stop)
        self.assertEqual(fake.imap().noop()[0], "OK")
        watched.kill()
        watched.wait()
        # A safety net against a hang, not a measurement.
        self.assertEqual(fake.proc.wait(60), 0)

    def test_a_process_already_gone_stops_the_start(self):
        gone = subprocess.Popen(["true"])
        gone.wait()
        with self.assertRaisesRegex(RuntimeError, "fake did not start"):
            Fake({}, "--exit-with-pid", str(gone.pid))


if __name__ == "__main__":
    unittest.main()
