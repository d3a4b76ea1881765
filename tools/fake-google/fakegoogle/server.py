"""The HTTP and HTTPS listeners, the router and the control endpoints."""
import http.server
import json
import socket
import socketserver
import ssl
import threading

from .http import Request, Response, json_response

CONTROL_PREFIX = "/_control/"


class Router:
    """Routes by (method, host, path); a service module registers its endpoints here."""

    def __init__(self):
        self.routes = {}
        self.prefixes = {}

    def add(self, method, host, path, handler):
        """Registers a handler unless one is there already, so that a module loaded earlier
        (a full service) wins over a generic one loaded later."""
        self.routes.setdefault((method.upper(), host.lower(), path), handler)

    def add_prefix(self, method, host, prefix, handler):
        """Registers a handler for every path below `prefix` (paths that carry ids)."""
        self.prefixes.setdefault((method.upper(), host.lower(), prefix), handler)

    def find(self, request):
        handler = self.routes.get((request.method, request.host, request.path))
        if handler is None:
            handler = next((h for (method, host, prefix), h in self.prefixes.items()
                            if (method, host) == (request.method, request.host) and request.path.startswith(prefix)), None)
        return handler

    def known_path(self, request):
        return any(host == request.host and path == request.path for (_, host, path) in self.routes)


class FakeGoogle:
    """One fake: shared state and routes behind an HTTP and an optional HTTPS listener, both
    bound to 127.0.0.1."""

    def __init__(self, state, router, initial_scenario=None):
        self.state = state
        self.router = router
        self.initial_scenario = initial_scenario or {}
        self.stopping = threading.Event()
        self.listeners = []
        state.load_scenario(self.initial_scenario)

    def listen(self, port, tls_context=None):
        server = _Listener(("127.0.0.1", port), _Handler, self, tls_context)
        self.listeners.append(server)
        return server.server_address[1]

    def serve(self):
        # A short poll interval keeps shutdown quick.
        threads = [threading.Thread(target=s.serve_forever, args=(0.05,), daemon=True) for s in self.listeners]
        for t in threads:
            t.start()
        return threads

    def shutdown(self):
        self.stopping.set()
        for server in self.listeners:
            server.shutdown()
            server.server_close()

    # Control endpoints: not logged, not subject to faults.

    def control(self, request):
        name = request.path[len(CONTROL_PREFIX):]
        state = self.state
        try:
            if request.method == "GET" and name == "requests":
                return json_response(200, state.request_log())
            if request.method == "GET" and name == "faults":
                return json_response(200, state.faults.pending())
            if request.method != "POST":
                return json_response(405, {"error": "use POST"})
            if name == "token":
                grant = state.access_grant(request.json().get("access_token", ""))
                if grant is None:
                    return json_response(404, {"error": "unknown or expired access token"})
                return json_response(200, grant)
            if name == "scenario":
                state.load_scenario(request.json())
            elif name == "reset":
                state.load_scenario(self.initial_scenario)
            elif name == "fault":
                body = request.json()
                for fault in body if isinstance(body, list) else [body]:
                    state.faults.add(fault)
            elif name == "account":
                state.add_account(request.json())
            elif name == "clock":
                state.advance_clock(request.json().get("advance", 0))
            elif name == "requests/clear":
                state.clear_request_log()
            elif name == "run":
                return json_response(200, {"ok": True, "run": state.lists.next_run()})
            else:
                return json_response(404, {"error": "unknown control endpoint " + name})
        except (ValueError, KeyError, TypeError, AttributeError) as e:
            return json_response(400, {"error": str(e)})
        return json_response(200, {"ok": True})

    def answer(self, request):
        if request.path.startswith(CONTROL_PREFIX):
            return self.control(request)
        self.state.log_request(request.log_entry())
        fault = self.state.faults.take(request)
        if isinstance(fault, Response):
            return fault
        response = self.route(request)
        # A fault that alters the real answer (a truncated page) gets it here.
        return fault(response) if fault else response

    def route(self, request):
        handler = self.router.find(request)
        if handler is not None:
            return handler(request)
        if self.router.known_path(request):
            return json_response(405, {"error": "method not allowed"})
        return Response(404, b"Not Found", content_type="text/plain")


class _Listener(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, handler, fake, tls_context):
        self.fake = fake
        self.tls_context = tls_context
        super().__init__(address, handler)

    def get_request(self):
        sock, address = self.socket.accept()
        if self.tls_context is not None:
            # The handshake runs on the request's own thread (in finish_request), so a
            # client that never completes it cannot hold up the accept loop.
            sock = self.tls_context.wrap_socket(sock, server_side=True, do_handshake_on_connect=False)
        return sock, address

    def finish_request(self, request, client_address):
        if isinstance(request, ssl.SSLSocket):
            try:
                request.settimeout(10)
                request.do_handshake()
                request.settimeout(None)
            except (ssl.SSLError, OSError):
                return
        super().finish_request(request, client_address)

    def handle_error(self, request, client_address):
        pass  # a client that went away mid-answer is normal in fault tests


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "FakeGoogle/1"

    def log_message(self, *args):
        pass

    def _handle(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        host = (self.headers.get("Host") or "").lower()
        if host.startswith("["):
            host = host[:host.find("]") + 1]
        else:
            host = host.split(":")[0]
        headers = {k.lower(): v for k, v in self.headers.items()}
        tls = isinstance(self.connection, ssl.SSLSocket)
        request = Request(self.command, host, self.path, headers, body, tls)
        self._send(self.server.fake.answer(request))

    def _send(self, response):
        stopping = self.server.fake.stopping
        if response.stall and stopping.wait(response.stall):
            return
        if response.drop:
            self.close_connection = True
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            return
        self.send_response(response.status)
        for name, value in response.headers.items():
            self.send_header(name, value)
        self.send_header("Content-Length", str(response.content_length()))
        self.end_headers()
        self.wfile.flush()
        if response.stall_body and stopping.wait(response.stall_body):
            self.close_connection = True
            return
        if self.command == "HEAD":
            return
        if response.stream is not None or response.break_after is not None:
            self._send_chunks(response, stopping)
            return
        if not response.trickle:
            self.wfile.write(response.body)
            return
        for i in range(len(response.body)):
            if stopping.wait(response.trickle):
                self.close_connection = True
                return
            self.wfile.write(response.body[i:i + 1])
            self.wfile.flush()

    def _send_chunks(self, response, stopping):
        """A streamed body, or one that breaks off after `break_after` bytes."""
        chunks = response.stream if response.stream is not None else [response.body]
        left = response.break_after
        for chunk in chunks:
            if stopping.is_set():
                break
            if left is not None:
                chunk = chunk[:left]
                left -= len(chunk)
            self.wfile.write(chunk)
            if left == 0:
                break
        else:
            return
        self.close_connection = True

    do_GET = do_POST = do_PUT = do_DELETE = do_PATCH = do_HEAD = _handle
