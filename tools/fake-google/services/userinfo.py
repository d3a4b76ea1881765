"""The user-info e-mail endpoint: which account an access token belongs to."""
from fakegoogle.config import USERINFO_EMAIL_SCOPE
from fakegoogle.http import json_response

HOST = "www.googleapis.com"


def register(router, state, table):
    def email(request):
        account, error = state.authenticate(request, USERINFO_EMAIL_SCOPE)
        if error:
            return error
        return json_response(200, {"data": {"email": account, "isVerified": True}})

    router.add("GET", HOST, "/userinfo/email", email)
