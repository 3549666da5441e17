#!/usr/bin/env python3
"""Steady state of the built updater: processor time and resident memory over
one minute of idle ticks (no lock records, no dumps, no client), in a private
home. Usage: idle_updater_bench.py BUILD_DIR [seconds]"""

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
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, rest = line.partition(":")
            if key in ("VmRSS", "VmHWM"):
                values[key] = int(rest.split()[0])
    return values


def main():
    build = os.path.abspath(sys.argv[1])
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 60.0
    # The tests' build talks only to the loopback interface.
    program = os.path.join(build, "loopback", "orvane_updater")
    if not os.path.exists(program):
        program = os.path.join(build, "bin", "orvane_updater")
    root = tempfile.mkdtemp(prefix="orvane-idle-bench-")
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
        used, elapsed = cpu_seconds(updater.pid) - start_cpu, time.monotonic() - start
        memory = memory_kib(updater.pid)
    finally:
        updater.kill()
        updater.wait()
        shutil.rmtree(root)
    processes = len([p for p in os.listdir("/proc") if p.isdigit()])
    print("program: %s" % program)
    print("idle for %.0f s with %d processes on the system" % (elapsed, processes))
    print("processor time: %.3f s, %.4f %% of one core" % (used, 100.0 * used / elapsed))
    print("resident memory: %.2f MiB now, %.2f MiB at most" % (memory["VmRSS"] / 1024, memory["VmHWM"] / 1024))


if __name__ == "__main__":
    main()
