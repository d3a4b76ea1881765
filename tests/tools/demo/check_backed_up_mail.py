#!/usr/bin/env python3
"""Checks a backed-up Gmail folder against the fake Gmail server's All Mail.

    check_backed_up_mail.py MAIL_DIR CA_FILE IMAP_PORT ADDRESS ACCESS_TOKEN

Logs in to the server on 127.0.0.1 (XOAUTH2, TLS checked against CA_FILE), reads every All Mail
message's UID, flags and bytes, and checks every message file under MAIL_DIR (named
"..._<UIDVALIDITY>-<UID>_<UUID>.emlx") with tests/mail/check_message_file.py's checks against the
server's bytes and flags. Prints a JSON object: "server_messages" (All Mail's count),
"files" (message files found) and "problems" (one line each: a message without a file, a file of
no All Mail message, two files of one message, or what the checker found wrong in a file).
"""
import imaplib
import json
import os
import re
import ssl
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'mail'))
import check_message_file  # noqa: E402

ALL_MAIL = '"[Gmail]/All Mail"'
FILE_NAME = re.compile(r'_(\d+)-(\d+)_[0-9A-Fa-f-]+\.emlx$')
# IMAP flags and the message file's flag word (Read, Answered, Flagged, Forwarded).
FLAG_BITS = {b'\\Seen': 1, b'\\Answered': 4, b'\\Flagged': 16, b'$Forwarded': 256}
FETCH_ITEM = re.compile(rb'UID (\d+)|FLAGS \(([^)]*)\)')


def server_messages(port, address, token, ca_file):
    """{uid: (bytes, flag word)} of All Mail, and its UIDVALIDITY."""
    context = ssl.create_default_context(cafile=ca_file)
    imap = imaplib.IMAP4_SSL('127.0.0.1', port, ssl_context=context)
    imap.authenticate('XOAUTH2', lambda _: ('user=%s\x01auth=Bearer %s\x01\x01' % (address, token)).encode())
    imap.select(ALL_MAIL, readonly=True)
    uidvalidity = int(imap.response('UIDVALIDITY')[1][0])
    status, data = imap.uid('FETCH', '1:*', '(UID FLAGS BODY.PEEK[])')
    if status != 'OK':
        raise RuntimeError('UID FETCH failed: %r' % data)
    messages = {}
    for part in data:
        if not isinstance(part, tuple):
            continue
        uid, flags = None, 0
        for match in FETCH_ITEM.finditer(part[0]):
            if match.group(1):
                uid = int(match.group(1))
            else:
                flags = sum(FLAG_BITS.get(flag, 0) for flag in match.group(2).split())
        messages[uid] = (part[1], flags)
    imap.logout()
    return messages, uidvalidity


def main():
    mail_dir, ca_file, port, address, token = sys.argv[1:6]
    messages, uidvalidity = server_messages(int(port), address, token, ca_file)
    problems, seen, files = [], {}, 0
    for dirpath, _, names in os.walk(mail_dir):
        for name in sorted(names):
            if not name.endswith('.emlx'):
                continue
            files += 1
            path = os.path.join(dirpath, name)
            match = FILE_NAME.search(name)
            uid = int(match.group(2)) if match and int(match.group(1)) == uidvalidity else None
            if uid not in messages:
                problems.append('%s: no All Mail message of that UID' % path)
                continue
            if uid in seen:
                problems.append('%s: a second file of UID %d (first %s)' % (path, uid, seen[uid]))
                continue
            seen[uid] = path
            with open(path, 'rb') as f:
                data = f.read()
            raw, flags = messages[uid]
            problems += ['%s: %s' % (path, p) for p in check_message_file.problems_of(data, raw, flags)]
    problems += ['UID %d: no message file' % uid for uid in sorted(set(messages) - set(seen))]
    json.dump({'server_messages': len(messages), 'files': files, 'problems': problems}, sys.stdout)
    return 0


if __name__ == '__main__':
    sys.exit(main())
