"""Local stand-ins of the upgrade and launch-statistics services for `make run`.
The upgrade service always names the running version, 1.2.0, so nothing is
ever installed; each request is printed as it arrives.

    standin_services.py --port-file FILE    # writes the chosen port there once listening
"""

import argparse
import json
import os
import sys
import threading

from http_server import Reply, ScriptedServer

RUNNING_VERSION = "1.2.0"
REPORT_PATH = "/kesto.kesto-windowsLauncher.orvane_tillbox_launch"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file")
    options = parser.parse_args()

    server = ScriptedServer(port=options.port)

    def upgrade(request):
        print("[upgrade service] %s %s  %s" % (request.method, request.path, request.body.decode("utf-8", "replace")),
              flush=True)
        answer = {"code": 200, "data": {"url": server.url("/installer/%s_kesto.exe" % RUNNING_VERSION),
                                        "md5": "", "version": RUNNING_VERSION}}
        print("[upgrade service] answered version %s: nothing to install" % RUNNING_VERSION, flush=True)
        return Reply(200, json.dumps(answer).encode(), headers=[("Content-Type", "application/json")])

    def report(request):
        print("[statistics service] GET %s?%s" % (request.path, request.query), flush=True)
        return Reply(200, b"ok")

    server.route("POST", "/upgrade", upgrade)
    server.route("POST", "/testing/upgrade", upgrade)
    server.route("GET", REPORT_PATH, report)
    server.start()
    print("[services] listening on 127.0.0.1:%d" % server.port, flush=True)
    if options.port_file:
        with open(options.port_file + ".tmp", "w") as f:
            f.write(str(server.port))
        os.replace(options.port_file + ".tmp", options.port_file)
    try:
        threading.Event().wait()
    except KeyboardInterrupt:
        pass
    finally:
        server.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
