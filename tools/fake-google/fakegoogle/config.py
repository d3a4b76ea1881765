"""What the fake reads from the program's service table (resources/Config.plist)."""
import os
import plistlib
import urllib.parse

DEFAULT_CONFIG = os.path.join(os.path.dirname(__file__), "..", "..", "..", "resources", "Config.plist")

USERINFO_EMAIL_SCOPE = "https://www.googleapis.com/auth/userinfo.email"
USERINFO_PROFILE_SCOPE = "https://www.googleapis.com/auth/userinfo.profile"


class ServiceTable:
    def __init__(self, path=None):
        with open(path or DEFAULT_CONFIG, "rb") as f:
            table = plistlib.load(f)
        self.services = table.get("services", [])
        self.doc_types = table.get("doctypes", [])

    def service(self, service_id):
        """The service's entry; an empty one when the table has no such service."""
        return next((s for s in self.services if s.get("id") == service_id), {})

    def export_links(self):
        """Google media type -> the media type of the export the table downloads."""
        return {t["googleMimeType"]: t["exportLink"] for t in self.doc_types
                if t.get("googleMimeType") and t.get("exportLink")}

    def preflight_routes(self):
        """(service id, host, path, scope) for every service with a preflight URL."""
        routes = []
        for service in self.services:
            url = service.get("preflighturl")
            if not url:
                continue
            split = urllib.parse.urlsplit(url)
            routes.append((service["id"], split.hostname, split.path, service.get("oauthScope")))
        return routes

    def all_scopes(self):
        scopes = [USERINFO_PROFILE_SCOPE, USERINFO_EMAIL_SCOPE]
        scopes += [s["oauthScope"] for s in self.services if s.get("oauthScope")]
        return scopes
