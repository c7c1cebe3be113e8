#!/usr/bin/env python3
"""Runs Kelvoran as a real service under Wine and shows what it does.

usage: demo.py KELVORAN_EXE CURL_EXE

Sets up a directory (with a blank in its path, as under "Program Files") with
kelvoran.exe, curl.exe, a downloader.conf, start and stop scripts and logs\\,
serves files on 127.0.0.1, installs the service in a Wine prefix of its own,
starts it, waits for two download runs, shows the downloaded files, the
scripts' traces and the run log, then stops and uninstalls the service and
removes everything it made.
"""

import os
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))

from kelvoran_e2e.webserver import FileServer  # noqa: E402
from kelvoran_e2e.wine import WinePrefix, wait_for, winpath  # noqa: E402

SERVICE = "KelvoranDemo"
INTERVAL = 8


def show(title, text):
    print("\n--- %s " % title + "-" * max(0, 60 - len(title)))
    print(text.rstrip("\n"))


def run_log_text(data):
    # Make the record structure visible: CR as \r, each record's own line feed as a line end.
    return data.decode("cp1252", "replace").replace("\r", "\\r")


def main(exe, curl):
    work = tempfile.mkdtemp(prefix="kelvoran-demo-")
    install = os.path.join(work, "Kelvoran Demo")
    served = os.path.join(work, "served")
    os.makedirs(os.path.join(install, "logs"))
    os.makedirs(served)
    shutil.copy(exe, os.path.join(install, "kelvoran.exe"))
    shutil.copy(curl, os.path.join(install, "curl.exe"))

    wine = WinePrefix(os.path.join(work, "wine"))
    server = FileServer(served)
    try:
        print("Creating a Wine prefix and starting a file server on 127.0.0.1 ...")
        wine.create()
        server.start()
        server.serve("motd.txt", b"Welcome! Served by the demo's local HTTP server.\r\n")
        server.serve("settings.ini", b"[app]\r\nlevel=3\r\n")

        with open(os.path.join(install, "startservicewrapper.cmd"), "w") as f:
            f.write("@echo off\r\necho wrapped software started>> started.txt\r\n")
        with open(os.path.join(install, "stopservicewrapper.cmd"), "w") as f:
            f.write("@echo off\r\necho wrapped software stopped>> stopped.txt\r\n")
        with open(os.path.join(install, "reload.cmd"), "w") as f:
            f.write("@echo off\r\necho settings reloaded>> reloaded.txt\r\n")
        conf = ("# Demo schedule\r\n"
                "intv=%d\r\n"
                "clientid=demo-host\r\n"
                "url=motd@@motd.txt@@none@@@@%s\r\n"
                "url=settings@@settings.ini@@reload.cmd@@site-7@@%s\r\n"
                "url=missing@@missing.bin@@none@@@@%s\r\n"
                "url=this entry lacks its separators\r\n"
                % (INTERVAL, server.url("motd.txt"), server.url("settings.ini"),
                   server.url("missing.bin")))
        with open(os.path.join(install, "downloader.conf"), "w", newline="") as f:
            f.write(conf)
        show("downloader.conf", conf.replace("\r\n", "\n"))

        exe_win = winpath(os.path.join(install, "kelvoran.exe"))
        result = wine.run([exe_win, "/check"], cwd=install)
        show("kelvoran.exe /check", result.stdout.decode("cp1252", "replace").replace("\r\n", "\n"))

        result = wine.run([exe_win, "/install", "-n", SERVICE], cwd=install)
        show("kelvoran.exe /install -n " + SERVICE, result.stdout.decode().replace("\r\n", "\n"))
        values = wine.registry_values(SERVICE) or {}
        show("registration", "\n".join("%s = %s" % (k, v[1]) for k, v in sorted(values.items())))

        print("\nnet start %s ..." % SERVICE)
        wine.net("start", SERVICE)
        wine.wait_state(SERVICE, 4)
        logs = os.path.join(install, "logs")
        run_log = wait_for(lambda: [n for n in os.listdir(logs) if n.startswith("Kelvoranwinlog_")],
                           60, what="the run log")[0]
        print("running; waiting for two download runs (%d s apart) ..." % INTERVAL)
        wait_for(lambda: len(server.requested("/settings.ini")) >= 2, 120, what="two runs")
        time.sleep(3)  # let the second run finish its last entries

        print("\nnet stop %s ..." % SERVICE)
        wine.net("stop", SERVICE)
        wine.wait_state(SERVICE, 1)
        wait_for(lambda: os.path.exists(os.path.join(install, "stopped.txt")), 60,
                 what="the stop script")

        show("requests the server saw", "\n".join(server.requests))
        for name in ("motd.txt", "settings.ini", "started.txt", "reloaded.txt", "stopped.txt"):
            path = os.path.join(install, name)
            text = open(path, "rb").read().decode("cp1252", "replace") if os.path.exists(path) \
                else "(missing)"
            show(name, text.replace("\r\n", "\n"))
        show("files beside kelvoran.exe", "\n".join(sorted(os.listdir(install))))
        with open(os.path.join(logs, run_log), "rb") as f:
            show("logs\\" + run_log + " (\\r shown as text)", run_log_text(f.read()))

        result = wine.run([exe_win, "/uninstall", "-n", SERVICE], cwd=install)
        show("kelvoran.exe /uninstall -n " + SERVICE, result.stdout.decode().replace("\r\n", "\n"))
        print("service registered afterwards: %s" % (wine.registry_values(SERVICE) is not None))
        return 0
    finally:
        try:
            server.stop()
        finally:
            wine.teardown()
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2]))
