"""The launcher run for real: natively, and as orvane_launcher.exe under Wine.

Each test installs the launcher, the stand-in client and a stand-in updater
(orvane_process_double under the updater's name; it records each start in
orvane_updater.runs in its current directory) side by side in a sandbox, runs
the launcher in the sandbox's work folder and checks the files it leaves.
"""

import os
import select
import subprocess
import unittest

import harness
from harness import ID_PATTERN, read_bytes, wait_until, write_bytes

CLIENT_MISSING_BOX = "错误: 运行奥维恩客户端失败".encode()
NO_APPDATA_BOX = "错误: 启动奥维恩客户端失败：获取用户目录失败".encode()


class LauncherTest(unittest.TestCase):
    client = True
    updater = True

    def setUp(self):
        self.box = harness.make_sandbox(self.id().rsplit(".", 1)[-1])
        self.addCleanup(self.box.close)
        self.launcher = "orvane_launcher"
        self.box.install_program("orvane_launcher")
        if self.client:
            self.box.install_program("Orvane")
        if self.updater:
            self.box.install_program("orvane_process_double", "orvane_updater")

    # Helpers ----------------------------------------------------------------

    def native_only(self, why):
        if self.box.mode != "native":
            self.skipTest(why)

    def launch(self, *args):
        status, _, err = self.box.run(self.launcher, args)
        return status, err

    def log(self):
        return read_bytes(os.path.join(self.box.work, "orvane_launcher.log"))

    def p(self, path):
        return self.box.path(path).encode()

    def updater_runs(self):
        path = os.path.join(self.box.work, "orvane_updater.runs")
        if not os.path.exists(path):
            return []
        return [line.split(b"\t") for line in read_bytes(path).split(b"\r\n") if line]

    def wait_for_updater_runs(self, count):
        return wait_until(lambda: len(self.updater_runs()) >= count and self.updater_runs(),
                          what="%d updater start(s)" % count)

    def wait_for_client(self, slot):
        lockfile = self.box.kesto("UserData_%d" % slot, "lockfile")
        wait_until(lambda: os.path.exists(lockfile), what="the client's lockfile in slot %d" % slot)
        return lockfile

    def ini(self):
        return read_bytes(self.box.kesto("orvane.ini"))

    def expected_ini(self, uuid, env=b"production"):
        launcher = self.p(os.path.join(self.box.install, self.launcher + self.box.exe_suffix))
        return (b"[ORVANE_PATH]\r\nLAUNCHER=" + launcher + b"\r\nWORKDIR=" + self.p(self.box.work) +
                b"\r\n[ORVANE_VERSION]\r\nVERSION=1.2.0\r\n[SN]\r\nUUID=" + uuid +
                b"\r\n[ORVANE]\r\nENV=" + env + b"\r\n")

    def logged_ids(self):
        return ID_PATTERN.findall(self.log())

    def identity_lines(self, uuid):
        return b"\r\nuuid:" + uuid + b"\r\nuuid path:" + self.p(self.box.kesto("uuid"))

    def cmdline_lines(self, slot):
        return b'\r\ncmdline:--user-data-dir="' + self.p(self.box.kesto("UserData_%d" % slot)) + b'"'

    def param_lines(self, *args):
        program = self.p(os.path.join(self.box.install, self.launcher + self.box.exe_suffix))
        if self.box.mode == "native":
            program = os.path.join(self.box.install, self.launcher).encode()
        text = b"\r\nparam:" + program
        for a in args:
            text += b"\r\nparam:" + a.encode()
            if a == "ignoreSSLError":
                text += b"\r\n ignoreSSLError:true"
        return text

    # Tests ------------------------------------------------------------------

    def test_first_start_prepares_the_state_and_starts_client_and_updater(self):
        status, err = self.launch()
        self.assertEqual(status, 1, err)

        uuid = read_bytes(self.box.kesto("uuid"))
        self.assertRegex(uuid, b"^" + ID_PATTERN.pattern + b"$")
        self.assertEqual(len(uuid), 36)
        self.assertEqual(self.ini(), self.expected_ini(uuid))
        self.assertEqual(self.log(), self.param_lines() + self.identity_lines(uuid) + self.cmdline_lines(1))
        self.assertTrue(os.path.isdir(self.box.kesto("UserData_1")))

        lockfile = self.wait_for_client(1)
        clients = wait_until(lambda: self.box.running("Orvane"), what="the client process")
        self.assertEqual(len(clients), 1)
        record = os.listdir(self.box.kesto("lockfiles"))
        self.assertEqual(len(record), 1)
        self.assertEqual(read_bytes(self.box.kesto("lockfiles", record[0])), self.p(lockfile))
        self.assertTrue(os.path.isdir(os.path.join(self.box.work, "package.nw", "lockfiles")))
        if self.box.mode == "native":
            # The program is named as the command line names it: bare.
            self.assertEqual(self.box.arguments(clients[0]),
                             ["Orvane", "--user-data-dir=" + self.box.kesto("UserData_1")])
            self.assertEqual(record, [str(clients[0])])

        # The updater: no arguments, the launcher's current directory.
        runs = self.wait_for_updater_runs(1)
        self.assertEqual(runs, [[runs[0][0], self.p(self.box.work)]])
        self.assertEqual(len(self.box.running("orvane_updater")), 1)

    def test_started_programs_keep_no_descriptor_of_the_caller(self):
        # Under Wine only standard output is the Windows side's to pass or
        # not: Wine hands its own standard error to every program it starts.
        rows = ["stdout"] if self.box.mode == "wine" else ["stdout", "stderr", "other"]
        for n, row in enumerate(rows, 1):
            with self.subTest(descriptor=row):
                read_end, write_end = os.pipe()
                out = write_end if row == "stdout" else subprocess.DEVNULL
                err = write_end if row == "stderr" else subprocess.DEVNULL
                launcher = subprocess.Popen(self.box.command(self.launcher, []), cwd=self.box.work,
                                            env=self.box.env(), stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                            pass_fds=(write_end,) if row == "other" else ())
                os.close(write_end)
                self.assertEqual(launcher.wait(timeout=240), 1)
                self.wait_for_client(n)
                self.wait_for_updater_runs(n)
                # Client and updater run on; the caller still reads to the end.
                with os.fdopen(read_end, "rb") as pipe:
                    ready, _, _ = select.select([pipe], [], [], 30)
                    self.assertTrue(ready and pipe.read() == b"", "a started program holds the caller's " + row)

    def test_arguments_are_logged_and_go_nowhere_else(self):
        args = ["ignoreSSLError", "IgnoreSSLError", "two words", "--user-data-dir=x"]
        status, err = self.launch(*args)
        self.assertEqual(status, 1, err)
        uuid = read_bytes(self.box.kesto("uuid"))
        self.assertEqual(self.log(), self.param_lines(*args) + self.identity_lines(uuid) + self.cmdline_lines(1))
        self.wait_for_client(1)
        runs = self.wait_for_updater_runs(1)
        self.assertEqual(len(runs[0]), 2, "the updater gets no arguments")
        if self.box.mode == "native":
            client = wait_until(lambda: self.box.running("Orvane"), what="the client process")[0]
            self.assertEqual(self.box.arguments(client)[1:], ["--user-data-dir=" + self.box.kesto("UserData_1")])

    def test_second_start_keeps_the_id_and_takes_the_next_slot(self):
        self.assertEqual(self.launch()[0], 1)
        self.wait_for_client(1)
        first_runs = self.wait_for_updater_runs(1)
        uuid = read_bytes(self.box.kesto("uuid"))
        first_log = self.log()

        self.assertEqual(self.launch()[0], 1)
        self.assertEqual(read_bytes(self.box.kesto("uuid")), uuid)
        second_id = self.logged_ids()[-1]
        self.assertNotEqual(second_id, uuid)
        self.assertEqual(self.log(), first_log + self.param_lines() + self.identity_lines(second_id) +
                         b"\r\nuuid file exist" + self.cmdline_lines(2))
        self.assertEqual(self.ini(), self.expected_ini(second_id))
        self.wait_for_client(2)
        self.assertTrue(os.path.exists(self.box.kesto("UserData_1", "lockfile")), "the first client still runs")

        # The first updater was ended before the second one started.
        runs = self.wait_for_updater_runs(2)
        self.assertEqual(len(runs), 2)
        wait_until(lambda: len(self.box.running("orvane_updater")) == 1,
                   what=lambda: "one updater left, running: %s, starts: %s" % (
                       self.box.running("orvane_updater"), self.updater_runs()))
        self.assertEqual(runs[0], first_runs[0])

    def test_every_running_updater_is_replaced_by_one_new_one(self):
        old = [self.box.start("orvane_updater") for _ in range(2)]
        self.wait_for_updater_runs(2)
        self.assertEqual(self.launch()[0], 1)
        for process in old:
            process.wait(timeout=60)
        runs = self.wait_for_updater_runs(3)
        self.assertEqual(len(runs), 3)
        self.assertEqual(len(self.box.running("orvane_updater")), 1)
        self.assertEqual(runs[2][1:], [self.p(self.box.work)])

    def test_slot_choice_skips_slots_with_a_lockfile(self):
        write_bytes(self.box.kesto("UserData_1", "lockfile"), b"")
        write_bytes(self.box.kesto("UserData_2", "lockfile"), b"")
        self.assertEqual(self.launch()[0], 1)
        self.assertTrue(self.log().endswith(self.cmdline_lines(3)), self.log())
        self.wait_for_client(3)

    def test_slot_folder_without_lockfile_is_free(self):
        os.makedirs(self.box.kesto("UserData_1"))
        write_bytes(self.box.kesto("UserData_2", "lockfile"), b"")
        self.assertEqual(self.launch()[0], 1)
        self.assertTrue(self.log().endswith(self.cmdline_lines(1)), self.log())
        self.wait_for_client(1)

    def test_environment_switch_is_repaired_unless_valid(self):
        cases = [(b"testing", b"testing"), (b"production", b"production"), (b"Testing", b"production"),
                 (b"test", b"production"), (b"", b"production")]
        if self.box.mode == "wine":
            cases = cases[:1] + cases[2:3]  # each run is slow under Wine
        for stored, expected in cases:
            with self.subTest(stored=stored):
                write_bytes(self.box.kesto("orvane.ini"), b"[ORVANE]\r\nENV=" + stored + b"\r\n")
                self.assertEqual(self.launch()[0], 1)
                ini = self.ini()
                self.assertIn(b"[ORVANE]\r\nENV=" + expected + b"\r\n", ini)
                self.assertEqual(ini.count(b"ENV="), 1)
                self.assertEqual(ini.count(b"UUID="), 1)

    def test_uuid_folder_is_left_and_start_up_goes_on(self):
        os.makedirs(self.box.kesto("uuid"))
        self.assertEqual(self.launch()[0], 1)
        self.assertTrue(os.path.isdir(self.box.kesto("uuid")))
        run_id = self.logged_ids()[0]
        code = b"21" if self.box.mode == "native" else b"5"  # EISDIR, ERROR_ACCESS_DENIED
        self.assertEqual(self.log(), self.param_lines() + self.identity_lines(run_id) +
                         b"\r\nopen uuid file failed\r\n:" + code + b"\r\n" + self.cmdline_lines(1))
        self.assertEqual(self.ini(), self.expected_ini(run_id))
        self.wait_for_client(1)
        self.wait_for_updater_runs(1)

    def test_path_with_blanks_reaches_the_client_as_one_argument(self):
        self.native_only("the prefix's local application-data folder cannot be moved to a path with blanks")
        spaced = os.path.join(self.box.root, "data with blanks")
        os.makedirs(spaced)
        self.box.app_data = spaced
        status, _, err = self.box.run(self.launcher, env=dict(self.box.env(), XDG_DATA_HOME=spaced))
        self.assertEqual(status, 1, err)
        self.assertIn(b" ", self.cmdline_lines(1))
        self.assertTrue(self.log().endswith(self.cmdline_lines(1)), self.log())
        self.wait_for_client(1)
        client = wait_until(lambda: self.box.running("Orvane"), what="the client process")[0]
        self.assertEqual(self.box.arguments(client)[1:], ["--user-data-dir=" + self.box.kesto("UserData_1")])

    def test_missing_application_data_folder(self):
        self.native_only("the prefix's shell always finds its local application-data folder")
        missing = os.path.join(self.box.root, "no-such-folder")
        env = dict(self.box.env(), XDG_DATA_HOME=missing, HOME=missing)
        status, _, err = self.box.run(self.launcher, env=env)
        self.assertEqual(status, 1)
        self.assertIn(NO_APPDATA_BOX, err)
        self.assertEqual(self.log(), self.param_lines() + b"\r\nget appdata dir failed:2\r\n" +
                         b"\r\nget appdata dir failed")
        self.assertFalse(os.path.exists(missing))
        self.assertEqual(self.box.running("Orvane"), [])
        self.wait_for_updater_runs(1)

    def test_read_only_application_data_folder(self):
        self.native_only("Wine runs as the prefix's owner, whom file modes do not stop")
        # Root ignores file modes, so the launcher then runs as nobody.
        self.box._preexec = harness.run_unprivileged()
        os.chmod(self.box.work, 0o777)
        harness.make_read_only(self.box.app_data)
        self.assertEqual(self.launch()[0], 1)
        log = self.log()
        run_id = self.logged_ids()[0]
        self.assertEqual(log, self.param_lines() + self.identity_lines(run_id) +
                         b"\r\nopen uuid file failed\r\n:2\r\n" +  # ENOENT: the folder could not be made
                         b"\r\ncreate orvane.ini file exist\r\nwrite init file failed" + self.cmdline_lines(1))
        self.assertEqual(os.listdir(self.box.app_data), [])
        # Both programs are still started; the client cannot keep its marks there.
        wait_until(lambda: self.box.running("Orvane"), what="the client process")
        self.wait_for_updater_runs(1)


class WithoutClient(LauncherTest):
    client = False

    def test_missing_client_is_shown_logged_and_the_updater_still_restarts(self):
        old = self.box.start("orvane_updater")
        self.wait_for_updater_runs(1)
        status, err = self.launch()
        self.assertEqual(status, 1)
        if self.box.mode == "native":
            self.assertIn(CLIENT_MISSING_BOX, err)
        uuid = read_bytes(self.box.kesto("uuid"))
        self.assertEqual(self.log(), self.param_lines() + self.identity_lines(uuid) + self.cmdline_lines(1) +
                         b"\r\nrun orvane.exe failed")
        old.wait(timeout=60)
        self.assertEqual(len(self.wait_for_updater_runs(2)), 2)
        self.assertEqual(len(self.box.running("orvane_updater")), 1)


class WithoutUpdater(LauncherTest):
    updater = False

    def test_missing_updater_is_logged(self):
        self.launch()
        uuid = read_bytes(self.box.kesto("uuid"))
        self.assertEqual(self.log(), self.param_lines() + self.identity_lines(uuid) + self.cmdline_lines(1) +
                         b"\r\nrun orvane_updater.exe failed")
        self.wait_for_client(1)


class StandInClient(LauncherTest):
    """What the launcher and the updater rely on the client for."""

    def test_keeps_its_marks_while_it_runs_and_removes_them_at_a_normal_end(self):
        slot = self.box.kesto("UserData_7")
        client = self.box.start("Orvane", ['--user-data-dir=' + self.box.path(slot), "--crash-dump",
                                           "--run-seconds=3"])
        lockfile = self.wait_for_client(7)
        # The dump is the client's last mark; the others stand before it.
        reports = os.path.join(self.box.app_data, "Crashpad", "reports")
        dumps = wait_until(lambda: os.path.isdir(reports) and os.listdir(reports), what="the crash dump")
        records = os.listdir(self.box.kesto("lockfiles"))
        self.assertEqual(len(records), 1)
        self.assertEqual(read_bytes(self.box.kesto("lockfiles", records[0])), self.p(lockfile))
        self.assertTrue(os.path.isdir(os.path.join(self.box.work, "package.nw", "lockfiles")))
        self.assertEqual(len(dumps), 1)
        self.assertRegex(dumps[0], "^[0-9A-F-]{36}\\.dmp$")

        self.assertEqual(client.wait(timeout=120), 0)
        self.assertFalse(os.path.exists(lockfile))
        self.assertEqual(os.listdir(self.box.kesto("lockfiles")), [])
        # The package lock folder is the updater's to remove.
        self.assertTrue(os.path.isdir(os.path.join(self.box.work, "package.nw", "lockfiles")))


# The subclasses differ only in what is installed or run: they run just their own tests.
for _cls in (WithoutClient, WithoutUpdater, StandInClient):
    for _name in [n for n in dir(LauncherTest) if n.startswith("test_")]:
        setattr(_cls, _name, None)
del _cls, _name

if __name__ == "__main__":
    unittest.main()
