"""Checks the fake's download endpoints from outside: Drive content and export links, contact
photos and Picasa photo content, a generated body that streams, and a body that breaks off."""
import hashlib
import http.client
import json
import socket
import unittest
import urllib.parse

from test_fake_google import ScenarioTestCase, bearer

USER = "User@Example.com"
OTHER = "Other@Example.com"
DOCX = "application/vnd.openxmlformats-officedocument.wordprocessingml.document"
SCENARIO = {
    "accounts": [{"email": USER, "access_token": "at-user"}, {"email": OTHER, "access_token": "at-other"}],
    "lists": {"data": {
        USER: {
            "docs": {"files": [
                {"id": "f1", "title": "Report.pdf", "mimeType": "application/pdf", "content": "%PDF-1.4 report"},
                {"id": "big", "title": "Big.bin", "mimeType": "application/octet-stream", "size": 200003},
                {"id": "d1", "title": "Notes", "mimeType": "application/vnd.google-apps.document", "content": "DOCX"}]},
            "contacts": {"contacts": [
                {"id": "c1", "title": "Ann", "photo_etag": "\"p1\"", "photo": "\u00ff\u00d8JPEG", "photo_type": "image/png"},
                {"id": "c2", "title": "Bob"}]},
            "picasaweb": {"albums": [{"id": "100", "title": "Trip"}],
                          "photos": [{"id": "200", "title": "IMG 1.JPG", "parents": ["100"], "content": "jpeg bytes"}]}},
        OTHER: {"docs": {"files": [{"id": "o1", "title": "Theirs.txt", "mimeType": "text/plain", "content": "x"}]}}}},
}


def pattern(size):
    return bytes(i % 251 for i in range(size))


class FakeGoogleDownloadsTest(ScenarioTestCase):
    SCENARIO = SCENARIO

    def get(self, url, token="at-user"):
        return self.fake.request("GET", url, headers=bearer(token) if token else {})

    def drive_file(self, file_id):
        status, _, body = self.get("https://www.googleapis.com/drive/v2/files/" + file_id)
        self.assertEqual(status, 200, body)
        return json.loads(body)

    def test_drive_content_and_export_links_answer_the_bodies_the_list_links_to(self):
        status, headers, body = self.get(self.drive_file("f1")["downloadUrl"])
        self.assertEqual((status, body, headers["Content-Type"]), (200, b"%PDF-1.4 report", "application/pdf"))
        status, _, body = self.get(self.drive_file("big")["downloadUrl"])
        self.assertEqual((status, body), (200, pattern(200003)))
        link = self.drive_file("d1")["exportLinks"][DOCX]
        self.assertTrue(link.startswith("https://docs.google.com/"))
        status, headers, body = self.get(link)
        self.assertEqual((status, body, headers["Content-Type"]), (200, b"DOCX", DOCX))
        # A Google document has no binary content, another format is refused, another account's file is not there.
        self.assertEqual(self.get("https://www.googleapis.com/drive/v2/files/d1?alt=media")[0], 403)
        self.assertEqual(self.get(link.replace("exportFormat=", "exportFormat=x"))[0], 400)
        self.assertEqual(self.get("https://www.googleapis.com/drive/v2/files/o1?alt=media")[0], 404)
        self.assertEqual(self.get("https://www.googleapis.com/drive/v2/files/o1?alt=media", "at-other")[0], 200)

    def test_drive_files_announce_the_size_and_digest_of_their_content(self):
        for file_id, body in (("f1", b"%PDF-1.4 report"), ("big", pattern(200003))):
            file = self.drive_file(file_id)
            self.assertEqual((file["fileSize"], file["md5Checksum"]), (str(len(body)), hashlib.md5(body).hexdigest()))
        # A Google document has no binary content to announce; a scenario's own figures win.
        self.assertNotIn("fileSize", self.drive_file("d1"))
        self.fake.control("scenario", {"accounts": SCENARIO["accounts"], "lists": {"data": {USER: {"docs": {"files": [
            {"id": "w", "mimeType": "text/plain", "content": "abc", "fileSize": "9", "md5Checksum": None}]}}}}})
        file = self.drive_file("w")
        self.assertEqual(file["fileSize"], "9")
        self.assertNotIn("md5Checksum", file)

    def test_downloads_need_a_token_except_public_photo_content(self):
        self.assertEqual(self.get("https://www.googleapis.com/drive/v2/files/f1?alt=media", None)[0], 401)
        self.assertEqual(self.get("https://www.google.com/m8/feeds/photos/media/User%40Example.com/c1", None)[0], 401)
        status, _, body = self.get("https://lh3.googleusercontent.com/fake/100/200/IMG%201.JPG", None)
        self.assertEqual((status, body), (200, b"jpeg bytes"))
        self.assertEqual(self.get("https://lh3.googleusercontent.com/fake/101/200/IMG%201.JPG", None)[0], 404)

    def test_contact_photos_answer_the_photo_or_404(self):
        status, headers, body = self.get("https://www.google.com/m8/feeds/photos/media/User%40Example.com/c1")
        self.assertEqual((status, body, headers["Content-Type"]), (200, b"\xff\xd8JPEG", "image/png"))
        self.assertEqual(self.get("https://www.google.com/m8/feeds/photos/media/User%40Example.com/c2")[0], 404)
        self.assertEqual(self.get("https://www.google.com/m8/feeds/photos/media/Other%40Example.com/c1")[0], 404)
        self.fake.control("fault", {"path": "/m8/feeds/photos/media/User%40Example.com/c1", "status": 503, "times": 2})
        statuses = [self.get("https://www.google.com/m8/feeds/photos/media/User%40Example.com/c1")[0] for _ in range(3)]
        self.assertEqual(statuses, [503, 503, 200])

    def test_a_body_that_breaks_off_closes_the_connection_short_of_its_length(self):
        self.fake.control("fault", {"path": "/drive/v2/files/big", "break_after": 70000})
        raw = socket.create_connection(("127.0.0.1", self.fake.https_port), timeout=10)
        conn = http.client.HTTPSConnection("www.googleapis.com", context=self.fake.context)
        conn.sock = self.fake.context.wrap_socket(raw, server_hostname="www.googleapis.com")
        conn.request("GET", "/drive/v2/files/big?alt=media", headers=dict(bearer("at-user"), Host="www.googleapis.com"))
        response = conn.getresponse()
        self.assertEqual(response.getheader("Content-Length"), "200003")
        with self.assertRaises(http.client.IncompleteRead) as raised:
            response.read()
        self.assertEqual(raised.exception.partial, pattern(70000))
        conn.close()


if __name__ == "__main__":
    unittest.main()
