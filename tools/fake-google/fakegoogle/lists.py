"""The items that the list endpoints serve: per account, service and collection, loaded from a
scenario's "lists" and changed by its scripted runs (see README.md)."""
import copy
import datetime
import threading
import time

CHANGE_KINDS = ("add", "change", "move", "trash", "delete")
FIRST_CHANGE_ID = 1000
RUN_ZERO = datetime.datetime(2026, 1, 1, 12, 0, 0, tzinfo=datetime.timezone.utc)


def run_time(run):
    """The modification time the fake gives an item added or changed in that run: noon of
    1 January 2026 for the start-up data, one day later for each run after it."""
    return (RUN_ZERO + datetime.timedelta(days=run)).strftime("%Y-%m-%dT%H:%M:%S.000Z")


class Record:
    """One item as it stands: the scenario's fields, the run of its last change, the
    Drive-style change id of that change (counted per account and service for every service),
    the wall-clock time of that change (for filters by real time, as Calendar's updatedMin),
    and whether it is trashed or deleted."""

    def __init__(self, fields, run, change_id):
        self.fields = dict(fields)
        self.run = run
        self.change_id = change_id
        self.trashed = bool(self.fields.pop("trashed", False))
        self.deleted = False
        self.changed_at = time.time()

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
        self.run = run
        self.change_id = change_id
        self.changed_at = time.time()


class Collection:
    """One list's records in order, deleted ones kept for Drive's change list, with an index of
    the live ones by id."""

    def __init__(self):
        self.records = []
        self.live = {}            # id -> position of the live record
        self.deleted = set()      # ids of the deleted records

    def __copy__(self):
        """A copy whose changes leave this one as it is (records are never altered)."""
        other = Collection()
        other.records, other.live, other.deleted = list(self.records), dict(self.live), set(self.deleted)
        return other

    def add(self, record):
        if record.id in self.live:
            raise ValueError("there is already an item %r" % record.id)
        if record.id in self.deleted:
            # An item that comes back after its deletion is a new item under the old id.
            self.deleted.discard(record.id)
            self.records = [r for r in self.records if r.id != record.id]
            self.live = {r.id: n for n, r in enumerate(self.records) if not r.deleted}
        self.live[record.id] = len(self.records)
        self.records.append(record)

    def replace(self, item_id, record):
        if item_id not in self.live:
            raise ValueError("there is no item %r" % item_id)
        position = self.live[item_id]
        self.records[position] = record
        if record.deleted:
            del self.live[item_id]
            self.deleted.add(item_id)

    def live_record(self, item_id):
        if item_id not in self.live:
            raise ValueError("there is no item %r" % item_id)
        return self.records[self.live[item_id]]


class ListStore:
    """Thread-safe. A change replaces a record instead of altering it, so the records a reader
    got stay as they were while an answer is built from them."""

    def __init__(self):
        self.lock = threading.Lock()
        self.version = 0
        self.load({})

    def load(self, spec):
        with self.lock:
            self.page_size = int(spec.get("page_size", 0)) or None
            self.runs = list(spec.get("runs", []))
            self.run = 0
            self.collections = {}    # (e-mail, service, collection) -> Collection
            self.version += 1
            self.change_ids = {}     # (e-mail, service) -> largest change id given out
            for email, services in spec.get("data", {}).items():
                for service, collections in services.items():
                    for name, items in collections.items():
                        for item in items:
                            self._add(email, service, name, item)

    def next_run(self):
        """Applies the scenario's next run, all of it or (on a bad change) nothing; the number
        of runs applied so far."""
        with self.lock:
            if self.run >= len(self.runs):
                raise ValueError("the scenario has no run %d" % (self.run + 1))
            saved = ({k: copy.copy(c) for k, c in self.collections.items()}, dict(self.change_ids))
            self.run += 1
            self.version += 1
            try:
                for email, services in self.runs[self.run - 1].items():
                    for service, collections in services.items():
                        for name, change in collections.items():
                            self._apply(email, service, name, change)
            except (ValueError, KeyError, TypeError, AttributeError):
                self.collections, self.change_ids = saved
                self.run -= 1
                raise
            return self.run

    def current_version(self):
        """A number that changes with every change of any list, so what is worked out from
        the lists can be kept until then."""
        with self.lock:
            return self.version

    def items(self, email, service, collection, include_deleted=False):
        """The collection's records in their order; deleted ones only when asked."""
        with self.lock:
            found = self.collections.get((email.lower(), service, collection))
            return [r for r in (found.records if found else []) if include_deleted or not r.deleted]

    def find(self, service, collection, item_id, email=None):
        """The live record of that id, in that account's collection or (no e-mail) in any
        account's; None when there is none."""
        with self.lock:
            for (owner, srv, name), found in self.collections.items():
                if srv == service and name == collection and (email is None or owner == email.lower()) \
                        and item_id in found.live:
                    return found.records[found.live[item_id]]
            return None

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
        self.version += 1
        key = (email.lower(), service)
        self.change_ids[key] = self.change_ids.get(key, FIRST_CHANGE_ID) + 1
        return self.change_ids[key]

    def _collection(self, email, service, collection):
        return self.collections.setdefault((email.lower(), service, collection), Collection())

    def _add(self, email, service, collection, item):
        if not isinstance(item, dict) or not item.get("id"):
            raise ValueError("a list item needs an \"id\"")
        self._collection(email, service, collection).add(Record(item, self.run, self._next_change_id(email, service)))

    def _replace(self, email, service, collection, item_id, change):
        """Replaces the live record of that id with a changed copy: change(copy) alters it."""
        records = self._collection(email, service, collection)
        changed = copy.copy(records.live_record(item_id))
        changed.fields = dict(changed.fields)
        change(changed)
        changed.touch(self.run, self._next_change_id(email, service))
        records.replace(item_id, changed)

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
