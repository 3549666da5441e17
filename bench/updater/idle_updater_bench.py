#!/usr/bin/env python3
"""Steady state of the built updater: processor time and resident memory over
one minute of idle ticks (no lock records, no dumps, no client), in a private
home. Usage: idle_updater_bench.py BUILD_DIR [seconds]; make bench calls
measure()."""

import os
import shutil
import subprocess
import sys
import tempfile
import time


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = os.sysconf("SC_CLK_TCK")
    return (int(fields[11]) + int(fields[12])) / ticks  # utime + stime


def memory_kib(pid):
    values = {}
    for name, keys in (("status", ("VmRSS", "VmHWM", "RssAnon")), ("smaps_rollup", ("Private_Clean", "Private_Dirty"))):
        with open("/proc/%d/%s" % (pid, name)) as f:
            for line in f:
                key, _, rest = line.partition(":")
                if key in keys:
                    values[key] = int(rest.split()[0])
    return values


def measure(build, seconds, scratch=None):
    """Idles the updater for `seconds`; gives its processor share and memory."""
    # The tests' build talks only to the loopback interface.
    program = os.path.join(build, "loopback", "orvane_updater")
    if not os.path.exists(program):
        program = os.path.join(build, "bin", "orvane_updater")
    root = tempfile.mkdtemp(prefix="orvane-idle-bench-", dir=scratch)
    data = os.path.join(root, "home", ".local", "share")
    runtime = os.path.join(root, "runtime")
    work = os.path.join(root, "work")
    for folder in (os.path.join(data, "KestoOrvane", "lockfiles"), runtime, work):
        os.makedirs(folder)
    os.chmod(runtime, 0o700)
    env = {"PATH": "/usr/bin:/bin", "HOME": os.path.join(root, "home"), "XDG_DATA_HOME": data,
           "XDG_RUNTIME_DIR": runtime, "TMPDIR": root, "LC_ALL": "C.UTF-8"}
    updater = subprocess.Popen([program], cwd=work, env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(6)  # past the first tick, which also runs the update check
        start_cpu, start = cpu_seconds(updater.pid), time.monotonic()
        time.sleep(seconds)
        # Other runs on the machine may end programs by this name.
        try:
            if updater.poll() is not None:
                raise OSError("status %d" % updater.returncode)
            used, elapsed = cpu_seconds(updater.pid) - start_cpu, time.monotonic() - start
            memory = memory_kib(updater.pid)
        except OSError as error:
            raise RuntimeError("the updater ended during the measurement (%s)" % error) from error
    finally:
        updater.kill()
        updater.wait()
        shutil.rmtree(root)
    return {"program": program, "seconds": elapsed, "processes": len([p for p in os.listdir("/proc") if p.isdigit()]),
            "cpuPercent": 100.0 * used / elapsed, "residentMiB": memory["VmRSS"] / 1024,
            "peakResidentMiB": memory["VmHWM"] / 1024,
            "privateMiB": (memory["Private_Clean"] + memory["Private_Dirty"]) / 1024,
            "anonymousMiB": memory["RssAnon"] / 1024}


def main():
    idle = measure(os.path.abspath(sys.argv[1]), float(sys.argv[2]) if len(sys.argv) > 2 else 60.0)
    print("program: %s" % idle["program"])
    print("idle for %.0f s with %d processes on the system" % (idle["seconds"], idle["processes"]))
    print("processor time: %.4f %% of one core" % idle["cpuPercent"])
    print("resident memory: %.2f MiB now (%.2f MiB private, %.2f MiB anonymous), %.2f MiB at most"
          % (idle["residentMiB"], idle["privateMiB"], idle["anonymousMiB"], idle["peakResidentMiB"]))


if __name__ == "__main__":
    main()
