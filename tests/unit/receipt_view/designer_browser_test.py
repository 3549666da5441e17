"""The receipt designer in a real browser: Debian's Chromium, headless, driven
over its DevTools protocol on a pipe (fd 3 in, fd 4 out, messages ending in
a zero byte), so no WebSocket client is needed. A receipt is typed into the
page; once the page has drawn it, zbarimg reads the barcode back from a
screenshot, the hex dump and the downloaded bytes must equal the encoder's
bytes for the route, and the warnings must name what is wrong. Exits 77
(skipped) when Chromium is missing or cannot start.

    designer_browser_test.py ORVANE_RECEIPT_VIEW SCREENSHOT.png
"""

import base64
import fcntl
import json
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))

from designer_support import SKIP, Designer, encoder_bytes  # noqa: E402
from waiting import wait_until  # noqa: E402

CHROMIUM = "/usr/bin/chromium"
# As root Chromium needs --no-sandbox; without the networking switches it
# tries hosts this machine cannot reach.
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--disable-default-apps", "--disable-extensions", "--mute-audio", "--remote-debugging-pipe"]
# How long the page may take to reach a state before the test gives up: a
# guard against hanging, not a measure.
PATIENCE = 180
MIB = 1 << 20

RECEIPT = "\n".join([
    "<p_s><c1>谢谢惠顾 Thanks",
    "<h1>Tea x2            8.00",
    "<bc>123456789012345678<p_e>",
    "<o_s>T-77<o_e>",
])
MISTAKES = "\n".join([
    "Welcome!",
    "<p_s><c1>谢谢 Thanks",
    "<h1>Order 5",
    "<bc>ABCDEFGHIJKLMNOPQRST<h1>",
    "<bc>A-1001<p_e>",
])


class BrowserFailed(Exception):
    pass


def high(fd):
    """`fd` moved above the numbers the child's pipe ends take."""
    moved = fcntl.fcntl(fd, fcntl.F_DUPFD_CLOEXEC, 10)
    os.close(fd)
    return moved


class Browser:
    def __init__(self, profile, log):
        to_read, self.to_write = os.pipe()
        self.from_read, from_write = os.pipe()
        to_read, from_write = high(to_read), high(from_write)

        def pipe_ends():
            os.dup2(to_read, 3)
            os.dup2(from_write, 4)

        self.process = subprocess.Popen([CHROMIUM] + FLAGS + ["--user-data-dir=" + profile, "about:blank"],
                                        pass_fds=(3, 4), preexec_fn=pipe_ends, stdin=subprocess.DEVNULL,
                                        stdout=log, stderr=log)
        os.close(to_read)
        os.close(from_write)
        self.buffer = b""
        self.events = []
        self.last = 0

    def _message(self, deadline):
        while b"\0" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.from_read], [], [], left)[0]:
                raise BrowserFailed("no answer from Chromium in %d s" % PATIENCE)
            chunk = os.read(self.from_read, 1 << 20)
            if not chunk:
                raise BrowserFailed("Chromium closed its pipe (status %s)" % self.process.poll())
            self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)

    def call(self, method, params=None, session=None):
        self.last += 1
        message = {"id": self.last, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.to_write, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + PATIENCE
        while True:
            answer = self._message(deadline)
            if answer.get("id") != self.last:
                self.events.append(answer)
                continue
            if "error" in answer:
                raise BrowserFailed("%s: %s" % (method, answer["error"]))
            return answer["result"]

    def wait_event(self, method, session):
        deadline = time.monotonic() + PATIENCE
        while True:
            for i, event in enumerate(self.events):
                if event.get("method") == method and event.get("sessionId") == session:
                    return self.events.pop(i)
            self.events.append(self._message(deadline))

    def close(self):
        try:
            self.call("Browser.close")
        except (BrowserFailed, OSError):
            pass
        try:
            self.process.wait(30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        os.close(self.to_write)
        os.close(self.from_read)


class Page:
    def __init__(self, browser, url):
        self.browser = browser
        target = browser.call("Target.createTarget", {"url": "about:blank"})["targetId"]
        self.session = browser.call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        self.call("Page.enable")
        self.call("Emulation.setDeviceMetricsOverride",
                  {"width": 1600, "height": 1200, "deviceScaleFactor": 1, "mobile": False})
        self.call("Page.navigate", {"url": url})
        browser.wait_event("Page.loadEventFired", self.session)

    def call(self, method, params=None):
        return self.browser.call(method, params, self.session)

    def js(self, expression):
        result = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True, "awaitPromise": True})
        if "exceptionDetails" in result:
            raise BrowserFailed("%s: %s" % (expression, result["exceptionDetails"]))
        return result["result"].get("value")

    def drawn(self):
        """Waits until the page has answered its latest text; gives its state and status line."""
        last = {}

        def answered():
            state = last["state"] = self.js(
                "[document.body.dataset.state, document.body.dataset.revision,"
                " document.body.dataset.drawnRevision, document.getElementById('status').textContent]")
            return state if state[1] == state[2] and state[0] in ("drawn", "error") else None

        state = wait_until(answered, lambda: "the page to draw: %r" % last.get("state"), PATIENCE)
        return state[0], state[3]

    def type(self, text):
        """Replaces the mark-up as a person typing (or pasting) it would."""
        self.js("{ const e = document.getElementById('editor'); e.focus(); e.select(); }")
        self.call("Input.insertText", {"text": text})

    def choose(self, select, value):
        self.js("{ const s = document.getElementById('%s'); s.value = '%s'; s.dispatchEvent(new Event('change')); }"
                % (select, value))

    def dump(self):
        return bytes.fromhex(self.js("Array.from(document.querySelectorAll('#dump .hex'), e => e.textContent).join(' ')"))

    def warnings(self):
        return [tuple(w) for w in self.js(
            "Array.from(document.querySelectorAll('#warnings li[data-kind]'), e => [e.dataset.kind, Number(e.dataset.line)])")]

    def screenshot(self, selector=None):
        params = {"format": "png", "captureBeyondViewport": True}
        if selector:
            box = self.js("(() => { const r = document.querySelector('%s').getBoundingClientRect();"
                          " return [r.left + scrollX, r.top + scrollY, r.width, r.height]; })()" % selector)
            params["clip"] = {"x": box[0], "y": box[1], "width": box[2], "height": box[3], "scale": 1}
        return base64.b64decode(self.call("Page.captureScreenshot", params)["data"])


def barcodes(png, work):
    path = os.path.join(work, "shot.png")
    with open(path, "wb") as out:
        out.write(png)
    found = subprocess.run(["zbarimg", "--raw", "-q", path], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                           text=True).stdout
    return [line for line in found.splitlines() if line]


def main():
    viewer, screenshot_path = sys.argv[1], sys.argv[2]
    if not os.access(CHROMIUM, os.X_OK):
        print("SKIP: %s is not installed" % CHROMIUM)
        return SKIP
    failures = []

    def check(condition, message):
        print(("ok: " if condition else "FAIL: ") + message)
        if not condition:
            failures.append(message)

    work = tempfile.mkdtemp(prefix="designer-browser-")
    designer = Designer(viewer)
    browser = None
    log = open(os.path.join(work, "chromium.log"), "wb")
    try:
        try:
            browser = Browser(os.path.join(work, "profile"), log)
            version = browser.call("Browser.getVersion")["product"]
        except (BrowserFailed, OSError) as error:
            with open(os.path.join(work, "chromium.log"), "rb") as written:
                tail = written.read()[-2000:].decode(errors="replace")
            print("SKIP: Chromium cannot start: %s\n%s" % (error, tail))
            return SKIP
        print("browser: " + version)
        page = Page(browser, designer.url)

        state, status = page.drawn()
        check(state == "drawn", "the sample receipt is drawn: " + status)
        check(page.warnings() == [], "the sample has no warnings: %r" % page.warnings())
        check(barcodes(page.screenshot("#picture"), work) == ["A-1001"], "the sample's barcode reads A-1001")

        page.type(RECEIPT)
        state, status = page.drawn()
        check(state == "drawn", "typed receipt drawn: " + status)
        check(page.js("document.getElementById('editor').value") == RECEIPT, "the editor holds what was typed")
        for route in ("device", "spooler"):
            page.choose("route", route)
            state, status = page.drawn()
            expected = encoder_bytes(viewer, RECEIPT, route, 936)
            check(page.dump() == expected, "%s: the hex dump is the encoder's %d bytes" % (route, len(expected)))
            read = barcodes(page.screenshot("#picture"), work)
            check(read == ["123456789012345678"], "%s: zbar reads the barcode as typed: %r" % (route, read))
            order = page.js("document.getElementById('orderid').textContent")
            check(order.startswith("T-77"), "%s: the order id comes back: %s" % (route, order))
            marks = page.js("[document.querySelectorAll('.para').length, document.querySelectorAll('.cut').length]")
            check(marks == [1, 1 if route == "spooler" else 0], "%s: paragraphs and cuts marked: %r" % (route, marks))

        # The download is the spooler route's bytes.
        downloads = os.path.join(work, "downloads")
        os.makedirs(downloads)
        browser.call("Browser.setDownloadBehavior", {"behavior": "allow", "downloadPath": downloads})
        page.js("document.getElementById('download').click()")
        saved = os.path.join(downloads, "receipt-spooler.bin")
        wait_until(lambda: os.path.exists(saved), "the download " + saved, PATIENCE)
        check(os.path.exists(saved) and open(saved, "rb").read() == encoder_bytes(viewer, RECEIPT, "spooler", 936),
              "the downloaded bytes are the encoder's")

        page.choose("route", "device")
        page.choose("paper", "58")
        page.type(MISTAKES)
        state, status = page.drawn()
        found = page.warnings()
        check(("outside-paragraph", 1) in found, "text outside a paragraph is warned of on line 1: %r" % found)
        check(("barcode-too-wide", 4) in found, "the barcode too wide for 58 mm is warned of on line 4: %r" % found)
        read = barcodes(page.screenshot("#picture"), work)
        check(read == ["A-1001"], "only the barcode that fits is printed: %r" % read)
        with open(screenshot_path, "wb") as out:
            out.write(page.screenshot())
        print("screenshot: " + screenshot_path)

        page.js("{ const e = document.getElementById('editor'); e.value = 'x'.repeat(%d);"
                " e.dispatchEvent(new Event('input')); }" % (MIB + 1))
        state, status = page.drawn()
        check(state == "error" and "over 1 MiB" in status, "a text over 1 MiB is refused: " + status)
    except (BrowserFailed, AssertionError) as error:
        check(False, str(error))
    finally:
        if browser:
            browser.close()
        log.close()
        stopped = designer.stop()
        shutil.rmtree(work, ignore_errors=True)
    check(stopped is None, "the designer stops cleanly: %s" % stopped)
    print("%d failure(s)" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
