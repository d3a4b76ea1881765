"""Gmail's mailbox model for the fake server: one set of messages in arrival order; INBOX, the
system folders and the user labels are views of it, each with its own UIDs; a message with two
labels is one message with one All Mail UID and one X-GM-MSGID."""
import bisect
import calendar
import datetime
import os
import re

from imap_wire import mutf7_encode

# Labels as X-GM-LABELS reports them. \Starred follows the \Flagged flag; \Spam and \Trash take a
# message out of All Mail and every other view.
INBOX, SENT, DRAFT, IMPORTANT, STARRED, SPAM, TRASH = (
    "\\Inbox", "\\Sent", "\\Draft", "\\Important", "\\Starred", "\\Spam", "\\Trash")
SYSTEM_LABELS = (INBOX, SENT, DRAFT, IMPORTANT, STARRED, SPAM, TRASH)
LAYOUTS = ("[Gmail]", "[Google Mail]")
# Gmail names its system folders in the account's language; only their special-use attributes
# tell what they are. Names by the English ones, as a user reads them (sent in modified UTF-7).
SYSTEM_FOLDER_NAMES = ("All Mail", "Drafts", "Important", "Sent Mail", "Spam", "Starred", "Trash")
LANGUAGES = {
    "en": {},
    "en-GB": {"Trash": "Bin"},
    "pt-BR": {"All Mail": "Todos os e-mails", "Drafts": "Rascunhos", "Important": "Importante",
              "Sent Mail": "E-mails enviados", "Starred": "Com estrela", "Trash": "Lixeira"},
    "de": {"All Mail": "Alle Nachrichten", "Drafts": "Entwürfe", "Important": "Wichtig",
           "Sent Mail": "Gesendet", "Starred": "Markiert", "Trash": "Papierkorb"},
    "ru": {"All Mail": "Вся почта", "Drafts": "Черновики", "Important": "Важное",
           "Sent Mail": "Отправленные", "Spam": "Спам", "Starred": "Помеченные", "Trash": "Корзина"},
}
HEADER_END = re.compile(rb"\r?\n\r?\n")


class ModelError(Exception):
    """A scenario or control request that does not fit the mailbox."""


class Folder:
    """One view: the messages it holds in UID order, with parallel lists for bisecting."""

    def __init__(self, name, kind, label, list_attrs, xlist_attrs, uidvalidity):
        self.name, self.kind, self.label = name, kind, label
        self.list_attrs, self.xlist_attrs = list_attrs, xlist_attrs
        self.shown = True  # Gmail's "Show in IMAP" setting of the label
        self.uidvalidity, self.uidnext = uidvalidity, 1
        self.uids, self.msgs = [], []

    @property
    def selectable(self):
        return self.kind != "parent"

    def append(self, msg, gap):
        self.uidnext += gap
        uid = self.uidnext
        self.uidnext += 1
        self.uids.append(uid)
        self.msgs.append(msg)
        msg.uids[self.name] = uid

    def remove(self, msg):
        i = bisect.bisect_left(self.uids, msg.uids.pop(self.name))
        del self.uids[i], self.msgs[i]

    def renumber(self, uidvalidity, gap):
        self.uidvalidity, self.uidnext = uidvalidity, 1
        old = self.msgs
        self.uids, self.msgs = [], []
        for m in old:
            self.append(m, gap(self))


class Message:
    """A message: its identity, labels and flags, and where its bytes come from (inline bytes, a
    file read on demand, or a generator index), so large mailboxes are not held in memory."""
    __slots__ = ("gid", "msgid", "thrid", "labels", "flags", "date", "raw", "path", "gen",
                 "expunged", "uids", "modseq", "_size", "_header")

    def __init__(self, date, labels=(), flags=(), raw=None, path=None, gen=None,
                 msgid=None, thrid=None, size=None):
        self.gid, self.msgid, self.thrid = None, msgid, thrid
        self.labels, self.flags = list(dict.fromkeys(labels)), list(dict.fromkeys(flags))
        self.date, self.raw, self.path, self.gen = date, raw, path, gen
        self.expunged, self.uids, self.modseq = False, {}, 1
        self._size, self._header = size, None  # size: with CRLF line ends, when known unread

    def stored(self):
        if self.raw is not None:
            return self.raw
        if self.path is not None:
            with open(self.path, "rb") as f:
                return f.read()
        return generated_message(self.gen, self.date)

    def data(self):
        """The message with CRLF line ends, as a server sends it."""
        return crlf(self.stored())

    def size(self):
        if self._size is None:
            # Counting is far cheaper than converting a large message just to measure it.
            data = self.stored()
            self._size = len(data) + data.count(b"\n") - data.count(b"\r\n")
        return self._size

    def header(self):
        """The header block including the blank line; read from the head of the file only."""
        if self._header is None:
            if self.path is not None:
                with open(self.path, "rb") as f:
                    head = f.read(16384)
                    if not HEADER_END.search(head):
                        head += f.read()
                data = crlf(head)
            else:
                data = self.data()
            end = data.find(b"\r\n\r\n")
            self._header = data if end < 0 else data[:end + 4]
        return self._header


WSIZE_RE = re.compile(r",W=(\d+)(?:,|$)")


def crlf(data):
    """Bare LF line ends (as in Maildir files) made CRLF; existing CRLF pairs stay."""
    if b"\r" not in data:
        return data.replace(b"\n", b"\r\n")
    return data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


def generated_message(i, date):
    """Small deterministic message number i, made when asked for (synthetic mailboxes)."""
    stamp = datetime.datetime.fromtimestamp(date, datetime.timezone.utc)
    head = ("Date: %s\r\nFrom: Sender %d <sender%d@example.org>\r\nTo: alice@example.com\r\n"
            "Subject: Message %d\r\nMessage-ID: <gen.%d@example.org>\r\nMIME-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=utf-8\r\n\r\n"
            % (stamp.strftime("%a, %d %b %Y %H:%M:%S +0000"), i % 97, i % 97, i, i))
    body = "".join("Line %d of message %d.\r\n" % (k, i) for k in range(1 + i % 7))
    return (head + body).encode()


def generated_labels(i):
    """Labels of synthetic message i: overlapping patterns, so some messages carry two or more."""
    labels = [lab for lab, every, offset in ((INBOX, 3, 0), ("Work", 5, 0), (IMPORTANT, 7, 0),
                                             (SENT, 11, 1), ("Entw&APw-rfe", 13, 2),
                                             ("Personal/Family", 17, 3))
              if i % every == offset]
    flags = [] if i % 4 == 1 else ["\\Seen"]
    if i % 9 == 0:
        flags.append("\\Flagged")
    return labels, flags


class Mailbox:
    """The mailbox of one account."""

    def __init__(self, layout="[Gmail]", uidvalidity=1000, uid_gaps=True, labels=(), language="en",
                 system_names=None):
        if layout not in LAYOUTS:
            raise ModelError("layout must be one of %s" % ", ".join(LAYOUTS))
        if language not in LANGUAGES:
            raise ModelError("language must be one of %s" % ", ".join(LANGUAGES))
        names = dict(LANGUAGES[language], **(system_names or {}))
        if set(names) - set(SYSTEM_FOLDER_NAMES):
            raise ModelError("system_names may name only %s" % ", ".join(SYSTEM_FOLDER_NAMES))
        self.layout, self.uidvalidity_base, self.uid_gaps = layout, uidvalidity, uid_gaps
        self.folders, self.messages, self.by_msgid, self.modseq = {}, [], {}, 1

        def p(english):
            return layout + "/" + mutf7_encode(names.get(english, english))
        self.all_mail = p("All Mail")
        # (name, kind, label, RFC 6154 attributes, XLIST attributes)
        for spec in (("INBOX", "label", INBOX, [], ["\\Inbox"]),
                     (layout, "parent", None, [], []),
                     (p("All Mail"), "all", None, ["\\All"], ["\\AllMail"]),
                     (p("Drafts"), "label", DRAFT, ["\\Drafts"], ["\\Drafts"]),
                     (p("Important"), "label", IMPORTANT, ["\\Important"], ["\\Important"]),
                     (p("Sent Mail"), "label", SENT, ["\\Sent"], ["\\Sent"]),
                     (p("Spam"), "label", SPAM, ["\\Junk"], ["\\Spam"]),
                     (p("Starred"), "starred", STARRED, ["\\Flagged"], ["\\Starred"]),
                     (p("Trash"), "label", TRASH, ["\\Trash"], ["\\Trash"])):
            self._add_folder(*spec)
        self.by_label = {f.label: f for f in self.folders.values() if f.label}
        for label in labels:
            self.user_folder(label)

    # --- folders -------------------------------------------------------------------------
    def _add_folder(self, name, kind, label, list_attrs, xlist_attrs):
        f = Folder(name, kind, label, list_attrs, xlist_attrs,
                   self.uidvalidity_base + len(self.folders))
        self.folders[name] = f
        return f

    def user_folder(self, label):
        """The folder of a user label, made on first use like Gmail does; its parents appear as
        \\Noselect folders until they are labels of their own."""
        label = mutf7_encode(label)
        if label in SYSTEM_LABELS or not label or label.upper() == "INBOX":
            raise ModelError("%r is not a user label" % label)
        f = self.by_label.get(label)
        if f is None:
            parts = label.split("/")
            for k in range(1, len(parts)):
                parent = "/".join(parts[:k])
                if parent not in self.folders:
                    self._add_folder(parent, "parent", None, [], [])
            f = self.folders.get(label)
            if f is not None and f.kind == "parent":
                f.kind, f.label = "label", label
            elif f is None:
                f = self._add_folder(label, "label", label, [], [])
            self.by_label[label] = f
        return f

    def folder(self, name):
        """A folder by the name a client sends; INBOX in any letter case."""
        if name.upper() == "INBOX":
            name = "INBOX"
        return self.folders.get(name)

    def hide(self, names):
        """Switches "Show in IMAP" off for these folders: clients no longer see them."""
        for name in names:
            f = self.folder(name)
            if f is None:
                raise ModelError("no folder %r to hide" % name)
            f.shown = False

    def sorted_folders(self):
        """Gmail's LIST order: INBOX, the user labels, then the system folders."""
        system = [n for n in self.folders if n == self.layout or n.startswith(self.layout + "/")]
        users = sorted(n for n in self.folders if n != "INBOX" and n not in system)
        return [self.folders[n] for n in ["INBOX"] + users + sorted(system)]

    def has_children(self, folder):
        prefix = folder.name + "/"
        return any(n.startswith(prefix) for n in self.folders)

    # --- messages ------------------------------------------------------------------------
    def _gap(self, folder):
        # Gaps between UIDs, as a real mailbox has after deletions, so that a client that mixes
        # up sequence numbers and UIDs is caught.
        return 1 if self.uid_gaps and len(folder.uids) % 5 == 4 else 0

    def wanted_folders(self, msg):
        if msg.expunged:
            return set()
        hidden = [lab for lab in (SPAM, TRASH) if lab in msg.labels]
        if hidden:
            return {self.by_label[hidden[-1]].name}
        names = {self.all_mail}
        for lab in msg.labels:
            f = self.by_label.get(lab) or self.user_folder(lab)
            names.add(f.name)
        if "\\Flagged" in msg.flags:
            names.add(self.by_label[STARRED].name)
        return names

    def _sync(self, msg):
        """Puts msg into exactly the views it belongs to; a view it enters gives it a new UID."""
        wanted = self.wanted_folders(msg)
        for name in [n for n in msg.uids if n not in wanted]:
            self.folders[name].remove(msg)
        # All Mail first, then the rest in a fixed order, so UIDs are reproducible.
        for name in sorted(wanted - set(msg.uids), key=lambda n: (n != self.all_mail, n)):
            f = self.folders[name]
            f.append(msg, self._gap(f))

    def _touch(self, msg):
        self.modseq += 1
        msg.modseq = self.modseq

    def add(self, msg):
        """Adds a message at the end of the arrival order."""
        msg.labels = [self._label_name(lab) for lab in msg.labels]
        if STARRED in msg.labels:
            msg.labels.remove(STARRED)
            if "\\Flagged" not in msg.flags:
                msg.flags.append("\\Flagged")
        msg.gid = len(self.messages)
        if msg.msgid is None:
            # Time-ordered 64-bit ids like Gmail's, well above 2^32 and 2^53.
            msg.msgid = (max(0, int(msg.date * 1000)) << 20) | (msg.gid & 0xFFFFF)
            while msg.msgid in self.by_msgid:
                msg.msgid += 1
        elif msg.msgid in self.by_msgid:
            raise ModelError("X-GM-MSGID %d is used twice" % msg.msgid)
        if msg.thrid is None:
            msg.thrid = msg.msgid
        self.messages.append(msg)
        self.by_msgid[msg.msgid] = msg
        self._touch(msg)
        self._sync(msg)
        return msg

    def _label_name(self, label):
        for sysl in SYSTEM_LABELS:
            if label.lower() == sysl.lower():
                return sysl
        self.user_folder(label)
        return mutf7_encode(label)

    def find(self, req):
        """The message a control request names by "msgid" or by its All Mail "uid"."""
        if "msgid" in req:
            msg = self.by_msgid.get(int(req["msgid"]))
        elif "uid" in req:
            f = self.folders[self.all_mail]
            i = bisect.bisect_left(f.uids, int(req["uid"]))
            msg = f.msgs[i] if i < len(f.uids) and f.uids[i] == int(req["uid"]) else None
        else:
            raise ModelError("name the message by msgid or uid")
        if msg is None:
            raise ModelError("no such message: %s" % {k: req[k] for k in ("msgid", "uid") if k in req})
        return msg

    # --- changes -------------------------------------------------------------------------
    def change_labels(self, msg, add=(), remove=()):
        for lab in remove:
            lab = self._label_name(lab)
            if lab == STARRED:
                self.change_flags(msg, remove=["\\Flagged"])
            elif lab in msg.labels:
                msg.labels.remove(lab)
        for lab in add:
            lab = self._label_name(lab)
            if lab == STARRED:
                self.change_flags(msg, add=["\\Flagged"])
            elif lab not in msg.labels:
                msg.labels.append(lab)
        self._touch(msg)
        self._sync(msg)

    def change_flags(self, msg, add=(), remove=()):
        msg.flags = [f for f in msg.flags if f not in remove]
        msg.flags += [f for f in add if f not in msg.flags]
        self._touch(msg)
        self._sync(msg)

    def expunge(self, msg):
        msg.expunged = True
        self._touch(msg)
        self._sync(msg)

    def restore(self, msg, labels=None):
        """Brings a message back (after an expunge, or out of Spam or Trash) the way Gmail does:
        same X-GM-MSGID, new UIDs at the end of every view."""
        for name in list(msg.uids):
            self.folders[name].remove(msg)
        msg.expunged = False
        msg.labels = [lab for lab in msg.labels if lab not in (SPAM, TRASH)]
        if labels is not None:
            msg.labels = []
            self.change_labels(msg, add=labels)
        self._touch(msg)
        self._sync(msg)

    def bump_uidvalidity(self, folder, value=None):
        value = folder.uidvalidity + 1 if value is None else int(value)
        if not 0 < value < 2 ** 32:
            raise ModelError("UIDVALIDITY must be a nonzero 32-bit number")
        folder.renumber(value, self._gap)


def parse_date(value):
    """Seconds since 1970 from a number or an ISO 8601 text (UTC unless it names a zone)."""
    if isinstance(value, (int, float)):
        return float(value)
    d = datetime.datetime.fromisoformat(value.replace("Z", "+00:00"))
    if d.tzinfo is None:
        d = d.replace(tzinfo=datetime.timezone.utc)
    return d.timestamp()


MAILDIR_FLAGS = {"D": "\\Draft", "F": "\\Flagged", "P": "$Forwarded", "R": "\\Answered",
                 "S": "\\Seen", "T": "\\Deleted"}
STORE_LABELS = {"Sent": [SENT], "Drafts": [DRAFT], "Spam": [SPAM], "Trash": [TRASH]}


def maildir_messages(home):
    """Messages of a tree written by gen_mailbox.py: main/INBOX and main/<label> hold labelled
    mail, store/Sent, Drafts, Spam and Trash the system folders, store/Archive mail without a
    label. The file mtime is the arrival time; files are read only when a client asks.
    Gives the messages in arrival order and every label folder of the tree, empty ones too."""
    found, folder_labels = [], []
    for top in ("main", "store"):
        base = os.path.join(home, top)
        for dirpath, dirnames, _ in os.walk(base):
            dirnames.sort()
            rel = os.path.relpath(dirpath, base)
            if rel == ".":
                continue
            if top == "main":
                labels = [INBOX] if rel == "INBOX" else [rel.replace(os.sep, "/")]
            else:
                labels = STORE_LABELS.get(rel, [])
            if os.path.isdir(os.path.join(dirpath, "cur")):
                folder_labels += [lab for lab in labels if not lab.startswith("\\")]
            keywords = {}
            kw_path = os.path.join(dirpath, "dovecot-keywords")
            if os.path.exists(kw_path):
                with open(kw_path) as kw:
                    for line in kw:
                        num, _, word = line.strip().partition(" ")
                        if num.isdigit() and word:
                            keywords[chr(ord("a") + int(num))] = word
            for sub in ("cur", "new"):
                d = os.path.join(dirpath, sub)
                if not os.path.isdir(d):
                    continue
                for name in os.listdir(d):
                    path = os.path.join(d, name)
                    info = name.rpartition(":2,")[2] if ":2," in name else ""
                    flags = [MAILDIR_FLAGS[c] if c in MAILDIR_FLAGS else keywords.get(c)
                             for c in info]
                    found.append((os.stat(path).st_mtime, path, labels,
                                  [f for f in flags if f], crlf_size_in_name(name)))
    if not found:
        raise ModelError("no messages under %s/main or %s/store" % (home, home))
    found.sort(key=lambda t: (t[0], t[1]))
    return ([Message(date, labels, flags, path=path, size=size)
             for date, path, labels, flags, size in found], folder_labels)


def crlf_size_in_name(name):
    """The size with CRLF line ends that a Maildir file name may carry (",W=<size>", as Dovecot
    writes it), so RFC822.SIZE needs no read of the file; None when the name has none."""
    match = WSIZE_RE.search(name.partition(":2,")[0])
    return int(match.group(1)) if match else None


def thread_in_threes(messages):
    """Threads of up to three messages in arrival order, so X-GM-THRID differs from
    X-GM-MSGID for most messages."""
    for k, msg in enumerate(messages):
        msg.thrid = messages[k - k % 3].msgid


def message_from_spec(spec, base_dir):
    """A message of a scenario file (see README.md)."""
    import base64
    sources = [k for k in ("raw", "raw_base64", "path") if k in spec]
    if len(sources) != 1:
        raise ModelError("a message needs exactly one of raw, raw_base64, path")
    raw = path = None
    if "raw" in spec:
        raw = spec["raw"].encode("utf-8")
    elif "raw_base64" in spec:
        raw = base64.b64decode(spec["raw_base64"])
    else:
        path = os.path.join(base_dir, spec["path"])
        if not os.path.isfile(path):
            raise ModelError("message file not found: %s" % path)
    date = parse_date(spec["internaldate"]) if "internaldate" in spec else (
        os.stat(path).st_mtime if path else calendar.timegm((2020, 1, 1, 0, 0, 0)))
    return Message(date, spec.get("labels", []), spec.get("flags", []), raw=raw, path=path,
                   msgid=spec.get("msgid"), thrid=spec.get("thrid"))


def build_mailbox(spec, base_dir):
    """A mailbox from the scenario's mailbox keys: layout, uidvalidity, uid_gaps, labels,
    language, system_names, maildir, generate, messages (loaded in that order; arrival order follows), hidden."""
    box = Mailbox(spec.get("layout", "[Gmail]"), int(spec.get("uidvalidity", 1000)),
                  bool(spec.get("uid_gaps", True)), spec.get("labels", []),
                  spec.get("language", "en"), spec.get("system_names"))
    if spec.get("maildir"):
        msgs, labels = maildir_messages(os.path.join(base_dir, spec["maildir"]))
        for label in labels:
            box.user_folder(label)
        for m in msgs:
            box.add(m)
        thread_in_threes(msgs)
    gen = spec.get("generate")
    if gen:
        start = calendar.timegm((2015, 1, 1, 0, 0, 0))
        msgs = []
        for i in range(int(gen["count"] if isinstance(gen, dict) else gen)):
            labels, flags = generated_labels(i)
            msgs.append(box.add(Message(start + i * 3600, labels, flags, gen=i)))
        thread_in_threes(msgs)
    for m in spec.get("messages", []):
        box.add(message_from_spec(m, base_dir))
    box.hide(spec.get("hidden", []))
    return box
