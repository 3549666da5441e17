"""Every benchmark beside its anchor, in one run: `make bench` calls this after
building. Each figure is the median of alternating rounds (ours, then the
anchor, the order swapped every round), shown with its spread (lowest to
highest round). Ends with one table on standard output and the same table as
Markdown in BUILD/bench/figures.md. Scratch files live in BUILD/bench/scratch.

    python3 bench/run_bench.py BUILD ANCHOR_FOLDER
"""

import http.client
import json
import os
import platform
import re
import signal
import shutil
import statistics
import subprocess
import sys
import time

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(REPO, "tests", "http_server"))
sys.path.insert(0, os.path.join(REPO, "bench", "updater"))
from http_server import ScriptedServer, install_generic_routes, sandbox_environment  # noqa: E402
import idle_updater_bench  # noqa: E402

MIB = 1 << 20
ROUNDS = 5
DOWNLOAD_ROUNDS = 3
HOUSEKEEPING_ROUNDS = 3
# Doubling the work may double the time; a cost that grew with the square
# would quadruple it. Past this factor a doubling is not linear.
LINEAR_DOUBLING = 2.5
# Memory counts as flat while the larger download needs at most this much more.
FLAT = 1.10


class Table:
    def __init__(self):
        self.rows = []

    def add(self, figure, ours, anchor, ratio, target, met):
        self.rows.append((figure, ours, anchor, ratio, target, "yes" if met else "no" if met is not None else "—"))
        print("  %s: %s | %s | %s" % (figure, ours, anchor, ratio), flush=True)


def spread(values, unit, digits=1):
    form = "%%.%df" % digits
    return (form + " %s (" + form + "–" + form + ")") % (statistics.median(values), unit, min(values), max(values))


def timed(command, env=None, stdout=subprocess.DEVNULL):
    """Runs a command; gives its wall time and its output."""
    start = time.monotonic()
    process = subprocess.run(command, env=env, stdout=stdout)
    took = time.monotonic() - start
    if process.returncode != 0:
        raise SystemExit("%s failed" % " ".join(command))
    return took, process.stdout or b""


def alternate(rounds, sides):
    """Runs each side once a round, the order turned round every round; gives
    each side's list of results."""
    results = {name: [] for name, _ in sides}
    for r in range(rounds):
        for name, run in (sides if r % 2 == 0 else list(reversed(sides))):
            results[name].append(run())
    return results


def bench_md5(build, scratch, table):
    print("md5FileHex against md5sum, 512 MiB", flush=True)
    path = os.path.join(scratch, "md5-bench.bin")
    size = 512 * MIB
    with open(path, "wb") as out:
        for _ in range(size // (64 * MIB)):
            out.write(os.urandom(64 * MIB))
    ours_cmd = [os.path.join(build, "bin", "md5_file_bench"), path]
    theirs_cmd = ["md5sum", path]
    digests = {subprocess.run(c, stdout=subprocess.PIPE, check=True).stdout.split()[0] for c in (ours_cmd, theirs_cmd)}
    if len(digests) != 1:
        raise SystemExit("md5FileHex and md5sum disagree")
    runs = alternate(ROUNDS, [("ours", lambda: size / MIB / timed(ours_cmd)[0]),
                              ("md5sum", lambda: size / MIB / timed(theirs_cmd)[0])])
    os.remove(path)
    ratio = statistics.median(runs["ours"]) / statistics.median(runs["md5sum"])
    table.add("`md5FileHex`, 512 MiB (warm cache)", spread(runs["ours"], "MiB/s", 0),
              "`md5sum` " + spread(runs["md5sum"], "MiB/s", 0), "%.2f" % ratio, "≥ 0.95", ratio >= 0.95)


def bench_download(build, scratch, table):
    print("httpDownload against curl, loopback", flush=True)
    root = os.path.join(scratch, "download")
    env = sandbox_environment(root)
    target = os.path.join(root, "download")
    bench = os.path.join(build, "bin", "download_bench")
    figures = {}
    with ScriptedServer() as server:
        install_generic_routes(server)
        for label, size in (("64 MiB", 64 * MIB), ("1 GiB", 1024 * MIB)):
            url = server.url("/bytes?size=%d" % size)

            def run(command, size=size):
                took, output = timed(command, env, subprocess.PIPE)
                if os.path.getsize(target) != size:
                    raise SystemExit("%s wrote %d bytes, not %d" % (command[0], os.path.getsize(target), size))
                os.remove(target)
                # Only download_bench tells its own peak; see there why.
                return size / MIB / took, int(output.split()[2]) / 1024 if command[0] == bench else None

            figures[label] = alternate(DOWNLOAD_ROUNDS, [("ours", lambda: run([bench, url, target])),
                                                         ("curl", lambda: run(["curl", "-s", "-o", target, url]))])
    shutil.rmtree(root, ignore_errors=True)
    ours = [rate for rate, _ in figures["1 GiB"]["ours"]]
    curl = [rate for rate, _ in figures["1 GiB"]["curl"]]
    ratio = statistics.median(ours) / statistics.median(curl)
    table.add("`httpDownload`, 1 GiB, loopback", spread(ours, "MiB/s", 0), "`curl` " + spread(curl, "MiB/s", 0),
              "%.2f" % ratio, "≥ 0.95", ratio >= 0.95)
    small = max(rss for _, rss in figures["64 MiB"]["ours"])
    large = max(rss for _, rss in figures["1 GiB"]["ours"])
    table.add("`httpDownload` peak resident memory, 64 MiB → 1 GiB", "%.1f → %.1f MiB" % (small, large), "—",
              "×%.2f" % (large / small), "flat (≤ ×%.2f)" % FLAT, large / small <= FLAT)


def linear(times):
    """Whether each doubling at most LINEAR_DOUBLING-folds the time."""
    return all(b <= a * LINEAR_DOUBLING for a, b in zip(times, times[1:]))


def bench_housekeeping(build, scratch, table):
    print("housekeeping tick against listing the process ids", flush=True)
    env = dict(os.environ, TMPDIR=scratch)
    _, output = timed([os.path.join(build, "bin", "housekeeping_bench"), str(HOUSEKEEPING_ROUNDS), "400", "800"], env,
                         subprocess.PIPE)
    result = json.loads(output)
    (few, at_few), (many, at_many) = sorted(((int(k), v) for k, v in result.items()))
    tick = at_few["200"]
    ids = at_few["ids"]
    table.add("housekeeping tick, 200 records (100 stale), %d processes" % few,
              spread(tick, "ms", 2) + "; processor time " + spread(at_few["200cpu"], "ms", 2),
              "listing the process ids " + spread(ids, "ms", 2),
              "%.1f" % (statistics.median(tick) / statistics.median(ids)), "≤ 1 ms", statistics.median(tick) <= 1.0)
    records = ("100", "200", "400", "800")
    for processes, values in ((few, at_few), (many, at_many)):
        medians = [statistics.median(values[n]) for n in records]
        table.add("tick, 100/200/400/800 records, %d processes" % processes,
                  " / ".join("%.2f" % m for m in medians) + " ms", "—",
                  "×%.1f for ×8 records" % (medians[-1] / medians[0]), "linear", linear(medians))
    grown = statistics.median(at_many["200"]) / statistics.median(tick)
    table.add("tick, 200 records, %d → %d processes" % (few, many),
              "%.2f → %.2f ms" % (statistics.median(tick), statistics.median(at_many["200"])),
              "ids %.2f → %.2f ms" % (statistics.median(ids), statistics.median(at_many["ids"])),
              "×%.2f for ×%.1f processes" % (grown, many / few), "linear", grown <= LINEAR_DOUBLING * many / few / 2)
    table.add("tick, 200 records, %d processes, client's package lock folder present, no client" % few,
              spread(at_few["packageLocks200"], "ms", 2), "—", "—", "— (reads every process's name)", None)
    table.add("tick, 200 records, %d processes, client's package lock folder present, client running" % few,
              spread(at_few["client200"], "ms", 2), "—", "—", "— (reads the client's name)", None)


def bench_encoding(build, anchor_folder, table):
    print("receipt encoding against the comparison encoder", flush=True)
    bench = os.path.join(build, "bin", "binding_core_bench")
    anchor = [shutil.which("node") or "node", os.path.join(REPO, "bench", "binding", "anchor_encoder.mjs"),
              anchor_folder, "20"]

    def ours(route, scale, receipts):
        return lambda: json.loads(subprocess.run([bench, "encode", route, str(scale), str(receipts)],
                                                 stdout=subprocess.PIPE, check=True).stdout)

    runs = alternate(ROUNDS, [
        ("device", ours("device", 1, 5000)),
        ("spooler", ours("spooler", 1, 5000)),
        ("device10", ours("device", 10, 500)),
        ("device100", ours("device", 100, 50)),
        ("anchor", lambda: json.loads(subprocess.run(anchor, stdout=subprocess.PIPE, check=True).stdout)),
    ])
    rate = {name: [r["receiptsPerSecond"] for r in values] for name, values in runs.items()}
    theirs = statistics.median(rate["anchor"])
    version = json.load(open(os.path.join(anchor_folder, "node_modules", "@point-of-sale",
                                          "receipt-printer-encoder", "package.json")))["version"]
    for route in ("device", "spooler"):
        first = runs[route][0]
        ratio = statistics.median(rate[route]) / theirs
        table.add("receipt encoding, 200 lines, 40 barcodes, %s route (%d writes, %d allocations a receipt)"
                  % (route, first["writesPerReceipt"], first["allocationsPerReceipt"]),
                  spread(rate[route], "receipts/s", 0),
                  "`@point-of-sale/receipt-printer-encoder` %s %s" % (version, spread(rate["anchor"], "receipts/s", 1)),
                  "%.0f×" % ratio, "≥ 1000×", ratio >= 1000)
    per_receipt = [1.0 / statistics.median(rate[n]) for n in ("device", "device10", "device100")]
    table.add("receipt encoding at 1× / 10× / 100× the receipt, device route",
              " / ".join("%.1f" % (t * 1e6) for t in per_receipt) + " µs a receipt", "—",
              "×%.1f and ×%.1f" % (per_receipt[1] / per_receipt[0], per_receipt[2] / per_receipt[0]), "linear",
              per_receipt[1] <= 10 * 1.25 * per_receipt[0] and per_receipt[2] <= 100 * 1.25 * per_receipt[0])


def bench_log(build, scratch, table):
    print("the add-on's log, 4 processes x 2 threads", flush=True)
    env = dict(os.environ, TMPDIR=scratch)
    runs = [json.loads(timed([os.path.join(build, "bin", "binding_core_bench"), "log"], env, subprocess.PIPE)[1])
            for _ in range(3)]
    whole = all(r["lines"] == r["expected"] and r["torn"] == 0 for r in runs)
    table.add("add-on log, 4 processes × 2 threads, 40,000 lines (process starts included)",
              spread([r["linesPerSecond"] for r in runs], "lines/s", 0), "—", "—", "every line whole", whole)


def bench_addon(build, scratch, table):
    print("the add-on in Node.js", flush=True)
    env = dict(os.environ, ORVANE_BUILD=build, TMPDIR=scratch)

    def run():
        output = subprocess.run([shutil.which("node") or "node", os.path.join(REPO, "bench", "addon", "bench.mjs")],
                                env=env, stdout=subprocess.PIPE, check=True, text=True).stdout
        return json.loads(output.rsplit("@@figures@@", 1)[1])

    runs = [run() for _ in range(3)]
    for call, log_call, target in (("NoDriverPrint", "getDriverWidth", 20), ("print", "getDriverWidth", 20),
                                   ("NoDriverGetStatus", "getDriverWidth", 15),
                                   ("GetPrinterStatus", "NoDriverGetPrinted", 15),
                                   ("GetPrinterStatus, a read queued", "NoDriverGetPrinted", 15)):
        cost = [r["with log"][call]["median"] for r in runs]
        log_only = [r["with log"]["%s (log lines only)" % log_call]["median"] for r in runs]
        name = call.replace("GetPrinterStatus", "`GetPrinterStatus`") if "," in call else "`%s`" % call
        table.add("add-on, script-thread cost of %s (median call, with the log)" % name, spread(cost, "µs"),
                  "a call writing the same log lines (`%s`) %s" % (log_call, spread(log_only, "µs")),
                  "%.2f" % (statistics.median(cost) / statistics.median(log_only)), "≤ %d µs" % target,
                  statistics.median(cost) <= target)
    rate = [r["queued"]["receiptsPerSecond"] for r in runs]
    table.add("add-on, 10,000 queued receipts into a fake USB printer, none lost", spread(rate, "receipts/s", 0),
              "—", "—", "—", None)


def bench_usb_status(build, scratch, table):
    print("USB status cycles on the two-way fake printer", flush=True)
    runs = [json.loads(timed([os.path.join(build, "bin", "usb_status_bench"), scratch], None, subprocess.PIPE)[1])
            for _ in range(ROUNDS)]
    added = [r["answeringMs"] - r["aloneMs"] for r in runs]
    table.add("add-on, time the status cycles add to a USB receipt, printer answering at once (median receipt)",
              spread(added, "ms", 2), "the receipt alone " + spread([r["aloneMs"] for r in runs], "ms", 2),
              "—", "≤ 5 ms", statistics.median(added) <= 5)
    # One bounded wait each: 500 ms for the silent printer, 3 s (the confirmation bound of a short
    # receipt) for the one that never confirms; 100 waits would be 50 s and 300 s.
    for key, label, bound, per_receipt in (
            ("silent100Ms", "a printer that never answers", 500, "aloneMs"),
            ("unconfirmed100Ms", "a printer that answers status but never confirms", 3000, "answeringMs")):
        extra = [(r[key] - 100 * r[per_receipt]) / 1000 for r in runs]
        table.add("add-on, 100 receipts on %s: time beyond the receipts' own" % label, spread(extra, "s", 2),
                  "one bounded wait %.1f s" % (bound / 1000), "%.1f waits" % (statistics.median(extra) * 1000 / bound),
                  "one wait, not 100", statistics.median(extra) * 1000 < 2 * bound)


def bench_idle(build, scratch, table):
    print("the idle updater, 60 s", flush=True)
    for attempt in (1, 2):
        try:
            idle = idle_updater_bench.measure(build, 60.0, scratch)
            break
        except RuntimeError as error:
            print("  %s%s" % (error, "; once more" if attempt == 1 else ""), flush=True)
    else:
        table.add("idle updater, 60 s", "not measured: the updater was ended twice from outside", "—", "—",
                  "private ≤ 2 MiB, < 0.1 % of a core", None)
        return
    table.add("idle updater, 60 s", "%.3f %% of a core; %.1f MiB resident, %.1f MiB of it private (%.1f MiB anonymous)"
              % (idle["cpuPercent"], idle["residentMiB"], idle["privateMiB"], idle["anonymousMiB"]), "—", "—",
              "private ≤ 2 MiB, < 0.1 % of a core", idle["privateMiB"] <= 2 and idle["cpuPercent"] < 0.1)


def bench_designer(build, scratch, table):
    print("the receipt designer: request to PNG", flush=True)
    # The receipt of receipt_view_bench: 200 lines, a barcode every fifth,
    # alternately code set B and 20 digits (code set C on the device route).
    receipt = "<p_s><c1>Orvane Shell\n<h1>\n"
    for line in range(200):
        receipt += "Item %03d  Noodles x%d        %6.2f\n" % (line, line % 5 + 1, line * 1.25)
        if line % 5 == 4:
            receipt += ("<bc>ORD-%08d" if line % 10 == 4 else "<bc>%020d") % line + "<h1>\n"
    receipt += "<p_e>"
    body = receipt.encode()
    viewer = os.path.join(build, "bin", "orvane_receipt_view")
    server = subprocess.Popen([viewer, "--serve"], stdout=subprocess.PIPE)
    try:
        port = int(re.search(rb"127\.0\.0\.1:(\d+)/", server.stdout.readline()).group(1))
        path = "/picture?route=device&paper=80&codepage=936"

        def request():
            # A connection of its own, as an idle one is closed after a second.
            start = time.monotonic()
            connection = http.client.HTTPConnection("127.0.0.1", port)
            connection.request("POST", path, body=body)
            response = connection.getresponse()
            png = response.read()
            took = time.monotonic() - start
            connection.close()
            if response.status != 200 or not png.startswith(b"\x89PNG"):
                raise SystemExit("the designer answered %d" % response.status)
            return took * 1000

        request()  # fills the glyph cache, as the page's first drawing does
        markup = os.path.join(scratch, "designer-bench.txt")
        with open(markup, "wb") as out:
            out.write(body)
        command = [viewer, "--markup", markup, "--route", "device", "-o", os.path.join(scratch, "designer-bench.png")]
        runs = alternate(ROUNDS, [("ours", lambda: statistics.median(request() for _ in range(10))),
                                  ("command", lambda: timed(command)[0] * 1000)])
    finally:
        server.send_signal(signal.SIGINT)
        server.wait()
    ours = statistics.median(runs["ours"])
    table.add("receipt designer, request to PNG, 200 lines, 40 barcodes, 80 mm", spread(runs["ours"], "ms"),
              "the command line, start to PNG file " + spread(runs["command"], "ms"),
              "%.2f" % (ours / statistics.median(runs["command"])), "≤ 50 ms", ours <= 50)


def machine():
    model = "unknown processor"
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/loadavg") as load:
        average = load.read().split()[0]
    return "%s, %d cores, Linux %s; load average %s at the start" % (model, os.cpu_count(), platform.release(), average)


def main():
    build = os.path.abspath(sys.argv[1])
    anchor_folder = os.path.abspath(sys.argv[2])
    scratch = os.path.join(build, "bench", "scratch")
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    started = time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())
    where = machine()
    table = Table()
    bench_md5(build, scratch, table)
    bench_download(build, scratch, table)
    bench_housekeeping(build, scratch, table)
    bench_encoding(build, anchor_folder, table)
    bench_log(build, scratch, table)
    bench_addon(build, scratch, table)
    bench_designer(build, scratch, table)
    bench_usb_status(build, scratch, table)
    bench_idle(build, scratch, table)
    shutil.rmtree(scratch, ignore_errors=True)

    header = ("Figure", "Ours", "Anchor, same run", "Ratio", "Target", "Met")
    widths = [max(len(str(row[i])) for row in [header] + table.rows) for i in range(len(header))]
    print()
    print("make bench, %s, on %s" % (started, where))
    for row in [header] + table.rows:
        print("  ".join(str(cell).ljust(width) for cell, width in zip(row, widths)).rstrip())
    markdown = ["Produced by `make bench` on %s, on %s; medians of alternating rounds, spread in brackets."
                % (started, where), "", "| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    markdown += ["| " + " | ".join(str(cell) for cell in row) + " |" for row in table.rows]
    path = os.path.join(build, "bench", "figures.md")
    with open(path, "w") as out:
        out.write("\n".join(markdown) + "\n")
    print("\nThe same table as Markdown: %s" % path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
