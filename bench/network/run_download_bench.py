"""Downloads the same 1 GiB body from the local scripted server with
httpDownload and with the curl command line, in one run (three alternating
rounds each), and reports the throughput ratio of the medians and each side's
peak resident memory. A second, smaller
download shows whether the client's memory grows with the file.

    python3 bench/network/run_download_bench.py [BUILD_DIR]   (default build/native)
"""

import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(REPO, "tests", "http_server"))
from http_server import ScriptedServer, install_generic_routes, sandbox_environment  # noqa: E402

GIB = 1 << 30
ROUNDS = 3


def timed(command, env):
    """Runs a command; returns its wall time and peak resident memory in MiB."""
    start = time.monotonic()
    process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    took = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != 0:
        raise SystemExit("%s failed" % command[0])
    return took, usage.ru_maxrss / 1024


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(REPO, "build", "native"))
    bench = os.path.join(build, "bin", "download_bench")
    root = tempfile.mkdtemp(prefix="orvane-download-bench-")
    env = sandbox_environment(root)
    target = os.path.join(root, "download")
    try:
        with ScriptedServer() as server:
            install_generic_routes(server)
            results = {}
            for label, size in (("64 MiB", 64 << 20), ("1 GiB", GIB)):
                url = server.url("/bytes?size=%d" % size)
                # Alternating rounds, so neither side always runs first; the median counts.
                for _ in range(ROUNDS):
                    for tool, command in (("curl", ["curl", "-s", "-o", target, url]),
                                          ("httpDownload", [bench, url, target])):
                        took, rss = timed(command, env)
                        if os.path.getsize(target) != size:
                            raise SystemExit("%s wrote %d bytes, not %d" % (tool, os.path.getsize(target), size))
                        os.remove(target)
                        results.setdefault((label, tool), []).append((took, rss))
                for tool in ("curl", "httpDownload"):
                    runs = results[(label, tool)]
                    took = statistics.median(t for t, _ in runs)
                    rss = max(r for _, r in runs)
                    results[(label, tool)] = (took, rss)
                    print("%-7s %-12s median %6.2f s  %8.1f MiB/s  peak RSS %6.1f MiB  (runs: %s)"
                          % (label, tool, took, size / took / (1 << 20), rss,
                             ", ".join("%.2f" % t for t, _ in runs)), flush=True)
        curl_time = results[("1 GiB", "curl")][0]
        ours_time = results[("1 GiB", "httpDownload")][0]
        print("throughput ratio httpDownload / curl (1 GiB): %.3f" % (curl_time / ours_time))
        print("peak RSS of httpDownload: %.1f MiB for 64 MiB, %.1f MiB for 1 GiB"
              % (results[("64 MiB", "httpDownload")][1], results[("1 GiB", "httpDownload")][1]))
    finally:
        shutil.rmtree(root, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
