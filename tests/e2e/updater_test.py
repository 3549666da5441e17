"""The built updater against the stand-in client: single instance, lock
housekeeping, crash-dump lines, and its restart by the launcher."""

import os
import re
import shutil
import signal
import unittest

import harness
from harness import wait_until, write_bytes

# Under Wine every program start goes through the emulator: be patient.
TIMEOUT = 240


class UpdaterTest(unittest.TestCase):
    def setUp(self):
        self.sb = harness.make_sandbox("updater")
        self.addCleanup(self.sb.close)
        self.sb.install_program("Orvane")
        self.sb.install_program("orvane_launcher")
        # The tests' build of the updater talks only to the loopback
        # interface, so its update check fails at once.
        loopback = os.path.join(os.path.dirname(self.sb.bin_dir), "loopback",
                                "orvane_updater" + self.sb.exe_suffix)
        if os.path.exists(loopback):
            target = os.path.join(self.sb.install, "orvane_updater" + self.sb.exe_suffix)
            shutil.copyfile(loopback, target)
            os.chmod(target, 0o755)
        else:
            self.sb.install_program("orvane_updater")
        self.log = os.path.join(self.sb.work, "orvane_updater.log")
        self.package_locks = os.path.join(self.sb.work, "package.nw", "lockfiles")

    # Helpers ------------------------------------------------------------------

    def log_bytes(self):
        try:
            return harness.read_bytes(self.log)
        except FileNotFoundError:
            return b""

    def start_client(self, slot):
        folder = self.sb.kesto("UserData_%d" % slot)
        # Passed as one argument already, so without the quotes of a command line.
        self.sb.start("Orvane", ["--user-data-dir=" + self.sb.path(folder)])
        lockfile = os.path.join(folder, "lockfile")
        wait_until(lambda: self.record_of(slot), "the lock record of slot %d" % slot, timeout=TIMEOUT)
        return lockfile

    def record_of(self, slot):
        """The lock record whose content names the slot's lockfile."""
        folder = self.sb.kesto("lockfiles")
        marker = ("UserData_%d" % slot).encode()
        for name in os.listdir(folder) if os.path.isdir(folder) else []:
            path = os.path.join(folder, name)
            try:
                if marker in harness.read_bytes(path):
                    return path
            except OSError:
                pass
        return None

    def end_client(self, slot):
        """Ends the client of a slot the hard way: its lock files stay."""
        marker = ("UserData_%d" % slot).encode()
        mine = set(self.sb.running("Orvane"))
        victims = [pid for pid in harness.process_ids_mentioning([marker]) if pid in mine]
        self.assertTrue(victims, "no client runs on slot %d" % slot)
        for pid in victims:
            os.kill(pid, signal.SIGKILL)
        wait_until(lambda: not set(victims) & set(self.sb.running("Orvane")), "the client to end", timeout=TIMEOUT)

    def start_updater(self):
        self.sb.start("orvane_updater")
        return wait_until(lambda: self.sb.running("orvane_updater"), "the updater to start", timeout=TIMEOUT)

    # Cases --------------------------------------------------------------------

    def test_second_updater_exits_at_once_while_the_first_keeps_running(self):
        write_bytes(os.path.join(self.sb.app_data, "Crashpad", "reports", "first.dmp"), b"MDMP")
        first = self.start_updater()
        wait_until(lambda: b"send dump file:" in self.log_bytes(), "the first tick's scan", timeout=TIMEOUT)

        status, _, _ = self.sb.run("orvane_updater", timeout=TIMEOUT)
        self.assertEqual(status, 0)
        self.assertEqual(self.sb.running("orvane_updater"), first)
        # The second one logged nothing: the next scan is thirty ticks away.
        self.assertEqual(self.log_bytes().count(b"send dump file:"), 1)

    def test_guard_that_cannot_be_made_lets_the_updater_run(self):
        if self.sb.mode == "wine":
            self.skipTest("Windows keeps the guard in the logon session, not in a folder")
        write_bytes(os.path.join(self.sb.app_data, "Crashpad", "reports", "first.dmp"), b"MDMP")
        for case in ("missing", "a file"):
            with self.subTest(runtime=case):
                shutil.rmtree(self.sb.runtime, ignore_errors=True)
                if case == "a file":
                    write_bytes(self.sb.runtime, b"")
                before = self.log_bytes().count(b"send dump file:")
                pids = self.start_updater()
                wait_until(lambda: self.log_bytes().count(b"send dump file:") > before, "the first tick's scan",
                           timeout=TIMEOUT)
                for pid in pids:
                    os.kill(pid, signal.SIGKILL)
                wait_until(lambda: not self.sb.running("orvane_updater"), "the updater to end", timeout=TIMEOUT)
                if case == "a file":
                    os.remove(self.sb.runtime)

    def test_housekeeping_follows_the_clients(self):
        stale_lock = self.start_client(1)
        live_lock = self.start_client(2)
        stale_record, live_record = self.record_of(1), self.record_of(2)
        self.end_client(1)
        self.assertTrue(os.path.exists(stale_lock) and os.path.exists(stale_record))

        self.start_updater()
        wait_until(lambda: not os.path.exists(stale_record), "the stale record to go", timeout=TIMEOUT)
        self.assertFalse(os.path.exists(stale_lock))
        self.assertTrue(os.path.exists(live_lock))
        self.assertTrue(os.path.exists(live_record))
        self.assertTrue(os.path.isdir(self.package_locks), "a client still runs")
        self.assertTrue(os.path.isdir(os.path.dirname(stale_lock)), "slot folders stay")

        write_bytes(os.path.join(self.package_locks, "inner", "file"), b"x")
        self.end_client(2)
        wait_until(lambda: not os.path.exists(self.package_locks), "the package lock folder to go", timeout=TIMEOUT)
        self.assertFalse(os.path.exists(live_record))
        self.assertFalse(os.path.exists(live_lock))
        self.assertTrue(os.path.isdir(os.path.dirname(self.package_locks)))

    def test_crash_dumps_are_logged_with_their_report_names(self):
        status, _, _ = self.sb.run("Orvane", ["--crash-dump", "--run-seconds=0"], timeout=TIMEOUT)
        self.assertEqual(status, 0)
        reports = os.path.join(self.sb.app_data, "Crashpad", "reports")
        dumps = os.listdir(reports)
        self.assertEqual(len(dumps), 1)
        write_bytes(os.path.join(reports, ".hidden.dmp"), b"MDMP")

        self.start_updater()
        path = self.sb.path(os.path.join(reports, dumps[0])).encode()
        line = re.compile(rb"\r\nsend dump file:" + re.escape(path) + rb"[0-9a-f]{32}_[0-9]{10}")
        # The path and the report name are separate writes.
        wait_until(lambda: line.search(self.log_bytes()), "the scan's line", timeout=TIMEOUT)
        self.assertEqual(self.log_bytes().count(b"send dump file:"), 1)

    def test_launcher_restart_leaves_exactly_one_updater(self):
        old = self.start_updater()
        for _ in range(2):
            status, _, _ = self.sb.run("orvane_launcher", timeout=TIMEOUT)
            self.assertEqual(status, 1, "the launcher started an updater")
            now = wait_until(lambda: (lambda pids: pids if pids and not set(pids) & set(old) else None)(
                self.sb.running("orvane_updater")), "the old updater to be replaced", timeout=TIMEOUT)
            self.assertEqual(len(now), 1, now)
            old = now


if __name__ == "__main__":
    unittest.main()
