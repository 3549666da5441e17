"""Waiting for what another process does, shared by the Python suites."""

import time


def wait_until(predicate, what="condition", timeout=60.0):
    """Polls `predicate` until it returns a true value, which is returned;
    raises AssertionError after `timeout` seconds. `what` names the
    condition; a callable is asked then, so it can tell the state it sees."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + (what() if callable(what) else what))
        time.sleep(0.05)
