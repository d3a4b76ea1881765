"""One module per Google service. Each has register(router, state, table); modules listed
first win a route that a later one also registers, so full service modules go before the
generic preflight module."""
from . import accounts, calendar, contacts, drive, picasaweb, preflight, reader, tasks, userinfo

MODULES = [accounts, userinfo, drive, contacts, calendar, tasks, reader, picasaweb, preflight]


def register_all(router, state, table):
    for module in MODULES:
        module.register(router, state, table)
