#!/usr/bin/env python3
"""Checks the service table resource with an independent property-list reader.

Usage: check_config_plist.py Config.plist
Prints one line per problem and exits 1 when there is any, 0 otherwise.
"""
import plistlib
import re
import sys
from urllib.parse import urlsplit

SERVICE_IDS = ["mail", "docs", "contacts", "calendar", "tasks", "reader", "picasaweb"]
# Services that the generic listing serves alone, with no delegate and no diagnostics.
PLAIN_SERVICES = {"tasks"}
GOOGLE_HOSTS = {"www.googleapis.com", "www.google.com", "picasaweb.google.com", "mail.google.com", "docs.google.com"}
# Folders the program keeps, or removes at launch, in the data folder; a list folder must not be one of them.
RESERVED_DATA_NAMES = {"TidewellData.sqlite3", "Auxiliary Stores", "Store Backups", "backups", "calendarevents",
                       "oauthuserfiles", "backuplocation.bookmarkfile", "doclistxml", "readerlistxml",
                       "calendarlistxml", "Logs"}
# Document types that the parsers, the mail backup and the restore code create or look for.
DOC_TYPES = ["message", "imapfolder", "folder", "document", "spreadsheet", "presentation", "drawing", "form",
             "file", "contact", "group", "calendarmeta", "tasklist", "subscription", "bookmark", "readertag",
             "articletag", "album", "photo", "comment", "tag"]
MAIL_FLAGS = ["Inbox", "Sent", "Drafts", "AllMail", "Spam", "Starred", "Trash"]
CLASS_KEYS = ["BackupOperationClass", "serviceDelegateClass", "exportOperationClass",
              "restoreQueueOperationClass", "preflightClass", "diagnosticClass"]
CLASS_NAME = re.compile(r"^TDW[A-Z][A-Za-z]+$")

problems = []


def problem(text):
    problems.append(text)


def expect_type(where, value, kind):
    # plistlib reads <true/> as bool, which is also an int in Python: keep them apart.
    ok = isinstance(value, kind) and not (kind is int and isinstance(value, bool))
    if not ok:
        problem(f"{where}: expected {kind.__name__}, found {type(value).__name__}")
    return ok


def check_url(where, url, templates=()):
    if not expect_type(where, url, str):
        return
    parts = urlsplit(url.replace("${", "").replace("}", ""))
    if parts.scheme != "https" or parts.hostname not in GOOGLE_HOSTS:
        problem(f"{where}: {url} is not an https URL on a Google host")
    for template in re.findall(r"\$\{[^}]*\}", url):
        if template not in templates:
            problem(f"{where}: unknown template {template}")


def check_url_list(where, entries, templates=()):
    if not expect_type(where, entries, list) or not entries:
        problem(f"{where}: needs at least one entry")
        return
    for n, entry in enumerate(entries):
        if not expect_type(f"{where}[{n}]", entry, dict):
            continue
        check_url(f"{where}[{n}].url", entry.get("url"), templates)
        if not CLASS_NAME.match(str(entry.get("parserClass", ""))):
            problem(f"{where}[{n}]: parserClass missing or not a class name")


def check_services(services):
    ids = [s.get("id") for s in services if isinstance(s, dict)]
    if sorted(ids) != sorted(SERVICE_IDS) or len(ids) != len(services):
        problem(f"services: ids {ids} are not the seven services, each once")
    for key in ("itemdir", "listdir"):
        names = [s.get(key) for s in services if isinstance(s, dict)]
        if len(set(names)) != len(names):
            problem(f"services: {key} values are not unique: {names}")
    for s in services:
        if not expect_type("services[]", s, dict):
            continue
        sid = s.get("id")
        where = f"services[{sid}]"
        for key in ("id", "serviceLabel", "serviceLabelLong", "itemName", "itemNamePlural",
                    "itemNamePluralNoService", "listOfItemsLabel", "oauthScope", "itemdir", "listdir",
                    "BackupOperationClass", "preflightClass", "restoreQueueOperationClass"):
            if key not in s:
                problem(f"{where}: missing {key}")
            elif expect_type(f"{where}.{key}", s[key], str) and not s[key]:
                problem(f"{where}.{key}: empty")
        expect_type(f"{where}.serviceDisabled", s.get("serviceDisabled"), bool)
        for key in ("itemdir", "listdir"):
            name = s.get(key, "")
            if "/" in name or name in (".", "..") or name.startswith("."):
                problem(f"{where}.{key}: {name!r} is not a plain folder name")
        if s.get("listdir") in RESERVED_DATA_NAMES:
            problem(f"{where}.listdir: {s.get('listdir')!r} is a name the program uses for something else")
        # The hosts of content links receive the account's token: Google's own, over https.
        if "contentHosts" in s and expect_type(f"{where}.contentHosts", s["contentHosts"], list):
            for n, url in enumerate(s["contentHosts"]):
                check_url(f"{where}.contentHosts[{n}]", url)
        for key in CLASS_KEYS:
            if key in s and not CLASS_NAME.match(str(s[key])):
                problem(f"{where}.{key}: {s[key]!r} is not a class name")
        if sid == "mail":
            expect_type(f"{where}.imapHost", s.get("imapHost"), str)
            expect_type(f"{where}.imapPort", s.get("imapPort"), int)
            continue
        # Every HTTP service lists, is checked before saving and is backed up by the API operation.
        for key in ("serviceDelegateClass", "diagnosticClass"):
            if key not in s and sid not in PLAIN_SERVICES:
                problem(f"{where}: missing {key}")
        expect_type(f"{where}.altRetrievalMethod", s.get("altRetrievalMethod"), bool)
        check_url(f"{where}.preflighturl", s.get("preflighturl"))
        check_url_list(f"{where}.listurls", s.get("listurls"), ("${includeQuery}",) if sid == "docs" else ())
        if "gdataversion" in s:
            expect_type(f"{where}.gdataversion", s["gdataversion"], str)
        if "folderType" in s:
            expect_type(f"{where}.folderType", s["folderType"], str)
        if "changeUrls" in s or "maxChangeIdUrl" in s:
            check_url_list(f"{where}.changeUrls", s.get("changeUrls"), ("${startChangeId}",))
            check_url(f"{where}.maxChangeIdUrl", s.get("maxChangeIdUrl"))
            if not all("${startChangeId}" in u.get("url", "") for u in s.get("changeUrls", []) if isinstance(u, dict)):
                problem(f"{where}.changeUrls: every change URL needs ${{startChangeId}}")
        # Reader pages continue by appending "&c=" to the configured URL, so it must carry a query.
        if sid == "reader":
            for u in s.get("listurls", []):
                if "?" not in u.get("url", ""):
                    problem(f"{where}.listurls: {u.get('url')} has no query for the continuation")
        # Downloads are queued for every API service but Reader, whose files its delegate writes.
        if sid != "reader" and "exportOperationClass" not in s:
            problem(f"{where}: missing exportOperationClass")


def check_doctypes(doctypes, exporttypes):
    ids = [d.get("id") for d in doctypes if isinstance(d, dict)]
    if len(set(ids)) != len(ids):
        problem(f"doctypes: ids are not unique: {ids}")
    for needed in DOC_TYPES:
        if needed not in ids:
            problem(f"doctypes: {needed} is missing")
    mimes = [d["googleMimeType"] for d in doctypes if isinstance(d, dict) and "googleMimeType" in d]
    if len(set(mimes)) != len(mimes):
        problem("doctypes: a googleMimeType is used twice")
    for d in doctypes:
        if not expect_type("doctypes[]", d, dict):
            continue
        where = f"doctypes[{d.get('id')}]"
        expect_type(f"{where}.id", d.get("id"), str)
        expect_type(f"{where}.label", d.get("label"), str)
        expect_type(f"{where}.isGrouping", d.get("isGrouping"), bool)
        expect_type(f"{where}.showRevs", d.get("showRevs"), bool)
        for key in ("googleMimeType", "exportLink"):
            if key in d:
                expect_type(f"{where}.{key}", d[key], str)
        exports = d.get("exports")
        if exports is None:
            if "exportLink" in d:
                problem(f"{where}: has an exportLink but no exports")
            continue
        if not expect_type(f"{where}.exports", exports, dict):
            continue
        if d.get("isGrouping"):
            problem(f"{where}: a grouping has no file to export")
        # A revision takes one export; with several its suffix would not follow the downloaded format.
        if len(exports) != 1:
            problem(f"{where}.exports: needs exactly one export, found {len(exports)}")
        for export_type, settings in exports.items():
            if export_type not in exporttypes:
                problem(f"{where}.exports: {export_type} is not in exporttypes")
            if not expect_type(f"{where}.exports.{export_type}", settings, dict):
                continue
            suffix = settings.get("suffix")
            if expect_type(f"{where}.exports.{export_type}.suffix", suffix, str) and \
                    not re.fullmatch(r"[a-z0-9]+", suffix):
                problem(f"{where}.exports.{export_type}.suffix: {suffix!r} is not a plain extension")


def check_mail_labels(labels):
    flags = [l.get("flag") for l in labels if isinstance(l, dict)]
    if sorted(flags) != sorted(MAIL_FLAGS) or len(flags) != len(labels):
        problem(f"specialmaillabels: flags {flags} are not the seven folder flags, each once")
    for l in labels:
        if not expect_type("specialmaillabels[]", l, dict):
            continue
        where = f"specialmaillabels[{l.get('flag')}]"
        expect_type(f"{where}.label", l.get("label"), str)
        expect_type(f"{where}.folderType", l.get("folderType"), int)
        expect_type(f"{where}.forced", l.get("forced"), bool)
        expect_type(f"{where}.required", l.get("required"), bool)
    by_flag = {l.get("flag"): l for l in labels if isinstance(l, dict)}
    # The mail code gives these folder types fixed meanings; All Mail is where every message is read.
    for flag, folder_type in (("Inbox", 2), ("Sent", 3), ("Drafts", 4), ("AllMail", 5)):
        if by_flag.get(flag, {}).get("folderType") != folder_type:
            problem(f"specialmaillabels[{flag}]: folderType must be {folder_type}")
    if not by_flag.get("AllMail", {}).get("required"):
        problem("specialmaillabels[AllMail]: must be required")


def check_throttle(levels):
    if "moderate" not in levels:
        problem("throttlelevels: the default level moderate is missing")
    tags = []
    for name, level in levels.items():
        where = f"throttlelevels[{name}]"
        if not expect_type(where, level, dict):
            continue
        for key in ("menutag", "mailretrievalthreads", "messagesperiteration"):
            expect_type(f"{where}.{key}", level.get(key), int)
        tags.append(level.get("menutag"))
        if isinstance(level.get("mailretrievalthreads"), int) and level["mailretrievalthreads"] < 1:
            problem(f"{where}.mailretrievalthreads: needs at least one session")
        per = level.get("messagesperiteration")
        if isinstance(per, int) and per != -1 and per < 1:
            problem(f"{where}.messagesperiteration: must be -1 (no limit) or positive")
    if len(set(tags)) != len(tags):
        problem(f"throttlelevels: menutag values are not unique: {tags}")


def check_vcard_tables(config):
    for key in ("ContactRelMappings", "ImAccountMappings", "ContactRelations"):
        table = config.get(key)
        if expect_type(key, table, dict):
            for k, v in table.items():
                expect_type(f"{key}[{k}]", v, str)
    months = config.get("Months")
    if expect_type("Months", months, list):
        # Indexed by the month's own number, 1 to 12.
        if len(months) != 13 or not all(isinstance(m, str) and m for m in months[1:]):
            problem("Months: needs 13 strings with names at indexes 1 to 12")


def main(path):
    try:
        with open(path, "rb") as f:
            config = plistlib.load(f)
    except Exception as exc:  # any reader failure is the finding
        print(f"unreadable: {exc}")
        return 1
    if not isinstance(config, dict):
        print("root is not a dictionary")
        return 1
    for key, kind in (("services", list), ("doctypes", list), ("specialmaillabels", list),
                      ("throttlelevels", dict), ("exporttypes", dict)):
        expect_type(key, config.get(key), kind)
    exporttypes = config.get("exporttypes") if isinstance(config.get("exporttypes"), dict) else {}
    for name, settings in exporttypes.items():
        if expect_type(f"exporttypes[{name}]", settings, dict):
            expect_type(f"exporttypes[{name}].description", settings.get("description"), str)
            expect_type(f"exporttypes[{name}].webzip", settings.get("webzip"), bool)
    if isinstance(config.get("services"), list):
        check_services(config["services"])
    if isinstance(config.get("doctypes"), list):
        check_doctypes(config["doctypes"], exporttypes)
    if isinstance(config.get("specialmaillabels"), list):
        check_mail_labels(config["specialmaillabels"])
    if isinstance(config.get("throttlelevels"), dict):
        check_throttle(config["throttlelevels"])
    check_vcard_tables(config)
    for line in problems:
        print(line)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
