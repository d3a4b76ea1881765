"""The fake Google server (tools/fake-google) as a second source of access tokens, so that a
token it issued by code exchange or refresh logs its account in here too."""
import http.client
import json
import sys

MAIL_SCOPE = "https://mail.google.com/"


class GoogleTokens:
    """Asks the fake Google server on 127.0.0.1:port (plain HTTP) what a token grants."""

    def __init__(self, port):
        self.port = port

    def grants_mail(self, user, token):
        """True when the token is live, was issued for `user` and carries the mail scope. An
        unreachable server grants nothing (and says so on stderr)."""
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        try:
            # In the body: a token belongs in no URL.
            connection.request("POST", "/_control/token", json.dumps({"access_token": token}),
                               {"Content-Type": "application/json"})
            response = connection.getresponse()
            body = response.read()
            if response.status == 404:
                return False
            if response.status != 200:
                raise ValueError("status %d" % response.status)
            grant = json.loads(body)
        except (OSError, ValueError, http.client.HTTPException) as e:
            sys.stderr.write("fake-imap: the fake Google server did not answer a token check: %s\n" % e)
            return False
        finally:
            connection.close()
        return grant.get("email", "").lower() == user.lower() and MAIL_SCOPE in grant.get("scopes", [])
