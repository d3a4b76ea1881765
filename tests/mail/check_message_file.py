#!/usr/bin/env python3
"""Checks a backed-up message file against the message as the server sent it.

    check_message_file.py MESSAGE_FILE SERVER_BYTES FLAGS

The file must be: a count line ("%-10d\\n"), exactly that many bytes of the
message (the server's bytes with CR LF turned into LF, nothing else changed),
then an XML property list whose "date-sent", "flags" and "subject" agree with
what Python's own mail parser reads from the server's bytes. Prints what
differs and exits 1, or exits 0.
"""
import email
import email.policy
import email.utils
import plistlib
import sys


def problems_of(data, raw, flags):
    """What differs between the message file DATA and the server's bytes RAW with flag word FLAGS."""
    problems = []

    line_end = data.find(b'\n')
    count_field = data[:line_end]
    if len(count_field) < 10 or count_field.rstrip(b' ') != count_field.strip() or not count_field.strip().isdigit():
        problems.append('count line %r is not "%%-10d"' % count_field)
        count = -1
    else:
        count = int(count_field)
    body = data[line_end + 1:line_end + 1 + count] if count >= 0 else b''
    expected = raw.replace(b'\r\n', b'\n')
    if count != len(expected):
        problems.append('count %d, message has %d bytes' % (count, len(expected)))
    if body != expected:
        problems.append('message bytes differ from the server\'s')

    try:
        plist = plistlib.loads(data[line_end + 1 + max(count, 0):], fmt=plistlib.FMT_XML)
    except Exception as e:  # noqa: BLE001 - any failure is the finding
        return problems + ['property list unreadable: %s' % e]

    message = email.message_from_bytes(raw, policy=email.policy.default)
    date = message['Date']
    date_sent = email.utils.parsedate_to_datetime(str(date)).timestamp() if date else 0.0
    if not isinstance(plist.get('date-sent'), float) or abs(plist['date-sent'] - date_sent) > 0.001:
        problems.append('date-sent %r, expected %r' % (plist.get('date-sent'), date_sent))
    if plist.get('flags') != flags:
        problems.append('flags %r, expected %r' % (plist.get('flags'), flags))
    subject = message['Subject']
    if subject is None:
        if 'subject' in plist:
            problems.append('subject %r for a message without one' % plist['subject'])
    elif plist.get('subject') != str(subject):
        problems.append('subject %r, expected %r' % (plist.get('subject'), str(subject)))
    return problems


def main():
    path, raw_path, flags = sys.argv[1], sys.argv[2], int(sys.argv[3])
    with open(path, 'rb') as f:
        data = f.read()
    with open(raw_path, 'rb') as f:
        raw = f.read()
    problems = problems_of(data, raw, flags)
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
