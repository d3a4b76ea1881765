#!/usr/bin/env python3
"""Deterministic synthetic mailbox generator (standard library only).

Usage: gen_mailbox.py HOME N [--seed S] [--extra K]

Writes N messages as Maildir files into the Gmail-shaped layout that the
Dovecot peer (dovecot/start.sh) and fake_gmail_imap.py --maildir HOME serve
from HOME (the user's mail home):

  HOME/main/INBOX                15 %     HOME/store/Sent      15 %
  HOME/main/Work                  8 %     HOME/store/Drafts     0.5 %
  HOME/main/Personal/Family       4 %     HOME/store/Archive   the rest
  HOME/main/Travel Plans          2 %
  HOME/main/Entw&APw-rfe          1 %  (mUTF-7 for "Entwuerfe" with u-umlaut)
  HOME/main/Receipts              5 %

plus K more (default 300) split over HOME/store/Spam and HOME/store/Trash,
which are outside "[Gmail]/All Mail". Every message lives in exactly one
folder, so All Mail never holds duplicates.

Files go to cur/ with info ":2,FLAGS" and "S=<size>" in the name; the file
mtime is the message Date (both servers use it as INTERNALDATE). The same seed
gives the same file names and the same bytes on any machine and time zone.

Message mix: sizes 2-50 KB log-uniform, 1 % of 100-500 KB; 18 % with a
base64 attachment, 17 % multipart/alternative, 2 % 8-bit ISO-8859-1 bodies;
2 % without Subject, 1 % with an empty Subject, 5 % RFC 2047 UTF-8 subjects,
"Re:", "Fwd:" and "[list] Re:" prefixes; 1 % without Date; 20 % with Cc.
Flags: \\Seen 70 %, \\Flagged 5 %, \\Answered 10 %, $Forwarded 3 % (maildir
keyword "a" plus a dovecot-keywords file), \\Draft on everything in Drafts.
"""
import argparse, base64, calendar, os, random, time, email.utils, hashlib
WORDS = ("time person year way day thing man world life hand part child eye woman place work "
         "week case point government company number group problem fact meeting budget report "
         "invoice travel plan release project draft review schedule update question answer "
         "server backup folder label message account holiday family photo dinner weekend").split()
FIRST = "Anna Ben Chloe David Emma Felix Grace Hugo Iris Jonas Karin Leo Maria Nils Olga Paul".split()
LAST = "Meyer Smith Dubois Rossi Novak Jensen Garcia Kowalski Berg Silva Tanaka Olsen".split()
ME = "alice@example.com"
FOLDERS = [("main/INBOX", 0.15), ("main/Work", 0.08), ("main/Personal/Family", 0.04),
           ("main/Travel Plans", 0.02), ("main/Entw&APw-rfe", 0.01), ("main/Receipts", 0.05),
           ("store/Sent", 0.15), ("store/Drafts", 0.005), ("store/Archive", None)]  # None = the rest
EXTRA = [("store/Spam", 0.5), ("store/Trash", 0.5)]  # not in All Mail


def words(r, n): return " ".join(r.choice(WORDS) for _ in range(n))


def text_body(r, size):
    out, total = [], 0
    while total < size:
        line = words(r, r.randint(6, 12)); out.append(line); total += len(line) + 1
        if r.random() < 0.15: out.append(""); total += 1
    return "\n".join(out) + "\n"


def addr(r):
    f, l = r.choice(FIRST), r.choice(LAST)
    return f"{f} {l} <{f.lower()}.{l.lower()}@example.org>"


def subject(r):
    x = r.random(); s = words(r, r.randint(2, 7)).capitalize()
    if x < 0.02: return None
    if x < 0.03: return ""
    if x < 0.08: return "=?UTF-8?B?" + base64.b64encode(("Grüße: " + s).encode()).decode() + "?="
    if x < 0.18: return "Re: " + s
    if x < 0.23: return "Fwd: " + s
    if x < 0.26: return "[list] Re: " + s
    return s


def message(r, i, folder, date):
    sent = folder == "store/Sent"
    frm, to = (ME, addr(r)) if sent else (addr(r), ME)
    hdr = [f"Return-Path: <{frm.split('<')[-1].rstrip('>')}>",
           f"Message-ID: <{hashlib.sha1(str(i).encode()).hexdigest()[:20]}.{i}@gen.example.org>"]
    if r.random() > 0.01: hdr.append("Date: " + email.utils.formatdate(date, localtime=False))
    hdr += [f"From: {frm}", f"To: {to}"]
    if r.random() < 0.2: hdr.append(f"Cc: {addr(r)}, {addr(r)}")
    s = subject(r)
    if s is not None: hdr.append(f"Subject: {s}")
    hdr.append("MIME-Version: 1.0")
    target = int(2 ** r.uniform(11, 15.6)) if r.random() > 0.01 else r.randint(100_000, 500_000)
    kind = r.random()
    if kind < 0.18:
        b64 = base64.encodebytes(r.randbytes(int(target * 0.7 * 3 / 4))).decode(); bnd = f"=_mixed_{i}"
        hdr.append(f'Content-Type: multipart/mixed; boundary="{bnd}"')
        body = (f"This is a multi-part message in MIME format.\n\n--{bnd}\n"
                f"Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: 8bit\n\n"
                f"{text_body(r, target * 0.3)}\n--{bnd}\n"
                f'Content-Type: application/octet-stream; name="file{i}.bin"\n'
                f'Content-Disposition: attachment; filename="file{i}.bin"\n'
                f"Content-Transfer-Encoding: base64\n\n{b64}--{bnd}--\n").encode()
    elif kind < 0.35:
        bnd = f"=_alt_{i}"; t = text_body(r, target / 2)
        h = "<html><body><p>" + t.replace("\n\n", "</p><p>") + "</p></body></html>\n"
        hdr.append(f'Content-Type: multipart/alternative; boundary="{bnd}"')
        body = (f"--{bnd}\nContent-Type: text/plain; charset=utf-8\n\n{t}\n--{bnd}\n"
                f"Content-Type: text/html; charset=utf-8\n\n{h}\n--{bnd}--\n").encode()
    elif kind < 0.37:
        hdr += ["Content-Type: text/plain; charset=iso-8859-1", "Content-Transfer-Encoding: 8bit"]
        body = ("Caf\xe9 cr\xe8me br\xfbl\xe9e.\n" + text_body(r, target)).encode("latin-1")
    else:
        hdr.append("Content-Type: text/plain; charset=utf-8"); body = text_body(r, target).encode()
    data = ("\n".join(hdr) + "\n\n").encode() + body
    fl = set()
    if folder == "store/Drafts": fl.add("D")
    elif sent or r.random() < 0.7: fl.add("S")
    if r.random() < 0.05: fl.add("F")
    if r.random() < 0.10: fl.add("R")
    if r.random() < 0.03: fl.add("a")              # keyword 0 = $Forwarded
    return data, "".join(sorted(fl, key=lambda c: (c.islower(), c)))


def main():
    ap = argparse.ArgumentParser(description="Write a deterministic Gmail-shaped Maildir tree.")
    ap.add_argument("root", help="the user's mail home (folders main/... and store/... go below it)")
    ap.add_argument("n", type=int, help="number of messages in All Mail")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--extra", type=int, default=300, help="messages in Spam and Trash (default 300)")
    a = ap.parse_args(); r = random.Random(a.seed)
    plan, left = [], a.n
    for f, share in FOLDERS:
        k = left if share is None else int(a.n * share); plan.append((f, k)); left -= k
    plan += [(f, int(a.extra * s)) for f, s in EXTRA]
    t0, total, i = time.time(), 0, 0
    # UTC, so that the dates do not depend on the machine's time zone
    start, end = calendar.timegm((2010, 1, 1, 0, 0, 0)), calendar.timegm((2024, 12, 31, 0, 0, 0))
    for folder, k in plan:
        d = os.path.join(a.root, folder)
        for sub in ("cur", "new", "tmp"): os.makedirs(os.path.join(d, sub), exist_ok=True)
        with open(os.path.join(d, "dovecot-keywords"), "w") as kw: kw.write("0 $Forwarded\n")
        for j in range(k):
            i += 1; date = r.uniform(start, end)
            data, fl = message(r, i, folder, date)
            # P<seed> in place of a process id keeps the file names reproducible
            p = os.path.join(d, "cur", f"{int(date)}.M{j}P{a.seed}Q{i}.gen,S={len(data)}:2,{fl}")
            with open(p, "wb") as fh: fh.write(data)
            os.utime(p, (date, date)); total += len(data)
    print(f"wrote {i} messages, {total/1e6:.1f} MB, in {time.time()-t0:.2f} s")


if __name__ == "__main__": main()
