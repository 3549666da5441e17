"""The receipt designer started for a test: `orvane_receipt_view --serve` on
an ephemeral loopback port, stopped with SIGINT, which must end it cleanly
(status 0, no sanitizer report)."""

import os
import re
import signal
import subprocess
import tempfile
import threading

SKIP = 77  # CTest's SKIP_RETURN_CODE for these tests


class Designer:
    def __init__(self, viewer):
        self.viewer = viewer
        self.log = tempfile.TemporaryFile()
        self.process = subprocess.Popen([viewer, "--serve"], stdout=subprocess.PIPE, stderr=self.log)
        # The first line names the address; read on a thread so a silent
        # server fails the test instead of hanging it.
        found = {}

        def read():
            found["line"] = self.process.stdout.readline().decode(errors="replace")

        reader = threading.Thread(target=read, daemon=True)
        reader.start()
        reader.join(60)
        match = re.search(r"http://127\.0\.0\.1:(\d+)/", found.get("line", ""))
        if not match:
            self.process.kill()
            self.process.wait()
            raise AssertionError("no address from the designer: %r; %s" % (found.get("line"), self.errors()))
        self.port = int(match.group(1))
        self.url = match.group(0)

    def errors(self):
        self.log.seek(0)
        return self.log.read().decode(errors="replace")

    def stop(self):
        """Stops the server as Ctrl-C does; gives what went wrong, or None."""
        self.process.send_signal(signal.SIGINT)
        try:
            status = self.process.wait(60)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            return "the designer did not stop on SIGINT"
        errors = self.errors()
        if status != 0:
            return "the designer ended with status %d: %s" % (status, errors)
        if re.search(r"AddressSanitizer|LeakSanitizer|runtime error:", errors):
            return "sanitizer report: " + errors
        return None


def encoder_bytes(viewer, text, route, code_page):
    """The add-on's encoder on the command line, converting as under a
    Windows whose ANSI code page is `code_page` (936 or 1252)."""
    with tempfile.TemporaryDirectory() as work:
        source = os.path.join(work, "receipt.txt")
        with open(source, "wb") as out:
            out.write(text.encode("utf-8") if isinstance(text, str) else text)
        env = dict(os.environ, LC_ALL="zh_CN.UTF-8" if code_page == 936 else "C.UTF-8")
        subprocess.run([viewer, "--markup", source, "--route", route, "-o", os.path.join(work, "r.png"),
                        "--write-bytes", os.path.join(work, "r.bin")], env=env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        with open(os.path.join(work, "r.bin"), "rb") as saved:
            return saved.read()
