"""One module per Google service. Each has register(router, state, table); modules listed
first win a route that a later one also registers, so full service modules go before the
generic preflight module."""
from . import accounts, userinfo, preflight

MODULES = [accounts, userinfo, preflight]


def register_all(router, state, table):
    for module in MODULES:
        module.register(router, state, table)
