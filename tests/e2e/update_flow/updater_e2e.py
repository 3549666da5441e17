"""Runs the tests' updater (built with every endpoint on 127.0.0.1:<port>) for
real, natively or under Wine, in a sandboxed home, beside a scripted server on
that port. Prompts are answered on a virtual display the way a person would:
the dialog is found by the process that owns it and its OK button pressed.

    python3 <suite>.py --build-dir DIR --platform native|wine --port N [--list] [TEST...]
"""

import argparse
import getpass
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.abspath(os.path.join(HERE, "..", "..", ".."))
sys.path.insert(0, os.path.join(REPO, "tests", "http_server"))
sys.path.insert(0, os.path.join(REPO, "tests", "support"))

from http_server import Reply, ScriptedServer, sandbox_environment  # noqa: E402
from waiting import wait_until  # noqa: E402

REPORT_PATH = "/kesto.kesto-windowsLauncher.orvane_tillbox_launch"
INSTALL_ID = "0A1B2C3D-1111-4222-8333-444455556666"
# Beyond every Linux pid limit, and never a Wine process id (those are
# multiples of 4): a lock record under this name always belongs to an ended
# process, so the updater's next housekeeping pass removes it.
ENDED_PID = "4194305"
PROMPT = "奥维恩客户端更新已下载完成，点击“确定”开始安装"


class Config:
    build_dir = None
    wine = False
    port = None
    # Waits are generous: under Wine every program start is slow.
    wait = 60


def _descendants(pid):
    found, queue = [], [pid]
    while queue:
        current = queue.pop()
        found.append(current)
        try:
            for task in os.listdir("/proc/%d/task" % current):
                with open("/proc/%d/task/%s/children" % (current, task)) as f:
                    queue += [int(p) for p in f.read().split()]
        except OSError:
            pass
    return found


class Display:
    """A virtual X display with a window manager, for the prompt. `env` is the
    sandbox's, so the window manager keeps its files there."""

    def __init__(self, env, log_path):
        self.env = env
        self.log_path = log_path

    def __enter__(self):
        read_end, write_end = os.pipe()
        self.log = open(self.log_path, "ab")
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), env=self.env, stdout=self.log, stderr=self.log)
        os.close(write_end)
        with os.fdopen(read_end) as f:
            number = f.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number
        self.wm = subprocess.Popen(["openbox", "--sm-disable"], env=dict(self.env, DISPLAY=self.name),
                                   stdout=self.log, stderr=self.log)
        try:
            wait_until(lambda: "window id" in self._run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"]),
                       "the window manager", timeout=Config.wait)
        except AssertionError:
            self.__exit__()
            with open(self.log_path, errors="replace") as f:
                raise AssertionError("no window manager on the virtual display:\n" + f.read())
        return self

    def __exit__(self, *exc):
        for process in (self.wm, self.xvfb):
            process.terminate()
            process.wait()
        self.log.close()

    def _run(self, args):
        result = subprocess.run(args, env=dict(self.env, DISPLAY=self.name),
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        return result.stdout

    def windows_of(self, pid):
        """Visible windows that belong to the process or its children."""
        windows = []
        for p in _descendants(pid):
            windows += self._run(["xdotool", "search", "--onlyvisible", "--pid", str(p)]).split()
        return windows

    def press_ok(self, pid, key="Return"):
        """Waits for the process's dialog, presses its default (OK) button, or
        another key, and waits until the dialog is gone."""
        window = wait_until(lambda: self.windows_of(pid), "the prompt", timeout=Config.wait)[0]
        while window in self.windows_of(pid):
            self._run(["xdotool", "windowactivate", "--sync", window])
            self._run(["xdotool", "key", "--clearmodifiers", key])
            try:
                wait_until(lambda: window not in self.windows_of(pid), "the prompt to close", timeout=5)
            except AssertionError:
                continue
        return window


class UpdaterTest(unittest.TestCase):
    """One sandbox per test: home, runtime and temporary folders, a working
    folder with the updater's log, and the server on the updater's port."""

    def setUp(self):
        # A blank in every path, as in a user folder such as "C:\Users\Ana Lopez".
        self.root = tempfile.mkdtemp(prefix="orvane update ")
        self.addCleanup(shutil.rmtree, self.root, True)
        self.env = sandbox_environment(self.root)
        self.env.pop("DISPLAY", None)
        self.env.pop("WAYLAND_DISPLAY", None)
        self.work = os.path.join(self.root, "work")
        os.makedirs(self.work)
        self.processes = []
        self.addCleanup(self._end_processes)
        if Config.wine:
            self.env["WINEPREFIX"] = self.wine_prefix()
            self.env["WINEDEBUG"] = "-all"
            user = os.path.join(self.env["WINEPREFIX"], "drive_c", "users", getpass.getuser())
            self.app_data = os.path.join(user, "AppData", "Local")
            self.temp = os.path.join(user, "Temp")
            self.addCleanup(self._clean_prefix)
            self._clean_prefix()
        else:
            self.app_data = self.env["XDG_DATA_HOME"]
            self.temp = self.env["TMPDIR"]
        self.kesto = os.path.join(self.app_data, "KestoOrvane")
        os.makedirs(os.path.join(self.kesto, "lockfiles"), exist_ok=True)
        with open(os.path.join(self.kesto, "uuid"), "w") as f:
            f.write(INSTALL_ID)
        self.server = ScriptedServer(port=Config.port).start()
        self.addCleanup(self.server.stop)

    def wine_prefix(self):
        return os.environ.get("WINEPREFIX") or os.path.join(Config.build_dir, "wineprefix")

    def _clean_prefix(self):
        # The Wine prefix is shared: leave none of this test's files in it.
        kesto = os.path.join(self.app_data, "KestoOrvane")
        for name in ("uuid", "orvane.ini", os.path.join("lockfiles", ENDED_PID)):
            try:
                os.remove(os.path.join(kesto, name))
            except OSError:
                pass
        if os.path.isdir(self.temp):
            for name in os.listdir(self.temp):
                if name.endswith("_kesto.exe"):
                    path = os.path.join(self.temp, name)
                    if os.path.isdir(path):
                        shutil.rmtree(path)
                    else:
                        os.remove(path)

    def _end_processes(self):
        for process in self.processes:
            if process.poll() is None:
                process.kill()
            process.wait()

    # --- programs

    def program(self, folder, name):
        return os.path.join(Config.build_dir, folder, name + (".exe" if Config.wine else ""))

    def start(self, program, *args, cwd=None, stderr=subprocess.DEVNULL):
        command = [program, *args]
        if Config.wine:
            command = [os.path.join(REPO, "scripts", "wine-run"), *command]
        process = subprocess.Popen(command, cwd=cwd or self.work, env=self.env,
                                   stdout=subprocess.DEVNULL, stderr=stderr)
        self.processes.append(process)
        return process

    def start_updater(self, stderr=subprocess.DEVNULL, folder="loopback"):
        """The tests' updater; "pinned" is the one built with test publisher keys."""
        return self.start(self.program(folder, "orvane_updater"), stderr=stderr)

    def start_stand_in(self, name):
        """The stand-in client under the given program name, running until ended."""
        folder = os.path.join(self.root, "stand-ins", name)
        os.makedirs(folder, exist_ok=True)
        copy = os.path.join(folder, os.path.basename(self.program("bin", name)))
        shutil.copy2(self.program("bin", "Orvane"), copy)
        return self.start(copy, cwd=folder)

    # --- the updater's files

    def write_settings(self, env_value):
        with open(os.path.join(self.kesto, "orvane.ini"), "w", newline="") as f:
            f.write("[ORVANE]\r\nENV=%s\r\n" % env_value)

    def write_shop_info(self, value):
        with open(os.path.join(self.work, "ShopInfo.ini"), "w", newline="", encoding="utf-8") as f:
            f.write("[reportinfo]\r\nurlvalue=%s\r\n" % value)

    def log(self):
        try:
            with open(os.path.join(self.work, "orvane_updater.log"), "rb") as f:
                return f.read().decode("utf-8", "replace")
        except OSError:
            return ""

    def wait_for_log(self, text):
        return wait_until(lambda: text in self.log(), "%r in the updater log" % text, timeout=Config.wait)

    def installer_path(self, version):
        return os.path.join(self.temp, version + "_kesto.exe")

    # --- the services

    def answer_upgrade(self, answer, path="/upgrade"):
        body = answer if isinstance(answer, bytes) else json.dumps(answer).encode()
        self.server.route("POST", path, Reply(200, body, headers=[("Content-Type", "application/json")]))
        return body

    def serve_installer(self, name, payload):
        self.server.route("GET", "/installer/" + name, Reply(200, payload))
        return self.server.url("/installer/" + name)

    def probe_installer(self):
        with open(self.program("bin", "installer_probe"), "rb") as f:
            payload = f.read()
        return payload, hashlib.md5(payload).hexdigest()

    def wait_for_upgrade_request(self, path="/upgrade"):
        return self.server.wait_for_request(path, method="POST", timeout=Config.wait)[0]

    def wait_until_check_finished(self, longer=0):
        """The schedule's next tick comes only after the update check has
        returned: a lock record of an ended process, written once the service
        has been asked, is removed by that tick's housekeeping. `longer`
        (seconds) is added for a check that takes that much longer."""
        self.wait_for_upgrade_request()
        record = os.path.join(self.kesto, "lockfiles", ENDED_PID)
        open(record, "w").close()
        wait_until(lambda: not os.path.exists(record), "the updater's next tick", timeout=Config.wait + 10 + longer)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--platform", choices=("native", "wine"), required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--list", action="store_true")
    parser.add_argument("tests", nargs="*")
    options = parser.parse_args()
    Config.build_dir = options.build_dir
    Config.wine = options.platform == "wine"
    Config.port = options.port
    # ORVANE_E2E_WAIT stretches every wait on a host where Wine runs through an emulator.
    Config.wait = int(os.environ.get("ORVANE_E2E_WAIT") or (240 if Config.wine else 30))

    module = sys.modules["__main__"]
    loader = unittest.defaultTestLoader
    if options.list:
        def names(suite):
            for item in suite:
                if isinstance(item, unittest.TestSuite):
                    yield from names(item)
                else:
                    yield item.id().split(".", 1)[1]
        print("\n".join(names(loader.loadTestsFromModule(module))))
        return 0
    suite = loader.loadTestsFromNames(options.tests, module) if options.tests else loader.loadTestsFromModule(module)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1
