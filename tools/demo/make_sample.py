#!/usr/bin/env python3
"""Writes the demo's sample account for the fake servers (standard library only).

Usage: make_sample.py OUTDIR [--messages N]     (prints the account's address)

OUTDIR/google.json  scenario of tools/fake-google: the account, with every scope granted, and its
                    Drive files and folders, contacts and groups, calendars and task lists
OUTDIR/imap.json    scenario of tools/fake-imap: the same account and its mailbox
OUTDIR/mail/        the mailbox, written by tools/imap-peer/gen_mailbox.py (several labels,
                    Sent, Drafts, Spam, Trash)

The access token is fixed and shared by both scenarios, so a client can be given it before it
signs in (a sign-in through the consent page gets fresh tokens from the fake Google server).
"""
import argparse
import json
import os
import shutil
import subprocess
import sys

ADDRESS = "demo@example.com"
PASSWORD = "demo"
ACCESS_TOKEN = "ya29.demo-sample-account"
REFRESH_TOKEN = "1//demo-sample-account"
HERE = os.path.dirname(os.path.abspath(__file__))
GEN_MAILBOX = os.path.join(HERE, "..", "imap-peer", "gen_mailbox.py")


FOLDER = "application/vnd.google-apps.folder"


def person(given, family):
    """A contact's name as Google sends it."""
    return {"fullName": "%s %s" % (given, family), "givenName": given, "familyName": family}


# What the account holds besides its mail: Drive files in folders (with contents to download or
# export), contacts in groups (some with photos), two calendars with their events and two task lists.
SERVICE_DATA = {
    "docs": {"files": [
        {"id": "fo-projects", "title": "Projects", "mimeType": FOLDER, "parents": ["root"]},
        {"id": "fo-garden", "title": "Garden", "mimeType": FOLDER, "parents": ["fo-projects"]},
        {"id": "doc-plan", "title": "Planting plan", "mimeType": "application/vnd.google-apps.document",
         "parents": ["fo-garden"], "content": "Planting plan\r\nBeans in May, kale in July.\n"},
        {"id": "sheet-budget", "title": "Household budget",
         "mimeType": "application/vnd.google-apps.spreadsheet", "parents": ["root"],
         "content": "Rent,900\nFood,350\n"},
        {"id": "pdf-lease", "title": "Lease.pdf", "mimeType": "application/pdf", "parents": ["fo-projects"],
         "content": "%PDF-1.4\r\n% lease for the garden flat\n%%EOF\n"},
        {"id": "img-shed", "title": "shed.jpg", "mimeType": "image/jpeg", "parents": ["fo-garden"],
         "starred": True, "content": "\u00ff\u00d8\u00ff\u00e0 shed, seen from the gate\r\n"},
    ]},
    "contacts": {
        # "My Contacts" is Google's system group, whose id is always 6.
        "groups": [{"id": "6", "title": "System Group: My Contacts", "system": "Contacts"},
                   {"id": "g-family", "title": "Family"}, {"id": "g-work", "title": "Work"}],
        "contacts": [
            {"id": "c-ann", "title": "Ann Example", "name": person("Ann", "Example"), "email": "ann@example.org",
             "parents": ["6", "g-family"], "photo_etag": "photo-ann-1"},
            {"id": "c-bo", "title": "Bo Sample", "name": person("Bo", "Sample"), "email": "bo@example.net",
             "organization": "Sample Ltd", "parents": ["6", "g-work"]},
            {"id": "c-chloe", "title": "Chlo\u00e9 Test", "name": person("Chlo\u00e9", "Test"),
             "email": "chloe@example.com", "parents": ["6", "g-family"], "photo_etag": "photo-chloe-1"},
        ],
    },
    "calendar": {"calendars": [
        {"id": "demo@example.com", "summary": "demo@example.com", "primary": True, "timeZone": "Europe/London",
         "defaultReminders": [{"method": "popup", "minutes": 30}]},
        {"id": "family-cal@group.calendar.google.com", "summary": "Family", "timeZone": "Europe/Paris",
         "accessRole": "reader"},
    ],
        # A weekly series with one moved and one cancelled week, an all-day event with a reminder, and
        # an event in another zone than its calendar's.
        "events": [
            {"id": "ev-swim", "parents": ["demo@example.com"], "summary": "Swimming", "location": "Pool",
             "start": {"dateTime": "2026-01-05T18:00:00Z", "timeZone": "Europe/London"},
             "end": {"dateTime": "2026-01-05T19:00:00Z", "timeZone": "Europe/London"},
             "recurrence": ["RRULE:FREQ=WEEKLY;COUNT=10"], "reminders": {"useDefault": True}},
            {"id": "ev-swim_20260112T180000Z", "parents": ["demo@example.com"], "recurringEventId": "ev-swim",
             "summary": "Swimming (late)", "originalStartTime": {"dateTime": "2026-01-12T18:00:00Z"},
             "start": {"dateTime": "2026-01-12T19:30:00Z"}, "end": {"dateTime": "2026-01-12T20:30:00Z"}},
            {"id": "ev-swim_20260119T180000Z", "parents": ["demo@example.com"], "recurringEventId": "ev-swim",
             "status": "cancelled", "originalStartTime": {"dateTime": "2026-01-19T18:00:00Z"}},
            {"id": "ev-call", "parents": ["demo@example.com"], "summary": "Call with Bo",
             "start": {"dateTime": "2026-01-07T15:00:00Z", "timeZone": "America/New_York"},
             "end": {"dateTime": "2026-01-07T15:30:00Z", "timeZone": "America/New_York"},
             "attendees": [{"email": "bo@example.net", "displayName": "Bo Sample", "responseStatus": "accepted"}]},
            {"id": "ev-birthday", "parents": ["family-cal@group.calendar.google.com"], "summary": "Ann's birthday",
             "start": {"date": "2026-02-14"}, "end": {"date": "2026-02-15"},
             "reminders": {"useDefault": False, "overrides": [{"method": "popup", "minutes": 1440}]}},
        ]},
    # Two task lists, one with a nested and a completed task, one with a task that is due.
    "tasks": {"tasklists": [{"id": "tl-home", "title": "Home"}, {"id": "tl-errands", "title": "Errands"}],
              "tasks": [
                  {"id": "t-paint", "parents": ["tl-home"], "title": "Paint the shed", "position": "00000000000000000001",
                   "notes": "Green, like the gate."},
                  {"id": "t-brushes", "parents": ["tl-home"], "parent": "t-paint", "title": "Buy brushes",
                   "position": "00000000000000000000"},
                  {"id": "t-gutter", "parents": ["tl-home"], "title": "Clear the gutter", "position": "00000000000000000002",
                   "status": "completed", "completed": "2026-01-03T10:00:00.000Z"},
                  {"id": "t-post", "parents": ["tl-errands"], "title": "Post the lease", "position": "00000000000000000000",
                   "due": "2026-02-01T00:00:00.000Z"},
              ]},
}


def write_json(path, value):
    with open(path, "w", encoding="utf-8") as f:
        json.dump(value, f, indent=2)
        f.write("\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("outdir")
    parser.add_argument("--messages", type=int, default=400, help="messages in All Mail (default 400)")
    args = parser.parse_args()

    os.makedirs(args.outdir, exist_ok=True)
    mail = os.path.join(args.outdir, "mail")
    # The generator adds to what it finds, so it writes a fresh folder that replaces the old one
    # only when complete.
    partial = mail + ".partial"
    shutil.rmtree(partial, ignore_errors=True)
    subprocess.run([sys.executable, GEN_MAILBOX, partial, str(args.messages), "--extra", "30",
                    "--address", ADDRESS], check=True, stdout=subprocess.DEVNULL)
    shutil.rmtree(mail, ignore_errors=True)
    os.rename(partial, mail)

    write_json(os.path.join(args.outdir, "google.json"), {
        "accounts": [{"email": ADDRESS, "access_token": ACCESS_TOKEN, "refresh_token": REFRESH_TOKEN}],
        "lists": {"data": {ADDRESS: SERVICE_DATA}},
    })
    write_json(os.path.join(args.outdir, "imap.json"), {
        "accounts": [{"user": ADDRESS, "tokens": [ACCESS_TOKEN], "password": PASSWORD,
                      "mailbox": {"maildir": "mail"}}],
    })
    print(ADDRESS)


if __name__ == "__main__":
    main()
