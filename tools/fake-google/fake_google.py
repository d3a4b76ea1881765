#!/usr/bin/env python3
"""Runs the fake Google server on 127.0.0.1. See README.md."""
import argparse
import json
import os
import select
import signal
import ssl
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from fakegoogle.config import ServiceTable  # noqa: E402
from fakegoogle.server import FakeGoogle, Router  # noqa: E402
from fakegoogle.state import State  # noqa: E402
import services  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--http-port", type=int, default=0, help="0 picks a free port")
    parser.add_argument("--https-port", type=int, default=0, help="0 picks a free port")
    parser.add_argument("--tls-dir", help="folder with server.pem and server.key (tools/testca); "
                                          "without it only HTTP is served")
    parser.add_argument("--config", help="the service table (default: resources/Config.plist)")
    parser.add_argument("--scenario", help="JSON scenario loaded at start and on reset")
    parser.add_argument("--watch-stdin", action="store_true", help="exit when standard input closes")
    parser.add_argument("--watch-pid", type=int, help="exit when the process with this PID ends")
    args = parser.parse_args()
    # Opened first: a process that has already ended stops the start.
    watched = os.pidfd_open(args.watch_pid) if args.watch_pid else None

    table = ServiceTable(args.config)
    state = State(table.all_scopes())
    router = Router()
    services.register_all(router, state, table)
    scenario = None
    if args.scenario:
        with open(args.scenario, encoding="utf-8") as f:
            scenario = json.load(f)
    fake = FakeGoogle(state, router, scenario)

    ports = {"http_port": fake.listen(args.http_port), "https_port": None}
    if args.tls_dir:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(os.path.join(args.tls_dir, "server.pem"), os.path.join(args.tls_dir, "server.key"))
        ports["https_port"] = fake.listen(args.https_port, context)
    fake.serve()

    done = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: done.set())
    signal.signal(signal.SIGINT, lambda *_: done.set())
    if args.watch_stdin:
        threading.Thread(target=lambda: (sys.stdin.read(), done.set()), daemon=True).start()
    if watched is not None:
        threading.Thread(target=lambda: (select.select([watched], [], []), done.set()), daemon=True).start()
    print(json.dumps(ports), flush=True)
    done.wait()
    fake.shutdown()


if __name__ == "__main__":
    main()
