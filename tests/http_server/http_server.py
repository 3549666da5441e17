"""A scripted HTTP server on 127.0.0.1 for the tests: answers are set per path,
every request is recorded, and it can stall, cut a body short, trickle or
redirect on request.

Used in two ways:
  - imported by the end-to-end tests, which script their own routes;
  - `http_server.py wrap CMD...` runs CMD (a test binary) beside a server
    that answers the generic routes below, with ORVANE_TEST_HTTP_PORT naming
    its port and a sandboxed home, and exits with CMD's status.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
from dataclasses import dataclass, field
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


@dataclass
class Request:
    method: str
    path: str            # without the query
    query: str           # raw, as sent
    headers: list        # (name, value) in the order sent
    body: bytes

    def header(self, name):
        for key, value in self.headers:
            if key.lower() == name.lower():
                return value
        return None

    def params(self):
        return urllib.parse.parse_qs(self.query, keep_blank_values=True)


@dataclass
class Reply:
    status: int = 200
    body: bytes = b""
    headers: list = field(default_factory=list)   # (name, value)
    # Header lines sent verbatim after the status line, CR LF added.
    raw_header_lines: list = field(default_factory=list)
    # Announced length when it differs from the body's (a body cut short).
    content_length: int = None
    # After the body (or what there is of it): "close" at once, or "stall"
    # until the server stops.
    then: str = "close"
    # Seconds between bytes, to trickle the body one byte at a time.
    byte_gap: float = 0.0
    # A body of this many bytes, streamed without being held in memory.
    generated_size: int = None


def pattern_bytes(size):
    """Every byte value, NUL included, repeated: the generated bodies."""
    return (bytes(range(256)) * (size // 256 + 1))[:size]


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def _serve(self):
        path, _, query = self.path.partition("?")
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        request = Request(self.command, path, query, list(self.headers.items()), body)
        server = self.server.owner
        server._record(request)
        reply = server._reply_for(request)
        if callable(reply):
            reply = reply(request)
        self._send(reply, server)

    do_GET = do_POST = do_PUT = do_HEAD = _serve

    def _send(self, reply, server):
        out = self.wfile
        size = reply.generated_size if reply.generated_size is not None else len(reply.body)
        announced = reply.content_length if reply.content_length is not None else size
        head = ["HTTP/1.0 %d %s" % (reply.status, self.responses.get(reply.status, ("Scripted",))[0])]
        head += ["%s: %s" % pair for pair in reply.headers]
        head += reply.raw_header_lines
        head.append("Content-Length: %d" % announced)
        out.write(("\r\n".join(head) + "\r\n\r\n").encode("latin-1"))
        try:
            if reply.generated_size is not None:
                block = pattern_bytes(1 << 20)
                view = memoryview(block)
                sent = 0
                while sent < size:
                    n = min(len(block), size - sent)
                    out.write(view[:n])
                    sent += n
            elif reply.byte_gap:
                for i in range(len(reply.body)):
                    out.write(reply.body[i:i + 1])
                    out.flush()
                    time.sleep(reply.byte_gap)
            else:
                out.write(reply.body)
            out.flush()
        except (BrokenPipeError, ConnectionResetError):
            return
        if reply.then == "stall":
            server._stopping.wait()


class ScriptedServer:
    """Answers by (method, path); unknown paths get 404. `port` 0 picks a free one."""

    def __init__(self, port=0):
        self._routes = {}
        self._lock = threading.Condition()
        self.requests = []
        self._stopping = threading.Event()
        self._httpd = ThreadingHTTPServer(("127.0.0.1", port), _Handler)
        self._httpd.daemon_threads = True
        self._httpd.owner = self
        self.port = self._httpd.server_address[1]
        self._thread = threading.Thread(target=self._httpd.serve_forever, daemon=True)

    def start(self):
        self._thread.start()
        return self

    def stop(self):
        self._stopping.set()
        self._httpd.shutdown()
        self._httpd.server_close()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def route(self, method, path, reply):
        """`reply` is a Reply, or a function of the Request returning one."""
        with self._lock:
            self._routes[(method, path)] = reply

    def _reply_for(self, request):
        with self._lock:
            reply = self._routes.get((request.method, request.path))
            if reply is None:
                reply = self._routes.get((request.method, "*"))
        return reply if reply is not None else Reply(404, b"not found")

    def _record(self, request):
        with self._lock:
            self.requests.append(request)
            self._lock.notify_all()

    def requests_to(self, path, method=None):
        with self._lock:
            return [r for r in self.requests if r.path == path and (method is None or r.method == method)]

    def wait_for_request(self, path, count=1, timeout=60, method=None):
        """Waits until `count` requests to `path` have arrived; returns them."""
        deadline = time.monotonic() + timeout
        with self._lock:
            while True:
                found = [r for r in self.requests if r.path == path and (method is None or r.method == method)]
                if len(found) >= count:
                    return found
                left = deadline - time.monotonic()
                if left <= 0:
                    raise TimeoutError("no %s request to %s within %ss" % (method or "", path, timeout))
                self._lock.wait(left)


def install_generic_routes(server):
    """Answers the unit tests script through the query string."""

    def echo(request):
        headers = [("X-Echo-Method", request.method), ("X-Echo-Body-Length", str(len(request.body)))]
        headers += [("X-Echo-" + name, value) for name, value in request.headers]
        return Reply(200, request.body, headers=headers)

    def status(request):
        p = request.params()
        return Reply(int(p.get("code", ["200"])[0]), p.get("body", [""])[0].encode())

    def redirect(request):
        p = request.params()
        hops = int(p.get("hops", ["1"])[0])
        code = int(p.get("code", ["302"])[0])
        if hops == 0:
            return Reply(200, b"arrived", headers=[("X-Hop", "last"), ("X-Arrived", "yes")])
        return Reply(code, b"moved %d" % hops,
                     headers=[("Location", "/redirect?hops=%d&code=%d" % (hops - 1, code)),
                              ("X-Hop", str(hops)), ("X-Hop-%d" % hops, "seen")])

    def headers(request):
        return Reply(200, b"headers", raw_header_lines=[
            "X-Padded \t: \t value with  inner spaces \t",
            "X-Case: upper",
            "x-case: lower",
            "X-Twice: first",
            "X-Twice: second",
            "X-Empty:",
            "X-Colons: a:b:c",
        ])

    def generated(request):
        return Reply(200, generated_size=int(request.params()["size"][0]))

    def cut_short(request):
        return Reply(200, b"0123456789", content_length=1000)

    def stall(request):
        return Reply(200, b"0123456789", content_length=1000, then="stall")

    def trickle(request):
        p = request.params()
        return Reply(200, b"t" * int(p["bytes"][0]), byte_gap=float(p["gap"][0]))

    for method in ("GET", "POST"):
        server.route(method, "/echo", echo)
        server.route(method, "/status", status)
        server.route(method, "/redirect", redirect)
        server.route(method, "/headers", headers)
        server.route(method, "/bytes", generated)
        server.route(method, "/short", cut_short)
        server.route(method, "/stall", stall)
        server.route(method, "/trickle", trickle)


def sandbox_environment(root):
    """HOME and the XDG folders under `root`, so no test touches a real home."""
    env = dict(os.environ)
    for name, sub in (("HOME", "home"), ("XDG_DATA_HOME", "home/.local/share"),
                      ("XDG_RUNTIME_DIR", "runtime"), ("TMPDIR", "tmp")):
        path = os.path.join(root, sub)
        os.makedirs(path, mode=0o700, exist_ok=True)
        env[name] = path
    return env


def wrap(command):
    root = tempfile.mkdtemp(prefix="orvane-http-")
    try:
        with ScriptedServer() as server:
            install_generic_routes(server)
            env = sandbox_environment(root)
            env["ORVANE_TEST_HTTP_PORT"] = str(server.port)
            return subprocess.call(command, env=env)
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    if len(sys.argv) < 3 or sys.argv[1] != "wrap":
        sys.exit("usage: http_server.py wrap COMMAND [ARGS...]")
    sys.exit(wrap(sys.argv[2:]))
