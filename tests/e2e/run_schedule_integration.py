#!/usr/bin/env python3
"""Runs the schedule integration tests (a GoogleTest program) under Wine.

The program finds downloader.conf, curl.exe and its logs beside itself, so it
is copied together with curl.exe into a fresh directory, where it runs in a
Wine prefix of its own. A loopback HTTP server serves that directory's www/
subdirectory, appends every request line to requests.log there and tells the
program its port through KELVORAN_TEST_HTTP_PORT.

usage: run_schedule_integration.py --test-exe PATH --curl PATH [gtest options]
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from kelvoran_e2e.webserver import FileServer  # noqa: E402
from kelvoran_e2e.wine import WinePrefix  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--test-exe", required=True)
    parser.add_argument("--curl", required=True)
    args, gtest_args = parser.parse_known_args()

    for what, path in (("test program", args.test_exe), ("curl.exe", args.curl)):
        if not os.path.isfile(path):
            print("%s not found: %s" % (what, path), file=sys.stderr)
            if what == "curl.exe":
                print("run tools/build-windows-curl.sh and configure with "
                      "KELVORAN_CURL_EXE=<its output>", file=sys.stderr)
            return 2

    root = tempfile.mkdtemp(prefix="kelvoran_schedule_")
    prefix = WinePrefix(os.path.join(root, "wine"))
    try:
        app = os.path.join(root, "app")
        os.makedirs(os.path.join(app, "www"))
        exe = os.path.join(app, os.path.basename(args.test_exe))
        shutil.copy2(args.test_exe, exe)
        shutil.copy2(args.curl, os.path.join(app, "curl.exe"))

        prefix.create()
        with FileServer(os.path.join(app, "www"),
                        request_log=os.path.join(app, "requests.log")) as server:
            env = prefix.env(extra={"KELVORAN_TEST_HTTP_PORT": str(server.port)})
            result = subprocess.run(["wine", exe] + gtest_args, cwd=app, env=env,
                                    stdin=subprocess.DEVNULL, timeout=600)
        return result.returncode
    finally:
        prefix.teardown()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
