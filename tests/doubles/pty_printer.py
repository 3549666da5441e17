#!/usr/bin/env python3
"""A two-way USB receipt printer on a pseudo-terminal, for the tests.

    pty_printer.py NODE FOLDER [--state WORD] [--after N --then WORD]
                   [--answers normal|silent|no-confirm|garbage|late|twice|flood]
                   [--vanish] [--slave-mode OCTAL]

NODE becomes a link to the terminal's slave side, in raw mode, which the
add-on opens as it opens a printer's node. What the add-on writes arrives on
the master side, where the printer keeps the status queries apart from the
receipt bytes and answers them as an ESC/POS printer does:

- DLE EOT 1, 2, 4 (real-time status): one byte at once, from the state;
- GS r 1 (paper sensor status, processed in turn): one byte once every byte
  before it has been taken; a printer that cannot print holds it.

States: ready, paper-low, paper-out, cover-open, error, offline. `--after N
--then WORD` changes the state once N receipt bytes have come. Answers:
normal; silent (none); no-confirm (status only, never GS r); garbage (0xFF,
no status byte); late (each 700 ms after its query); twice (each sent twice);
flood (0xFF without end, nothing else). `--vanish` removes NODE just before
the answer that completes the first status cycle (DLE EOT 4).

Files in FOLDER: "received" (receipt bytes), "queries" (one line per query,
in hex), "ready" (the slave's path, once NODE is in place). A file "sync"
made by the test is removed once everything sent so far has been read and
written down; a file "stop", or FOLDER's removal, ends the printer.
"""

import argparse
import fcntl
import os
import select
import sys
import termios
import time
import tty

# DLE EOT 1, 2, 4 answers: fixed bits 0x12; offline 0x08 (n=1); cover open
# 0x04, stopped at paper end 0x20, error 0x40 (n=2); paper near end 0x0C,
# paper end 0x60 (n=4).
STATES = {
    "ready": (0x12, 0x12, 0x12),
    "paper-low": (0x12, 0x12, 0x1E),
    "paper-out": (0x1A, 0x32, 0x72),
    "cover-open": (0x1A, 0x16, 0x12),
    "error": (0x1A, 0x52, 0x12),
    "offline": (0x1A, 0x12, 0x12),
}
CAN_PRINT = {"ready", "paper-low"}
QUERIES = {b"\x10\x04\x01": 0, b"\x10\x04\x02": 1, b"\x10\x04\x04": 2, b"\x1d\x72\x01": None}
LATE = 0.7


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("node")
    parser.add_argument("folder")
    parser.add_argument("--state", default="ready", choices=sorted(STATES))
    parser.add_argument("--after", type=int, default=-1)
    parser.add_argument("--then", default="ready", choices=sorted(STATES))
    parser.add_argument("--answers", default="normal",
                        choices=["normal", "silent", "no-confirm", "garbage", "late", "twice", "flood"])
    parser.add_argument("--vanish", action="store_true")
    parser.add_argument("--slave-mode", type=lambda text: int(text, 8))
    options = parser.parse_args()

    master, slave = os.openpty()
    tty.setraw(slave)
    # The terminal is this process's own controlling terminal, so no other
    # opener without O_NOCTTY (Wine's server is one) takes it as its own and
    # is sent SIGHUP when the printer ends.
    try:
        os.setsid()
    except OSError:
        pass  # a session leader already (Wine starts Unix programs so)
    try:
        fcntl.ioctl(slave, termios.TIOCSCTTY, 0)
    except OSError:
        pass
    os.set_blocking(master, False)
    slave_path = os.ttyname(slave)
    if options.slave_mode is not None:
        os.chmod(slave_path, options.slave_mode)
    if os.path.lexists(options.node):
        os.remove(options.node)
    os.symlink(slave_path, options.node)
    folder = options.folder
    received = open(os.path.join(folder, "received"), "ab")
    queries = open(os.path.join(folder, "queries"), "a")
    with open(os.path.join(folder, "ready.part"), "w") as ready:
        ready.write(slave_path)
    os.rename(os.path.join(folder, "ready.part"), os.path.join(folder, "ready"))

    state = options.state
    taken = 0           # receipt bytes so far
    pending = b""       # the start of what may be a query
    held = 0            # GS r 1 requests waiting for the printer to print again
    answers = []        # (when, bytes)
    vanished = False

    def answer(data):
        if options.answers == "late":
            answers.append((time.monotonic() + LATE, data))
        else:
            answers.append((0, data * (2 if options.answers == "twice" else 1)))

    def on_query(query):
        nonlocal vanished, held
        queries.write(query.hex() + "\n")
        queries.flush()
        if options.answers in ("silent", "flood"):
            return
        if options.answers == "garbage":
            answer(b"\xff")
            return
        index = QUERIES[query]
        if index is None:
            if options.answers == "no-confirm":
                return
            if state in CAN_PRINT:
                answer(b"\x00")
            else:
                held += 1
            return
        if options.vanish and index == 2 and not vanished:
            vanished = True
            os.remove(options.node)
        answer(bytes([STATES[state][index]]))

    def feed(data):
        """Splits what came into queries and receipt bytes."""
        nonlocal pending
        out = bytearray()
        work = bytearray(data)
        i = 0
        while i < len(work):
            pending += bytes([work[i]])
            i += 1
            if any(q.startswith(pending) for q in QUERIES):
                if pending in QUERIES:
                    query, pending = pending, b""
                    flush(out)
                    out = bytearray()
                    on_query(query)
                continue
            # Not a query: its first byte is receipt data; the rest is looked at again.
            out.append(pending[0])
            work[i:i] = pending[1:]
            pending = b""
        flush(out)

    def flush(data):
        nonlocal taken, state, held
        if not data:
            return
        received.write(bytes(data))
        received.flush()
        taken += len(data)
        if options.after >= 0 and taken >= options.after and state != options.then:
            state = options.then
            if state in CAN_PRINT and held:
                answer(b"\x00" * held)
                held = 0

    def drain():
        while True:
            try:
                data = os.read(master, 65536)
            except BlockingIOError:
                return
            except OSError:
                return
            if not data:
                return
            feed(data)

    flood = b"\xff" * 4096
    # The folder going away ends the printer too, so a test that ends early leaves nothing running.
    while os.path.isdir(folder) and not os.path.exists(os.path.join(folder, "stop")):
        now = time.monotonic()
        due = [a for a in answers if a[0] <= now]
        answers[:] = [a for a in answers if a[0] > now]
        for _, data in due:
            os.write(master, data)
        writers = [master] if options.answers == "flood" else []
        timeout = 0.005
        if answers:
            timeout = max(0.0, min(timeout, min(a[0] for a in answers) - now))
        readable, writable, _ = select.select([master], writers, [], timeout)
        if readable:
            drain()
        if writable:
            try:
                os.write(master, flood)
            except BlockingIOError:
                pass
        sync = os.path.join(folder, "sync")
        if os.path.exists(sync):
            drain()
            try:
                os.remove(sync)
            except FileNotFoundError:
                pass
    received.close()
    queries.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
