#!/usr/bin/python3
"""Reads an iCalendar file with vobject, an independent reader, and prints its
to-do components as JSON: one object per VTODO with its properties' values
(dates in ISO form), in file order. Exits non-zero when the file is not one
calendar."""

import json
import sys

import vobject


def main():
    raw = open(sys.argv[1], "rb").read()
    calendars = list(vobject.readComponents(raw.decode("utf-8")))
    if len(calendars) != 1:
        print("%d calendars in one file" % len(calendars))
        return 1
    todos = []
    for todo in calendars[0].components():
        fields = {"component": todo.name}
        for prop in todo.getChildren():
            value = prop.value
            fields[prop.name] = value.isoformat() if hasattr(value, "isoformat") else value
        todos.append(fields)
    print(json.dumps({"PRODID": calendars[0].prodid.value, "todos": todos}, ensure_ascii=False, sort_keys=True))
    return 0


if __name__ == "__main__":
    sys.exit(main())
