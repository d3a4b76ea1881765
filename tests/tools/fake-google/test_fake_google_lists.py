"""Checks the fake's list endpoints from outside: paging, etags, scopes, scripted runs and
page faults, read with Python's own HTTP client, JSON and XML readers."""
import json
import unittest
import urllib.parse
import xml.etree.ElementTree as ET

from test_fake_google import ScenarioTestCase, bearer

USER = "User@Example.com"
NS = {"a": "http://www.w3.org/2005/Atom", "gd": "http://schemas.google.com/g/2005",
      "gContact": "http://schemas.google.com/contact/2008", "gphoto": "http://schemas.google.com/photos/2007",
      "gr": "http://www.google.com/schemas/reader/atom/"}
DOC = "application/vnd.google-apps.document"
FOLDER = "application/vnd.google-apps.folder"

SCENARIO = {
    "accounts": [
        {"email": USER, "access_token": "at-user"},
        {"email": "Mail@Example.com", "access_token": "at-mail", "scopes": ["https://mail.google.com/"]},
    ],
    "lists": {
        "page_size": 2,
        "data": {USER: {
            "docs": {"files": [
                {"id": "f1", "title": "Report.pdf", "mimeType": "application/pdf", "parents": ["fo"]},
                {"id": "d1", "title": "Notes", "mimeType": DOC},
                {"id": "fo", "title": "Work", "mimeType": FOLDER},
                {"id": "old", "title": "Old.txt", "mimeType": "text/plain", "trashed": True},
            ]},
            "contacts": {
                "groups": [{"id": "6", "title": "System Group: My Contacts", "system": "Contacts"},
                           {"id": "g1", "title": "Friends"}],
                "contacts": [{"id": "c1", "title": "Ann", "email": "ann@example.com", "parents": ["g1"]},
                             {"id": "c2", "title": "Bob", "photo_etag": "\"ph1\""},
                             {"id": "c3", "title": "Cy", "parents": ["6"]}],
            },
            "calendar": {"calendars": [{"id": "user@example.com", "summary": "Me"},
                                       {"id": "team@group.example.com", "summary": "Team", "accessRole": "reader"},
                                       {"id": "busy@example.com", "summary": "Busy", "accessRole": "freeBusyReader"}]},
            "tasks": {"tasklists": [{"id": "L1", "title": "Home"}, {"id": "L2", "title": "Work"},
                                    {"id": "L3", "title": "Shop"}],
                      "tasks": [{"id": "t1", "title": "Paint", "parents": ["L1"], "position": "1", "notes": "blue"},
                                {"id": "t2", "title": "Brushes", "parents": ["L1"], "parent": "t1", "position": "2"},
                                {"id": "t3", "title": "Fence", "parents": ["L1"], "position": "3",
                                 "status": "completed", "completed": "2026-01-02T10:00:00.000Z"},
                                {"id": "t4", "title": "Meeting", "parents": ["L2"], "due": "2026-02-01T00:00:00.000Z"}]},
            "reader": {
                "tags": [{"id": "News"}],
                "subscriptions": [{"id": "feed/http://a.example/rss", "title": "A", "parents": ["News"]}],
                "articles": [{"id": "a1", "title": "One"}, {"id": "a2", "title": "Two"},
                             {"id": "a3", "title": "Three", "streams": ["starred", "like"]}],
            },
            "picasaweb": {
                "albums": [{"id": "100", "title": "Trip"}, {"id": "101", "title": "Home"}],
                "photos": [{"id": "200", "title": "IMG_1.JPG", "parents": ["100"], "keywords": ["sea", "sun"]}],
                "comments": [{"id": "300", "content": "Nice", "parents": ["200"]}],
            },
        }},
        "runs": [{USER: {
            "docs": {"files": {"add": [{"id": "n1", "title": "New.txt", "mimeType": "text/plain"}],
                               "change": [{"id": "d1", "title": "Notes v2"}],
                               "move": [{"id": "f1", "parents": ["root"]}],
                               "trash": ["fo"], "delete": ["d1"]}},
            "contacts": {"contacts": {"move": [{"id": "c1", "parents": []}], "delete": ["c2"]}},
            "tasks": {"tasklists": {"delete": ["L1", "L2", "L3"]}},
            "reader": {"articles": {"add": [{"id": "a4", "title": "Four"}]}},
            "picasaweb": {"photos": {"move": [{"id": "200", "parents": ["101"]}]}},
        }}],
    },
}


class FakeGoogleListsTest(ScenarioTestCase):
    SCENARIO = SCENARIO

    def get(self, url, token="at-user", headers=None):
        all_headers = bearer(token) if token else {}
        all_headers.update(headers or {})
        return self.fake.request("GET", url, headers=all_headers)

    def get_json(self, url):
        status, headers, body = self.get(url)
        self.assertEqual(status, 200, body)
        page = json.loads(body)
        self.assertEqual(headers["ETag"], page["etag"])
        return page

    def get_json_plain(self, url):
        """A JSON answer that is not a list page."""
        status, _, body = self.get(url)
        self.assertEqual(status, 200, body)
        return json.loads(body)

    def get_xml(self, url):
        status, _, body = self.get(url)
        self.assertEqual(status, 200, body)
        return ET.fromstring(body)

    def json_pages(self, url):
        """Every page of a JSON list, following nextLink or the page token as given."""
        pages = [self.get_json(url)]
        while "nextPageToken" in pages[-1]:
            link = pages[-1].get("nextLink")
            if not link:
                split = urllib.parse.urlsplit(url)
                query = urllib.parse.parse_qsl(split.query) + [("pageToken", pages[-1]["nextPageToken"])]
                link = urllib.parse.urlunsplit(split._replace(query=urllib.parse.urlencode(query)))
            pages.append(self.get_json(link))
        return pages

    def feed_pages(self, url):
        """Every page of an Atom feed, following rel="next"."""
        pages = [self.get_xml(url)]
        while True:
            link = pages[-1].find("a:link[@rel='next']", NS)
            if link is None:
                return pages
            pages.append(self.get_xml(link.get("href")))

    @staticmethod
    def ids(pages, key="id"):
        return [item[key] for page in pages for item in page.get("items", [])]

    @staticmethod
    def entry_ids(pages):
        return [e.find("a:id", NS).text.rsplit("/", 1)[-1] for page in pages for e in page.findall("a:entry", NS)]

    def test_drive_files_changes_and_the_largest_change_id_across_a_run(self):
        about = "https://www.googleapis.com/drive/v2/about?fields=largestChangeId"
        first_id = int(self.get_json_plain(about)["largestChangeId"])
        query = urllib.parse.quote("trashed=false")
        files = self.json_pages("https://www.googleapis.com/drive/v2/files?maxResults=1000&q=" + query)
        self.assertEqual([len(p.get("items", [])) for p in files], [2, 1])
        self.assertEqual(self.ids(files), ["f1", "d1", "fo"])
        report = files[0]["items"][0]
        self.assertEqual(report["parents"], [{"kind": "drive#parentReference", "id": "fo", "isRoot": False}])
        self.assertIn("downloadUrl", report)
        self.assertEqual(len(files[0]["items"][1]["exportLinks"]), 1)
        limited = "trashed=false and (mimeType = '%s' or mimeType = '%s')" % (FOLDER, DOC)
        self.assertEqual(self.ids(self.json_pages("https://www.googleapis.com/drive/v2/files?q="
                                                  + urllib.parse.quote(limited))), ["d1", "fo"])
        everything = self.json_pages("https://www.googleapis.com/drive/v2/files")
        self.assertEqual([(f["id"], f["labels"]["trashed"]) for f in everything[-1]["items"]],
                         [("fo", False), ("old", True)])

        self.assertEqual(self.fake.control("run", {})["run"], 1)
        changes = self.json_pages("https://www.googleapis.com/drive/v2/changes?startChangeId=%d&includeDeleted=true"
                                  % (first_id + 1))
        items = [i for p in changes for i in p.get("items", [])]
        summary = [(c["fileId"], c["deleted"], c.get("file", {}).get("labels", {}).get("trashed")) for c in items]
        self.assertEqual(summary, [("n1", False, False), ("f1", False, False), ("fo", False, True), ("d1", True, None)])
        self.assertEqual(items[1]["file"]["parents"][0]["isRoot"], True)
        ids = [int(c["id"]) for c in items]
        self.assertEqual(ids, sorted(ids))
        self.assertTrue(all(int(p["largestChangeId"]) == ids[-1] for p in changes))
        self.assertEqual(int(self.get_json_plain(about)["largestChangeId"]), ids[-1])
        self.assertEqual(self.ids(self.json_pages("https://www.googleapis.com/drive/v2/files?q=" + query)), ["f1", "n1"])
        # Nothing changed after the last change id: a valid page without "items".
        empty = self.get_json("https://www.googleapis.com/drive/v2/changes?startChangeId=%d" % (ids[-1] + 1))
        self.assertEqual((empty["kind"], "items" in empty), ("drive#changeList", False))

    def test_an_unchanged_page_answers_304_to_its_etag_and_a_changed_one_does_not(self):
        url = "https://www.google.com/m8/feeds/contacts/default/full?max-results=1000"
        etag = self.get(url)[1]["ETag"]
        status, headers, body = self.get(url, headers={"If-None-Match": etag})
        self.assertEqual((status, headers["ETag"], body), (304, etag, b""))
        self.assertEqual(self.get(url, headers={"If-None-Match": '"other"'})[0], 200)
        self.fake.control("run", {})
        status, headers, _ = self.get(url, headers={"If-None-Match": etag})
        self.assertEqual(status, 200)
        self.assertNotEqual(headers["ETag"], etag)

    def test_contacts_feeds_page_by_next_link_and_follow_the_run(self):
        groups = self.feed_pages("https://www.google.com/m8/feeds/groups/default/full?max-results=1000")
        self.assertEqual(self.entry_ids(groups), ["6", "g1"])
        self.assertEqual(groups[0].find("a:entry/gContact:systemGroup", NS).get("id"), "Contacts")
        contacts = self.feed_pages("https://www.google.com/m8/feeds/contacts/default/full?max-results=1000")
        self.assertEqual(len(contacts), 2)
        self.assertEqual(self.entry_ids(contacts), ["c1", "c2", "c3"])
        ann = contacts[0].find("a:entry", NS)
        self.assertTrue(ann.find("gContact:groupMembershipInfo", NS).get("href").endswith("/base/g1"))
        self.assertTrue(ann.get("{%s}etag" % NS["gd"]).startswith('"'))
        photos = [e.find("a:link[@rel='http://schemas.google.com/contacts/2008/rel#photo']", NS)
                  for e in contacts[0].findall("a:entry", NS)]
        self.assertEqual([p.get("{%s}etag" % NS["gd"]) for p in photos], [None, '"ph1"'])

        self.fake.control("run", {})
        contacts = self.feed_pages("https://www.google.com/m8/feeds/contacts/default/full?max-results=1000")
        self.assertEqual(self.entry_ids(contacts), ["c1", "c3"])
        self.assertIsNone(contacts[0].find("a:entry", NS).find("gContact:groupMembershipInfo", NS))

    def test_calendar_and_task_lists_page_by_token_and_refuse_an_unencoded_one(self):
        calendars = self.json_pages("https://www.googleapis.com/calendar/v3/users/me/calendarList?maxResults=250")
        self.assertEqual([(c["id"], c["accessRole"]) for p in calendars for c in p.get("items", [])],
                         [("user@example.com", "owner"), ("team@group.example.com", "reader"),
                          ("busy@example.com", "freeBusyReader")])
        lists = "https://www.googleapis.com/tasks/v1/users/@me/lists"
        pages = self.json_pages(lists)
        self.assertEqual(self.ids(pages), ["L1", "L2", "L3"])
        token = pages[0]["nextPageToken"]
        self.assertEqual(self.get(lists + "?pageToken=" + token)[0], 400)
        self.assertEqual(self.get(lists.replace("@", "%40") + "?pageToken=" + urllib.parse.quote(token, safe=""))[0], 200)
        self.fake.control("run", {})
        emptied = self.get_json(lists)
        self.assertEqual((emptied["kind"], "items" in emptied), ("tasks#taskLists", False))

    def test_tasks_of_a_list_as_google_sends_them(self):
        url = "https://www.googleapis.com/tasks/v1/lists/%s/tasks"
        pages = self.json_pages(url % "L1")
        self.assertEqual(pages[0]["kind"], "tasks#tasks")
        tasks = {t["id"]: t for p in pages for t in p.get("items", [])}
        self.assertEqual(list(tasks), ["t1", "t2", "t3"])
        self.assertEqual((tasks["t1"]["notes"], tasks["t1"]["status"], "parent" in tasks["t1"], "completed" in tasks["t1"]),
                         ("blue", "needsAction", False, False))
        self.assertEqual(tasks["t2"]["parent"], "t1")
        self.assertEqual((tasks["t3"]["status"], tasks["t3"]["completed"]), ("completed", "2026-01-02T10:00:00.000Z"))
        self.assertEqual([t["id"] for t in self.get_json((url % "L1") + "?showCompleted=false")["items"]], ["t1", "t2"])
        self.assertEqual(self.ids(self.json_pages(url % "L2")), ["t4"])
        self.assertNotIn("items", self.get_json(url % "L3"))
        self.assertEqual(self.get(url % "nope")[0], 404)
        self.assertEqual(self.get(url % "L1", token="at-mail")[0], 403)

    def test_reader_lists_and_saved_articles_with_continuation(self):
        tags = ET.fromstring(self.get("https://www.google.com/reader/api/0/tag/list?output=xml")[2])
        tag_ids = [s.text for s in tags.iterfind("list[@name='tags']/object/string[@name='id']")]
        self.assertEqual([t.split("/", 2)[2] for t in tag_ids],
                         ["state/com.google/starred", "state/com.google/broadcast", "label/News"])
        subscriptions = ET.fromstring(self.get("https://www.google.com/reader/api/0/subscription/list?output=xml")[2])
        subscription = subscriptions.find("list[@name='subscriptions']/object")
        self.assertEqual(subscription.find("string[@name='id']").text, "feed/http://a.example/rss")
        self.assertEqual(subscription.find("list[@name='categories']/object/string[@name='id']").text, tag_ids[2])

        def stream(name):
            base = "https://www.google.com/reader/atom/user/-/state/com.google/%s?n=1000" % name
            pages = [self.get_xml(base)]
            while pages[-1].find("gr:continuation", NS) is not None:
                token = pages[-1].find("gr:continuation", NS).text
                self.assertIn("/", token)
                pages.append(self.get_xml(base + "&c=" + urllib.parse.quote(token, safe="")))
            return [e.find("a:title", NS).text for p in pages for e in p.findall("a:entry", NS)]

        self.assertEqual(stream("starred"), ["One", "Two", "Three"])
        self.assertEqual(stream("like"), ["Three"])
        self.assertEqual(stream("broadcast"), [])
        self.fake.control("run", {})
        self.assertEqual(stream("starred"), ["One", "Two", "Three", "Four"])

    def test_picasa_albums_photos_and_comments(self):
        albums = self.feed_pages("https://picasaweb.google.com/data/feed/api/user/default?kind=album")
        self.assertEqual(self.entry_ids(albums), ["100", "101"])
        photos = self.get_xml("https://picasaweb.google.com/data/feed/api/user/default/albumid/100?kind=photo")
        photo = photos.find("a:entry", NS)
        self.assertTrue(photo.find("a:id", NS).text.endswith("/albumid/100/photoid/200"))
        self.assertEqual(photo.find("gphoto:width", NS).text, "800")
        self.assertEqual(photo.find("{http://search.yahoo.com/mrss/}group/{http://search.yahoo.com/mrss/}keywords").text,
                         "sea, sun")
        # The path may arrive percent-encoded, a photo id also as one segment.
        for photo_path in ("%3100/photoid/200", "100%2Fphotoid%2F200"):
            comments = self.get_xml("https://picasaweb.google.com/data/feed/api/user/default/albumid/%s?kind=comment"
                                    % photo_path)
            self.assertTrue(comments.find("a:entry/a:id", NS).text.endswith("/albumid/100/photoid/200/commentid/300"))
        self.assertEqual(self.get("https://picasaweb.google.com/data/feed/api/user/default/albumid/999?kind=photo")[0], 404)

        self.fake.control("run", {})
        self.assertIsNone(self.get_xml("https://picasaweb.google.com/data/feed/api/user/default/albumid/100?kind=photo")
                          .find("a:entry", NS))
        moved = self.get_xml("https://picasaweb.google.com/data/feed/api/user/default/albumid/101?kind=photo")
        self.assertTrue(moved.find("a:entry/a:id", NS).text.endswith("/albumid/101/photoid/200"))

    def test_list_endpoints_need_a_live_token_with_the_service_scope(self):
        urls = ["https://www.googleapis.com/drive/v2/files", "https://www.googleapis.com/drive/v2/changes",
                "https://www.google.com/m8/feeds/groups/default/full",
                "https://www.googleapis.com/calendar/v3/users/me/calendarList",
                "https://www.googleapis.com/tasks/v1/users/@me/lists", "https://www.google.com/reader/api/0/tag/list",
                "https://www.google.com/reader/atom/user/-/state/com.google/like",
                "https://picasaweb.google.com/data/feed/api/user/default?kind=album"]
        for url in urls:
            with self.subTest(url=url):
                self.assertEqual(self.get(url, token=None)[0], 401)
                self.assertEqual(self.get(url, token="at-mail")[0], 403)
                self.assertEqual(self.get(url)[0], 200)

    def test_page_faults_hit_the_page_they_name(self):
        url = "https://www.googleapis.com/drive/v2/files?maxResults=1000"
        path = "/drive/v2/files"
        self.fake.control("fault", {"path": path, "skip": 1, "status": 500})
        first = self.get_json(url)
        status, _, body = self.get(first["nextLink"])
        self.assertEqual((status, json.loads(body)["error"]["errors"][0]["reason"]), (500, "backendError"))
        self.assertEqual(self.get(first["nextLink"])[0], 200)

        whole = self.get(url)[2]
        self.fake.control("fault", {"path": path, "truncate": True})
        status, headers, body = self.get(url)
        self.assertEqual((status, body), (200, whole[:len(whole) // 2]))
        self.assertEqual(headers["Content-Length"], str(len(body)))
        self.fake.control("fault", {"path": "/m8/feeds/contacts/default/full", "body": "<html><body>Sorry</body></html>",
                                    "content_type": "text/html"})
        self.assertEqual(self.get("https://www.google.com/m8/feeds/contacts/default/full")[2],
                         b"<html><body>Sorry</body></html>")

    def test_runs_apply_in_turn_an_item_may_come_back_and_bad_changes_are_refused(self):
        files = {"id": "f1", "title": "A.txt", "mimeType": "text/plain"}
        self.fake.control("scenario", {"accounts": SCENARIO["accounts"], "lists": {
            "data": {USER: {"docs": {"files": [files]}}},
            "runs": [{USER: {"docs": {"files": {"delete": ["f1"]}}}},
                     {USER: {"docs": {"files": {"add": [dict(files, title="A again.txt")]}}}},
                     {USER: {"docs": {"files": {"add": [{"id": "f2"}], "delete": ["missing"]}}}}]}})
        list_url = "https://www.googleapis.com/drive/v2/files"
        changes_url = "https://www.googleapis.com/drive/v2/changes?startChangeId=0"
        old_etag = self.get_json(list_url)["items"][0]["etag"]
        self.assertEqual(self.fake.control("run", {})["run"], 1)
        self.assertNotIn("items", self.get_json(list_url))
        self.assertEqual([(c["fileId"], c["deleted"]) for c in self.get_json(changes_url)["items"]], [("f1", True)])
        self.assertEqual(self.fake.control("run", {})["run"], 2)
        self.assertEqual([f["title"] for f in self.get_json(list_url)["items"]], ["A again.txt"])
        self.assertNotEqual(self.get_json(list_url)["items"][0]["etag"], old_etag)
        self.assertEqual([(c["fileId"], c["deleted"]) for c in self.get_json(changes_url)["items"]], [("f1", False)])
        for _ in range(2):
            # The third run names an unknown item, so none of it applies.
            self.assertEqual(self.fake.request("POST", "http://127.0.0.1/_control/run", "{}")[0], 400)
            self.assertEqual([f["id"] for f in self.get_json(list_url)["items"]], ["f1"])
        status, _, _ = self.fake.request("POST", "http://127.0.0.1/_control/scenario",
                                         json.dumps({"lists": {"data": {USER: {"docs": {"files": [{"title": "x"}]}}}}}))
        self.assertEqual(status, 400)


if __name__ == "__main__":
    unittest.main()
