"""Sandboxes for end-to-end tests that run the built programs.

A test gets a `Sandbox`: a private tree with its own HOME, XDG_DATA_HOME,
XDG_RUNTIME_DIR and TMPDIR, an `install` folder where the programs under test
are copied side by side (so bare names are found beside the caller, as on an
installed system), and a `work` folder used as the current directory.

Two kinds, chosen by `make_sandbox(name)` after the runner (run.py) has set
MODE and BIN_DIR:

- "native": Linux programs; the local application-data folder is
  <root>/home/.local/share.
- "wine": Windows programs under Wine, in the prefix named by WINEPREFIX
  (scripts/wine-run makes it on first use). The tree lies inside the prefix's
  drive C. The local application-data folder is the prefix's own, which a
  test cannot move: its KestoOrvane is removed when a sandbox opens and
  closes, so Wine tests must run one at a time.

Every process whose command line or executable lies inside the sandbox is
ended by `Sandbox.close()` (by process id), and the ones that were orphaned
onto this process are reaped: the harness makes itself a child subreaper.

Programs started through the sandbox write standard output and error to
files, never to pipes: programs they start inherit those handles and would
keep a pipe open.
"""

import ctypes
import getpass
import os
import re
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time

ID_PATTERN = re.compile(rb"[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")
REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE_RUN = os.path.join(REPO, "scripts", "wine-run")
sys.path.insert(0, os.path.join(REPO, "tests", "support"))

from waiting import wait_until  # noqa: E402,F401  (the suites import it from here)

_PR_SET_CHILD_SUBREAPER = 36
try:
    ctypes.CDLL(None, use_errno=True).prctl(_PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
except (OSError, AttributeError):
    pass


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def write_bytes(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def _cmdline(pid):
    try:
        return read_bytes("/proc/%d/cmdline" % pid).split(b"\0")
    except OSError:
        return []


def _is_zombie(pid):
    try:
        text = read_bytes("/proc/%d/stat" % pid)
    except OSError:
        return True
    return text[text.rindex(b")") + 2:][:1] == b"Z"


def _reap():
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            return


def _mapped_files(pid):
    """The files a process has mapped: under Wine, the only place that names
    the Windows program a process runs, whose command line may hold a bare
    name and whose executable is Wine's loader."""
    try:
        with open("/proc/%d/maps" % pid, "rb") as f:
            lines = f.read().splitlines()
    except OSError:
        return set()
    return {fields[5] for fields in (line.split(None, 5) for line in lines) if len(fields) == 6}


def _live_pids():
    """Processes other than this one that have not ended."""
    for entry in os.listdir("/proc"):
        if entry.isdigit() and int(entry) != os.getpid() and not _is_zombie(int(entry)):
            yield int(entry)


def process_ids_mentioning(markers, mapped=False):
    """Live processes whose executable path or command line (and, if
    `mapped`, mapped files) hold one of the byte strings in `markers`."""
    found = []
    for pid in _live_pids():
        try:
            exe = os.readlink("/proc/%d/exe" % pid).encode()
        except OSError:
            exe = b""
        text = b"\0".join(_cmdline(pid)) + b"\0" + exe
        if mapped:
            text += b"\0" + b"\0".join(_mapped_files(pid))
        if any(m in text for m in markers):
            found.append(pid)
    return found


class Sandbox:
    mode = None
    exe_suffix = ""
    # Whether a process is told by the files it maps (see _mapped_files).
    by_mapped_files = False

    def __init__(self, bin_dir, name):
        self.bin_dir = bin_dir
        self.root = tempfile.mkdtemp(prefix="orvane-e2e-%s-" % name, dir=self._base())
        os.chmod(self.root, 0o755)
        self.install = self._mkdir("install")
        self.work = self._mkdir("work")
        self.started = []

    # Layout -----------------------------------------------------------------

    def _base(self):
        return None

    def _mkdir(self, *parts):
        path = os.path.join(self.root, *parts)
        os.makedirs(path, exist_ok=True)
        return path

    def kesto(self, *parts):
        return os.path.join(self.app_data, "KestoOrvane", *parts)

    def install_program(self, built_name, installed_name=None):
        """Copies bin/<built_name> into the install folder, under another
        name if given (both without the executable suffix)."""
        source = os.path.join(self.bin_dir, built_name + self.exe_suffix)
        target = os.path.join(self.install, (installed_name or built_name) + self.exe_suffix)
        shutil.copyfile(source, target)
        os.chmod(target, 0o755)
        return target

    # Running ----------------------------------------------------------------

    def run(self, program, args=(), timeout=300, env=None):
        """Runs an installed program to its end in the work folder; returns
        (exit status, standard output, standard error) as bytes."""
        out_path = os.path.join(self.root, "stdout")
        err_path = os.path.join(self.root, "stderr")
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            status = subprocess.call(self.command(program, args), cwd=self.work, env=env or self.env(),
                                     stdout=out, stderr=err, stdin=subprocess.DEVNULL, timeout=timeout,
                                     preexec_fn=self._preexec)
        return status, read_bytes(out_path), read_bytes(err_path)

    def start(self, program, args=()):
        """Starts an installed program in the work folder without waiting."""
        process = subprocess.Popen(self.command(program, args), cwd=self.work, env=self.env(),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   stdin=subprocess.DEVNULL, preexec_fn=self._preexec)
        self.started.append(process)
        return process

    _preexec = None

    def close(self):
        """Ends every process of the sandbox, reaps what this process may
        reap, and removes the tree."""
        markers = self._markers()
        for _ in range(100):
            pids = process_ids_mentioning(markers, self.by_mapped_files)
            if not pids:
                break
            for pid in pids:
                try:
                    os.kill(pid, signal.SIGKILL)
                except OSError:
                    pass
            time.sleep(0.05)
            _reap()
        for process in self.started:
            if process.poll() is None:
                process.kill()
            process.wait()
        _reap()
        self._remove_tree()

    def _markers(self):
        return [self.root.encode()]

    def _remove_tree(self):
        def make_writable(func, path, _):
            os.chmod(os.path.dirname(path), 0o755)
            func(path)
        shutil.rmtree(self.root, onerror=make_writable)

    # Processes of a program -------------------------------------------------

    def running(self, name):
        """Process ids of programs named `name` (no suffix) started from the
        install folder of this sandbox."""
        raise NotImplementedError


class NativeSandbox(Sandbox):
    mode = "native"

    def __init__(self, bin_dir, name):
        super().__init__(bin_dir, name)
        self.home = self._mkdir("home")
        self.app_data = self._mkdir("home", ".local", "share")
        self.runtime = self._mkdir("runtime")
        os.chmod(self.runtime, 0o700)
        self.tmp = self._mkdir("tmp")

    def env(self):
        # No display: message boxes go to standard error.
        return {
            "PATH": "/usr/bin:/bin",
            "HOME": self.home,
            "XDG_DATA_HOME": self.app_data,
            "XDG_RUNTIME_DIR": self.runtime,
            "TMPDIR": self.tmp,
            "LC_ALL": "C.UTF-8",
        }

    def command(self, program, args):
        return [os.path.join(self.install, program)] + list(args)

    def path(self, local_path):
        """A path as the programs under test write it."""
        return local_path

    def running(self, name):
        target = os.path.join(self.install, name).encode()
        pids = []
        for pid in process_ids_mentioning([target]):
            try:
                if os.readlink("/proc/%d/exe" % pid).encode() == target:
                    pids.append(pid)
            except OSError:
                pass
        return sorted(pids)

    def arguments(self, pid):
        """The argument vector a running program received."""
        return [a.decode() for a in _cmdline(pid)[:-1]]


class WineSandbox(Sandbox):
    mode = "wine"
    exe_suffix = ".exe"
    by_mapped_files = True

    def __init__(self, bin_dir, name):
        # The build's own prefix, as scripts/wine-run names it.
        self.prefix = os.environ.get("WINEPREFIX") or os.path.join(os.path.dirname(bin_dir), "wineprefix")
        super().__init__(bin_dir, name)
        # The shell's folder, which a test cannot move: the prefix's own.
        # Tests run one at a time there, each starting from no KestoOrvane and
        # no crash reports.
        self.app_data = os.path.join(self.prefix, "drive_c", "users", getpass.getuser(), "AppData", "Local")
        os.makedirs(self.app_data, exist_ok=True)
        self._clear_app_data()
        self.tmp = self._mkdir("tmp")

    def _clear_app_data(self):
        for folder in ("KestoOrvane", "Crashpad"):
            shutil.rmtree(os.path.join(self.app_data, folder), ignore_errors=True)

    def _base(self):
        base = os.path.join(self.prefix, "drive_c", "orvane-e2e")
        os.makedirs(base, exist_ok=True)
        return base

    def env(self):
        env = {
            "PATH": "/usr/bin:/bin",
            "HOME": os.environ.get("HOME", "/root"),
            "WINEPREFIX": self.prefix,
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            "USER": getpass.getuser(),
            "TEMP": self.path(self.tmp),
            "TMP": self.path(self.tmp),
            "LC_ALL": "C.UTF-8",
        }
        return env

    def command(self, program, args):
        return [WINE_RUN, self.path(os.path.join(self.install, program + self.exe_suffix))] + list(args)

    def path(self, local_path):
        """The Windows form of a path inside the prefix's drive C."""
        drive_c = os.path.join(self.prefix, "drive_c")
        relative = os.path.relpath(local_path, drive_c)
        return "C:\\" + relative.replace("/", "\\")

    def _markers(self):
        return [self.root.encode(), self.path(self.root).encode()]

    def close(self):
        super().close()
        self._clear_app_data()

    def running(self, name):
        target = os.path.join(self.install, name + self.exe_suffix).encode()
        return sorted(pid for pid in _live_pids() if target in _mapped_files(pid))


# Set by run.py from its command line.
MODE = "native"
BIN_DIR = None


def make_sandbox(name):
    """A sandbox of the run's kind, for the programs of the run's build."""
    return (WineSandbox if MODE == "wine" else NativeSandbox)(BIN_DIR, name)


def run_unprivileged():
    """A preexec function that drops root for the started program, or None
    when the tests do not run as root (then permissions already bind)."""
    if os.geteuid() != 0:
        return None
    def drop():
        os.setgroups([])
        os.setgid(65534)
        os.setuid(65534)
    return drop


def make_read_only(path):
    os.chmod(path, stat.S_IRUSR | stat.S_IXUSR | stat.S_IRGRP | stat.S_IXGRP | stat.S_IROTH | stat.S_IXOTH)
