"""A small authenticated answer at the preflight URL of every service in the service table,
for the services that have no module of their own yet."""
from fakegoogle.http import Response, json_response

ATOM = ('<?xml version="1.0" encoding="UTF-8"?>'
        '<feed xmlns="http://www.w3.org/2005/Atom"><title>%s</title></feed>')


def register(router, state, table):
    for service_id, host, path, scope in table.preflight_routes():
        router.add("GET", host, path, _handler(state, service_id, host, scope))


def _handler(state, service_id, host, scope):
    def answer(request):
        _, error = state.authenticate(request, scope)
        if error:
            return error
        if host.endswith("googleapis.com"):
            return json_response(200, {"kind": "fake#preflight", "service": service_id})
        return Response(200, ATOM % service_id, content_type="application/atom+xml; charset=UTF-8")
    return answer
