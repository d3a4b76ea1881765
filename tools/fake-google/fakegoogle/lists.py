"""The items that the list endpoints serve: per account, service and collection, loaded from a
scenario's "lists" and changed by its scripted runs (see README.md)."""
import copy
import datetime
import threading

CHANGE_KINDS = ("add", "change", "move", "trash", "delete")
FIRST_CHANGE_ID = 1000
RUN_ZERO = datetime.datetime(2026, 1, 1, 12, 0, 0, tzinfo=datetime.timezone.utc)


def run_time(run):
    """The modification time the fake gives an item added or changed in that run: noon of
    1 January 2026 for the start-up data, one day later for each run after it."""
    return (RUN_ZERO + datetime.timedelta(days=run)).strftime("%Y-%m-%dT%H:%M:%S.000Z")


class Record:
    """One item as it stands: the scenario's fields, how often it changed, the run of its last
    change, the Drive-style change id of that change, and whether it is trashed or deleted."""

    def __init__(self, fields, run, change_id):
        self.fields = dict(fields)
        self.version = 1
        self.run = run
        self.change_id = change_id
        self.trashed = bool(self.fields.pop("trashed", False))
        self.deleted = False

    @property
    def id(self):
        return self.fields["id"]

    @property
    def modified(self):
        return self.fields.get("modified") or run_time(self.run)

    @property
    def parents(self):
        return list(self.fields.get("parents", []))

    def touch(self, run, change_id):
        self.version += 1
        self.run = run
        self.change_id = change_id


class ListStore:
    """Thread-safe. A change replaces a record instead of altering it, so the records a reader
    got stay as they were while an answer is built from them."""

    def __init__(self):
        self.lock = threading.Lock()
        self.load({})

    def load(self, spec):
        with self.lock:
            self.page_size = int(spec.get("page_size", 0)) or None
            self.runs = list(spec.get("runs", []))
            self.run = 0
            self.collections = {}    # (e-mail, service, collection) -> [Record], live and deleted
            self.change_ids = {}     # (e-mail, service) -> largest change id given out
            for email, services in spec.get("data", {}).items():
                for service, collections in services.items():
                    for name, items in collections.items():
                        for item in items:
                            self._add(email, service, name, item)

    def next_run(self):
        """Applies the scenario's next run; the number of runs applied so far."""
        with self.lock:
            if self.run >= len(self.runs):
                raise ValueError("the scenario has no run %d" % (self.run + 1))
            changes = self.runs[self.run]
            self.run += 1
            for email, services in changes.items():
                for service, collections in services.items():
                    for name, change in collections.items():
                        self._apply(email, service, name, change)
            return self.run

    def items(self, email, service, collection, include_deleted=False):
        """The collection's records in their order; deleted ones only when asked."""
        with self.lock:
            records = self.collections.get((email.lower(), service, collection), [])
            return [r for r in records if include_deleted or not r.deleted]

    def largest_change_id(self, email, service):
        with self.lock:
            return self.change_ids.get((email.lower(), service), FIRST_CHANGE_ID)

    def page_size_for(self, requested, default, maximum):
        """The page size for a request: what it asks for (else the endpoint's default), at most
        the endpoint's maximum and the scenario's "page_size"."""
        size = max(1, min(requested or default, maximum))
        return min(size, self.page_size) if self.page_size else size

    # Changes; the lock is held by the callers.

    def _next_change_id(self, email, service):
        key = (email.lower(), service)
        self.change_ids[key] = self.change_ids.get(key, FIRST_CHANGE_ID) + 1
        return self.change_ids[key]

    def _records(self, email, service, collection):
        return self.collections.setdefault((email.lower(), service, collection), [])

    def _replace(self, email, service, collection, item_id, change):
        """Replaces the live record of that id with a changed copy: change(copy) alters it."""
        records = self._records(email, service, collection)
        for index, record in enumerate(records):
            if record.id == item_id and not record.deleted:
                changed = copy.copy(record)
                changed.fields = dict(record.fields)
                change(changed)
                changed.touch(self.run, self._next_change_id(email, service))
                records[index] = changed
                return
        raise ValueError("%s/%s/%s has no item %r" % (email, service, collection, item_id))

    def _add(self, email, service, collection, item):
        if not isinstance(item, dict) or not item.get("id"):
            raise ValueError("a list item needs an \"id\"")
        records = self._records(email, service, collection)
        # An item that comes back after its deletion is a new item under the old id.
        records[:] = [r for r in records if r.id != item["id"] or not r.deleted]
        if any(r.id == item["id"] for r in records):
            raise ValueError("%s/%s/%s already has an item %r" % (email, service, collection, item["id"]))
        records.append(Record(item, self.run, self._next_change_id(email, service)))

    def _apply(self, email, service, collection, change):
        unknown = set(change) - set(CHANGE_KINDS)
        if unknown:
            raise ValueError("unknown change kinds: %s" % ", ".join(sorted(unknown)))
        for item in change.get("add", []):
            self._add(email, service, collection, item)
        for item in change.get("change", []) + change.get("move", []):
            self._replace(email, service, collection, item["id"], lambda r, fields=dict(item): merge(r, fields))
        for item_id in change.get("trash", []):
            self._replace(email, service, collection, item_id, lambda r: setattr(r, "trashed", True))
        for item_id in change.get("delete", []):
            self._replace(email, service, collection, item_id, lambda r: setattr(r, "deleted", True))


def merge(record, fields):
    if "trashed" in fields:
        record.trashed = bool(fields.pop("trashed"))
    record.fields.update(fields)
