"""Checks the fake's calendar events endpoint from outside: paging, updatedMin with deleted
events, recurring series with changed and cancelled instances, and faults in mid-pass."""
import json
import time
import unittest
import urllib.parse

from test_fake_google import ScenarioTestCase, bearer

USER = "User@Example.com"
EVENTS = "https://www.googleapis.com/calendar/v3/calendars/%s/events"
SCENARIO = {
    "accounts": [{"email": USER, "access_token": "at-user"}],
    "lists": {
        "page_size": 2,
        "data": {USER: {"calendar": {
            "calendars": [{"id": "user@example.com", "summary": "Me", "timeZone": "Europe/Paris",
                           "defaultReminders": [{"method": "popup", "minutes": 10}]},
                          {"id": "other@example.com", "summary": "Other"}],
            "events": [
                {"id": "e1", "parents": ["user@example.com"], "summary": "One",
                 "start": {"dateTime": "2026-03-04T09:00:00+01:00"}, "end": {"dateTime": "2026-03-04T10:00:00+01:00"}},
                {"id": "s1", "parents": ["user@example.com"], "summary": "Weekly", "recurrence": ["RRULE:FREQ=WEEKLY"],
                 "start": {"dateTime": "2026-03-02T08:00:00Z"}, "end": {"dateTime": "2026-03-02T09:00:00Z"}},
                {"id": "s1_20260309T080000Z", "parents": ["user@example.com"], "recurringEventId": "s1",
                 "status": "cancelled", "originalStartTime": {"dateTime": "2026-03-09T08:00:00Z"}},
                {"id": "x1", "parents": ["other@example.com"], "summary": "Elsewhere"},
            ]}}},
        "runs": [{USER: {"calendar": {"events": {"change": [{"id": "e1", "summary": "One v2"}], "delete": ["s1"]}}}}],
    },
}


class FakeGoogleCalendarTest(ScenarioTestCase):
    SCENARIO = SCENARIO

    def get(self, url):
        return self.fake.request("GET", url, headers=bearer("at-user"))

    def pages(self, url):
        pages = []
        while True:
            status, _, body = self.get(url if not pages else url + ("&" if "?" in url else "?") + "pageToken="
                                       + urllib.parse.quote(pages[-1]["nextPageToken"], safe=""))
            self.assertEqual(status, 200, body)
            pages.append(json.loads(body))
            if "nextPageToken" not in pages[-1]:
                return pages

    def test_full_list_pages_with_the_calendars_zone_and_reminders(self):
        pages = self.pages(EVENTS % urllib.parse.quote("user@example.com", safe=""))
        self.assertEqual(len(pages), 2)
        self.assertEqual([(p["kind"], p["timeZone"], p["defaultReminders"][0]["minutes"]) for p in pages],
                         [("calendar#events", "Europe/Paris", 10)] * 2)
        items = [e for p in pages for e in p.get("items", [])]
        self.assertEqual([(e["id"], e["status"]) for e in items],
                         [("e1", "confirmed"), ("s1", "confirmed"), ("s1_20260309T080000Z", "cancelled")])
        self.assertEqual(items[0]["iCalUID"], "e1@google.com")
        self.assertEqual(self.get(EVENTS % "nobody@example.com")[0], 404)

    def test_updated_min_lists_changes_and_deleted_events_only_when_shown(self):
        time.sleep(1.1)  # the start-up data lie before `since`, written in whole seconds
        since = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime())
        self.fake.control("run", {})
        url = EVENTS % "user@example.com" + "?updatedMin=" + urllib.parse.quote(since, safe="")
        changed = [e for p in self.pages(url + "&showDeleted=true") for e in p.get("items", [])]
        self.assertEqual([(e["id"], e["status"], e.get("summary")) for e in changed],
                         [("e1", "confirmed", "One v2"), ("s1", "cancelled", None)])
        self.assertEqual([e["id"] for p in self.pages(url) for e in p.get("items", [])], ["e1"])

    def test_gone_in_mid_pass_is_a_scripted_fault(self):
        path = "/calendar/v3/calendars/user@example.com/events"
        self.fake.control("fault", {"path": path, "status": 410, "skip": 1})
        url = EVENTS % "user@example.com"
        status, _, body = self.get(url)
        self.assertEqual(status, 200)
        token = json.loads(body)["nextPageToken"]
        self.assertEqual(self.get(url + "?pageToken=" + urllib.parse.quote(token, safe=""))[0], 410)


if __name__ == "__main__":
    unittest.main()
