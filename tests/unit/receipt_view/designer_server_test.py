"""The designer's server under requests no browser sends, then its answers to
good ones: after each malformed request it still draws a receipt, the bytes
it gives are the encoder's, and SIGINT ends it cleanly.

    designer_server_test.py ORVANE_RECEIPT_VIEW
"""

import base64
import http.client
import json
import socket
import sys

from designer_support import Designer, encoder_bytes

MIB = 1 << 20
QUERY = "/receipt?route=device&paper=80&codepage=936"
RECEIPT = "<p_s><c1>谢谢 Thanks\n<h1>Tea x2  8.00\n<bc>123456789012345678<p_e><o_s>T-77<o_e>"


def post(path, body, length=None, content_type="application/octet-stream"):
    head = "POST %s HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Type: %s\r\nContent-Length: %s\r\n\r\n" % (
        path, content_type, len(body) if length is None else length)
    return head.encode() + body


def chunked(path, body):
    head = "POST %s HTTP/1.1\r\nHost: x\r\nConnection: close\r\nTransfer-Encoding: chunked\r\n\r\n" % path
    return head.encode() + b"%x\r\n" % len(body) + body + b"\r\n0\r\n\r\n"


# What is sent; the status the server must answer with (None: none, it may
# just close); and whether the client then gives up, shutting its side as a
# client that dies in the middle of a request does. After each the server
# must still draw a receipt.
MALFORMED = [
    ("garbage request line", b"\x00\xff\x16\x03\x01 nonsense\r\n\r\n", 400, False),
    ("no version", b"GET /\r\n\r\n", 400, False),
    ("unknown method", b"BREW / HTTP/1.1\r\nHost: x\r\n\r\n", 400, False),
    ("huge header", b"GET / HTTP/1.1\r\nHost: x\r\nX-Pad: " + b"a" * 100000 + b"\r\n\r\n", 400, False),
    ("many headers", b"GET / HTTP/1.1\r\n" + b"".join(b"X-%d: v\r\n" % i for i in range(5000)) + b"\r\n", 200, False),
    ("huge address", b"GET /" + b"a" * 20000 + b" HTTP/1.1\r\nHost: x\r\n\r\n", 414, False),
    # The library reads a length that is no number as no body.
    ("length not a number", post(QUERY, b"", "abc"), 200, False),
    # Refused once the library has waited, up to its read timeout, for what the length announced.
    ("negative length", post(QUERY, b"<p_s>", "-5"), 413, False),
    ("length past any size", post(QUERY, b"<p_s>", "99999999999999999999999"), 413, False),
    ("body over 1 MiB", post(QUERY, b"x" * (MIB + 1)), 413, False),
    ("chunked body over 1 MiB", chunked(QUERY, b"x" * (MIB + 1)), 413, False),
    # What curl --data-binary sends unless told otherwise.
    ("form-encoded body over 8 KiB", post(QUERY, b"x" * 9000, content_type="application/x-www-form-urlencoded"),
     413, False),
    # Waits for the rest until the server's read timeout gives up on it.
    ("truncated body, client waits", post(QUERY, b"<p_s><h1>abc", 1000), 400, False),
    ("truncated body, client gone", post(QUERY, b"<p_s><h1>abc", 1000), None, True),
    ("truncated chunk, client gone",
     b"POST %s HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\nfff\r\nabc" % QUERY.encode(), None, True),
    ("bad chunk size", b"POST %s HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n\r\n" % QUERY.encode(),
     400, False),
    ("unknown route", post("/receipt?route=usb&paper=80&codepage=936", b"<p_s>"), 400, False),
    ("unknown paper", post("/receipt?route=device&paper=57&codepage=936", b"<p_s>"), 400, False),
    ("unknown code page", post("/receipt?route=device&paper=58&codepage=65001", b"<p_s>"), 400, False),
    ("no parameters", post("/picture", b"<p_s>"), 400, False),
    ("unknown page", b"GET /etc/passwd HTTP/1.1\r\nHost: x\r\n\r\n", 404, False),
]


def read_answer(connection):
    """The first answer on `connection`: its status and body; (None, b"") when
    the server closes without one."""
    answer = b""
    while b"\r\n\r\n" not in answer:
        chunk = connection.recv(65536)
        if not chunk:
            return None, b""
        answer += chunk
    head, _, body = answer.partition(b"\r\n\r\n")
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value)
    while len(body) < length:
        chunk = connection.recv(65536)
        if not chunk:
            break
        body += chunk
    return int(head.split()[1]), body


def send_raw(port, data, give_up):
    """Sends `data` and gives the answer's status and body (None: no answer).
    With `give_up` the client stops sending: it shuts its side, as one that
    dies in the middle of a request does."""
    with socket.create_connection(("127.0.0.1", port), timeout=60) as connection:
        try:
            connection.sendall(data)
            if give_up:
                connection.shutdown(socket.SHUT_WR)
        except (BrokenPipeError, ConnectionResetError):
            pass  # refused before it was all sent; the answer may still be there
        try:
            return read_answer(connection)
        except ConnectionResetError:
            return None, b""


def request(port, method, path, body=None):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
    try:
        connection.request(method, path, body=body)
        response = connection.getresponse()
        return response.status, response.getheader("Content-Type"), response.read()
    finally:
        connection.close()


def check(condition, message, failures):
    if not condition:
        failures.append(message)
        print("FAIL: " + message)


def main():
    viewer = sys.argv[1]
    designer = Designer(viewer)
    failures = []
    try:
        for name, data, expected, give_up in MALFORMED:
            status, body = send_raw(designer.port, data, give_up)
            check(status == expected, "%s: status %s, not %s" % (name, status, expected), failures)
            if status is not None and status >= 400:
                check(body.strip() != b"", "%s: %s without a reason" % (name, status), failures)
            if expected == 413:
                check(b"over 1 MiB" in body or b"over 8 KiB" in body, "%s: %r" % (name, body[:200]), failures)
            alive, kind, drawn = request(designer.port, "POST", QUERY, RECEIPT.encode())
            check(alive == 200 and kind == "application/json", "after %s: %s %s" % (name, alive, drawn[:200]),
                  failures)
            print("%s: %s, then a receipt drawn" % (name, status))

        # The limit itself: exactly 1 MiB is drawn.
        status, _, _ = request(designer.port, "POST", "/picture?route=spooler&paper=58&codepage=936", b"x" * MIB)
        check(status == 200, "a text of exactly 1 MiB: %s" % status, failures)

        status, kind, page = request(designer.port, "GET", "/")
        check(status == 200 and kind.startswith("text/html") and b'id="editor"' in page, "the page", failures)
        check(b"http:" not in page and b"https:" not in page, "the page names another host", failures)

        # Bytes exactly as the encoder gives them, on each route and code page.
        for route in ("device", "spooler"):
            for code_page in (936, 1252):
                path = "/receipt?route=%s&paper=58&codepage=%d" % (route, code_page)
                status, _, answer = request(designer.port, "POST", path, RECEIPT.encode())
                design = json.loads(answer)
                got = base64.b64decode(design["bytes"])
                check(got == encoder_bytes(viewer, RECEIPT, route, code_page),
                      "%s, code page %d: the bytes differ from the encoder's" % (route, code_page), failures)
                order = design["orderId"]
                check(order["reported"] and order["id"] == "T-77", "%s: order id %r" % (route, order), failures)
                png = base64.b64decode(design["png"])
                check(png.startswith(b"\x89PNG\r\n\x1a\n"), "%s: no PNG" % route, failures)
                print("%s, code page %d: %d bytes, %d paragraph(s), %d warning(s)"
                      % (route, code_page, len(got), design["paragraphCount"], len(design["warnings"])))
        status, kind, png = request(designer.port, "POST", "/picture?route=device&paper=80&codepage=936",
                                    RECEIPT.encode())
        check(status == 200 and kind == "image/png" and png.startswith(b"\x89PNG"), "/picture", failures)
    finally:
        stopped = designer.stop()
    check(stopped is None, str(stopped), failures)
    print("%d failure(s)" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
