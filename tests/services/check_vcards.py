#!/usr/bin/python3
"""Reads every vCard in a folder with vobject, an independent reader, and
compares each card field by field with the expected table.

usage: check_vcards.py CARD_FOLDER FIXTURE_FOLDER
       check_vcards.py --serve
The second form (for the card writer's fuzzer) reads card paths from standard
input, one a line, and answers each on one line: "ok" when the reader takes it
as one card with CR LF line ends, else the problems.
The fixture folder holds addressbook.expected.json: for each card (file name
without ".vcf") its properties in card order, each as
{"name", "value", optional "params", optional "label"}; a photo's value names
the fixture file whose bytes it must hold.
"""

import json
import os
import sys

import vobject


def text(value):
    return "\n".join(value) if isinstance(value, list) else value


def canonical_value(prop, fixture_folder):
    value = prop.value
    if prop.name == "N":
        return [text(value.family), text(value.given), text(value.additional), text(value.prefix), text(value.suffix)]
    if prop.name == "ADR":
        return [text(value.box), text(value.extended), text(value.street), text(value.city), text(value.region),
                text(value.code), text(value.country)]
    if prop.name == "ORG":
        return list(value)
    if isinstance(value, bytes):
        for name in sorted(os.listdir(fixture_folder)):
            path = os.path.join(fixture_folder, name)
            if os.path.isfile(path) and open(path, "rb").read() == value:
                return {"file": name}
        return {"bytes": value.hex()}
    return value


def canonical_card(path, fixture_folder):
    raw = open(path, "rb").read()
    problems = []
    if b"\r\n" not in raw or raw.replace(b"\r\n", b"").find(b"\n") >= 0 or raw.replace(b"\r\n", b"").find(b"\r") >= 0:
        problems.append("line ends other than CR LF")
    cards = list(vobject.readComponents(raw.decode("utf-8")))
    if len(cards) != 1:
        problems.append("%d cards in one file" % len(cards))
        return None, problems
    card = cards[0]
    labels = {}
    for prop in card.getChildren():
        if prop.name == "X-ABLABEL" and prop.group:
            labels[prop.group] = prop.value
    fields = []
    for prop in card.getChildren():
        if prop.name == "VERSION" or (prop.name == "X-ABLABEL" and prop.group):
            continue
        field = {"name": prop.name, "value": canonical_value(prop, fixture_folder)}
        params = {key: sorted(values) for key, values in prop.params.items()}
        if params:
            field["params"] = params
        if prop.group:
            field["label"] = labels.get(prop.group)
        fields.append(field)
    return fields, problems


def serve():
    for line in sys.stdin:
        path = line.rstrip("\n")
        try:
            fields, problems = canonical_card(path, os.path.dirname(path))
        except Exception as e:  # a reader that refuses the card is the finding
            problems = ["%s: %s" % (type(e).__name__, e)]
        print("ok" if not problems else " / ".join(problems).replace("\n", " "), flush=True)
    return 0


def main():
    if sys.argv[1:] == ["--serve"]:
        return serve()
    card_folder, fixture_folder = sys.argv[1], sys.argv[2]
    expected = json.load(open(os.path.join(fixture_folder, "addressbook.expected.json"), encoding="utf-8"))
    written = sorted(name[:-4] for name in os.listdir(card_folder) if name.endswith(".vcf"))
    failures = []
    if written != sorted(expected):
        failures.append("cards written %s, expected %s" % (written, sorted(expected)))
    actual_all = {}
    for name in written:
        fields, problems = canonical_card(os.path.join(card_folder, name + ".vcf"), fixture_folder)
        actual_all[name] = fields
        failures += ["%s: %s" % (name, problem) for problem in problems]
        want = expected.get(name)
        if fields is None or want is None:
            continue
        for i in range(max(len(fields), len(want))):
            got = fields[i] if i < len(fields) else None
            exp = want[i] if i < len(want) else None
            if got != exp:
                failures.append("%s field %d:\n  read     %s\n  expected %s" % (
                    name, i, json.dumps(got, ensure_ascii=False), json.dumps(exp, ensure_ascii=False)))
    if os.environ.get("CHECK_VCARDS_DUMP"):
        print(json.dumps(actual_all, ensure_ascii=False, indent=1))
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
