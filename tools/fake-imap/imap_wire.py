"""IMAP wire syntax for the fake server: command tokens, sequence sets and the forms in which
strings, mailbox names and labels are written back (RFC 3501 section 9 and Gmail's habits)."""
import base64
import re
import time


class ParseError(Exception):
    """A command the fake refuses with BAD."""


class Atom(str):
    """An unquoted token (atoms, flags, fetch items with their [section]<partial>)."""


class String(str):
    """A quoted string or a literal, as latin-1 text so every byte survives."""


# The reader replaces each literal by "\0<index>\0"; NUL cannot occur in a command line.
LITERAL_MARK = "\0"
ATOM_SPECIALS = set('(){ %*"\\]') | {chr(c) for c in range(0x20)} | {"\x7f"}


def tokenize(text, literals):
    """Splits a command (without tag) into atoms, strings and nested lists."""
    pos, stack, cur = 0, [], []
    n = len(text)
    while pos < n:
        c = text[pos]
        if c == " ":
            pos += 1
        elif c == "(":
            stack.append(cur)
            cur = []
            pos += 1
        elif c == ")":
            if not stack:
                raise ParseError("unbalanced parenthesis")
            done, cur = cur, stack.pop()
            cur.append(done)
            pos += 1
        elif c == '"':
            pos += 1
            out = []
            while True:
                if pos >= n:
                    raise ParseError("unterminated quoted string")
                c = text[pos]
                if c == "\\":
                    if pos + 1 >= n or text[pos + 1] not in '"\\':
                        raise ParseError("bad escape in quoted string")
                    out.append(text[pos + 1])
                    pos += 2
                elif c == '"':
                    pos += 1
                    break
                elif c in "\r\n":
                    raise ParseError("line break in quoted string")
                else:
                    out.append(c)
                    pos += 1
            cur.append(String("".join(out)))
        elif c == LITERAL_MARK:
            end = text.index(LITERAL_MARK, pos + 1)
            cur.append(String(literals[int(text[pos + 1:end])]))
            pos = end + 1
        else:
            start, depth = pos, 0
            while pos < n:
                c = text[pos]
                if c == "[":
                    depth += 1
                elif c == "]" and depth:
                    depth -= 1
                elif depth == 0 and c in ' ()"' or c == LITERAL_MARK:
                    break
                pos += 1
            if depth:
                raise ParseError("unterminated [")
            cur.append(Atom(text[start:pos]))
    if stack:
        raise ParseError("unbalanced parenthesis")
    return cur


def is_string(tok):
    return isinstance(tok, str)


def astring(tok):
    """An astring argument (atom, quoted or literal) as text; anything else is a syntax error."""
    if not isinstance(tok, str):
        raise ParseError("string expected")
    return str(tok)


SEQ_RE = re.compile(r"^(\d+|\*)(:(\d+|\*))?(,(\d+|\*)(:(\d+|\*))?)*$")


def parse_sequence_set(text):
    """'1:5,9,12:*' as a list of (low, high) pairs; None stands for '*'."""
    if not SEQ_RE.match(text):
        raise ParseError("Invalid messageset")
    out = []
    for part in text.split(","):
        ends = [None if e == "*" else int(e) for e in part.split(":")]
        for e in ends:
            if e is not None and not 0 < e < 2 ** 32:
                raise ParseError("Invalid messageset")
        out.append((ends[0], ends[-1]))
    return out


def compress_set(numbers):
    """Sorted numbers as an IMAP sequence set ('1:3,7')."""
    out, run = [], None
    for x in numbers:
        if run and x == run[1] + 1:
            run[1] = x
        else:
            if run:
                out.append(run)
            run = [x, x]
    if run:
        out.append(run)
    return ",".join(str(a) if a == b else "%d:%d" % (a, b) for a, b in out)


def quoted(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def literal(data):
    return b"{%d}\r\n" % len(data) + data


def string_out(data):
    """A string value: quoted where the syntax allows it, a literal for 8-bit or line breaks."""
    if isinstance(data, str):
        data = data.encode("latin-1")
    if any(b > 0x7E or b < 0x20 for b in data):
        return literal(data)
    return quoted(data.decode("ascii")).encode("ascii")


def nstring_out(data):
    return b"NIL" if data is None else string_out(data)


def is_atom(text):
    return bool(text) and not any(c in ATOM_SPECIALS or ord(c) > 0x7E for c in text)


def is_astring_atom(text):
    """ASTRING-CHAR only (RFC 3501): atom characters and "]"."""
    return is_atom(text.replace("]", "a"))


def label_out(label, form):
    """One label of X-GM-LABELS in the given form: 'gmail' (Gmail's own: a system label quoted
    with its backslash escaped, "\\\\Inbox"; a user label as an astring atom where the syntax
    allows it, "]" included, quoted otherwise), 'bare' (a flag-like \\Inbox or an atom where
    the syntax allows it, quoted otherwise), 'quoted' or 'literal'."""
    if form == "gmail":
        if not label.startswith("\\") and is_astring_atom(label):
            return label.encode("latin-1")
        form = "quoted"
    if form == "bare":
        rest = label[1:] if label.startswith("\\") else label
        if is_atom(rest):
            return label.encode("latin-1")
        form = "quoted"
    if form == "quoted" and not any(ord(c) < 0x20 or ord(c) > 0x7E for c in label):
        return quoted(label).encode("latin-1")
    return literal(label.encode("latin-1"))


MONTHS = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()


def internaldate_out(epoch):
    t = time.gmtime(int(epoch))
    return '"%02d-%s-%04d %02d:%02d:%02d +0000"' % (t.tm_mday, MONTHS[t.tm_mon - 1], t.tm_year,
                                                   t.tm_hour, t.tm_min, t.tm_sec)


def mutf7_encode(name):
    """A readable mailbox name in modified UTF-7 (RFC 3501 5.1.3); ASCII names pass unchanged,
    so names already in wire form stay as they are."""
    if all(0x20 <= ord(c) <= 0x7E for c in name):
        return name
    out, run = [], []

    def flush():
        if run:
            b64 = base64.b64encode("".join(run).encode("utf-16-be")).decode().rstrip("=")
            out.append("&" + b64.replace("/", ",") + "-")
            run.clear()
    for c in name:
        if 0x20 <= ord(c) <= 0x7E:
            flush()
            out.append("&-" if c == "&" else c)
        else:
            run.append(c)
    flush()
    return "".join(out)

