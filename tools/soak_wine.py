#!/usr/bin/env python3
"""Wine soak: the real service with 20 entries and "intv=5" for a while.

usage: soak_wine.py --exe KELVORAN_EXE --curl CURL_EXE [--minutes N] [--entries N]

Installs kelvoran.exe as a service (in a directory with a blank in its path, in
a Wine prefix of its own) with a real curl.exe and a loopback HTTP server,
lets it run, then stops and removes it and checks its run log:
  * every run handled every entry, in order, each with its start and end
    records and a clean download (no run cut short, no entry skipped, no error);
  * the server saw one request per entry and run;
  * the service process's resident memory at the end, read when a run has just
    ended, is within 256 KiB of its value when the first run had ended.
Prints the figures and exits non-zero when a check fails.
"""

import argparse
import os
import re
import shutil
import signal
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))

from kelvoran_e2e.webserver import FileServer  # noqa: E402
from kelvoran_e2e.wine import RUNNING, STOPPED, WinePrefix, memory_kib, wait_for, winpath  # noqa: E402

SERVICE = "KelvoranSoak"
INTERVAL = 5
MEMORY_LIMIT_KIB = 256
FOOTER = b"Wrapper Service End.\r\n\n"
RECORD = re.compile(rb"\r\nRun Schedule (Start|End)! [^\n]*\n\n"
                    rb"|\r\n\t(Rename File|Rename File Failed|Need Restart|HasERROR No Restart): "
                    rb"[^/\n]*/([^/\n]*)/[^\n]*\n"
                    rb"|\r\n(curl\.exe Not Found!|Run Schedule Failed! Format Error!)[^\n]*\n")


def say(text):
    print("soak: " + text, flush=True)


def records(log):
    """The run log as a list of tokens: "start", "end", "<kind> <entry name>"."""
    tokens = []
    for match in RECORD.finditer(log):
        if match.group(1):
            tokens.append(match.group(1).decode().lower())
        elif match.group(2):
            tokens.append("%s %s" % (match.group(2).decode(), match.group(3).decode()))
        else:
            tokens.append(match.group(4).decode())
    return tokens


def run_tokens(names):
    tokens = []
    for name in names:
        tokens += ["start", "end", "Rename File " + name, "Need Restart " + name]
    return tokens


class Soak:
    def __init__(self, exe, curl, minutes, entries):
        self.minutes = minutes
        self.names = ["e%02d" % i for i in range(1, entries + 1)]
        self.root = tempfile.mkdtemp(prefix="kelvoran_soak_")
        if "-n" in self.root:
            raise SystemExit("the temporary directory %s holds \"-n\"; set TMPDIR elsewhere"
                             % self.root)
        self.dir = os.path.join(self.root, "Kelvoran Soak")
        self.exe = os.path.join(self.dir, "kelvoran.exe")
        os.makedirs(os.path.join(self.dir, "logs"))
        shutil.copy2(exe, self.exe)
        shutil.copy2(curl, os.path.join(self.dir, "curl.exe"))
        self.wine = WinePrefix(os.path.join(self.root, "wine"))
        os.makedirs(os.path.join(self.root, "www"))
        self.server = FileServer(os.path.join(self.root, "www"))
        self.serving = False
        self.installed = False

    def log_path(self):
        logs = [n for n in os.listdir(os.path.join(self.dir, "logs"))
                if n.startswith("Kelvoranwinlog_")]
        if len(logs) != 1:
            raise AssertionError("expected one run log, found %r" % logs)
        return os.path.join(self.dir, "logs", logs[0])

    def read_log(self):
        with open(self.log_path(), "rb") as f:
            return f.read()

    def runs_done(self):
        """Runs whose last entry has its result in the log."""
        return self.read_log().count(b"\r\n\tNeed Restart: none/%s/" % self.names[-1].encode())

    def memory_after_run(self, runs_before):
        """Waits for the run after `runs_before` to end and reads the memory at once."""
        wait_for(lambda: self.runs_done() > runs_before, 300, interval=0.05,
                 what="run %d to end" % (runs_before + 1))
        pid = self.wine.process_of(winpath(self.exe))
        if pid is None:
            raise AssertionError("the service process is gone")
        return pid, memory_kib(pid), self.runs_done()

    def run(self):
        say("prefix and server in %s" % self.root)
        self.wine.create()
        self.server.start()
        self.serving = True
        lines = ["intv=%d" % INTERVAL]
        for i, name in enumerate(self.names):
            self.server.serve(name + ".bin", (name.encode() + b" %04d " % i) * 200)
            lines.append("url=%s@@%s.bin@@none@@@@%s" % (name, name, self.server.url(name + ".bin")))
        with open(os.path.join(self.dir, "downloader.conf"), "w", newline="") as f:
            f.write("\r\n".join(lines) + "\r\n")

        result = self.wine.run([self.exe, "/install", "-n", SERVICE])
        if result.stdout != b"Kelvoran Install OK!\r\n":
            raise AssertionError("install failed: %r %r" % (result.stdout, result.stderr))
        self.installed = True
        self.wine.net("start", SERVICE)
        self.wine.wait_state(SERVICE, RUNNING)
        started = time.monotonic()

        pid, first, _ = self.memory_after_run(0)
        say("first run ended after %.1f s: VmRSS %d KiB, VmHWM %d KiB"
            % (time.monotonic() - started, first["VmRSS"], first["VmHWM"]))
        deadline = started + self.minutes * 60
        next_report = time.monotonic() + 60
        while time.monotonic() < deadline:
            time.sleep(1)
            if time.monotonic() >= next_report:
                next_report += 60
                say("%4.1f min: %d runs, VmRSS %d KiB" % (
                    (time.monotonic() - started) / 60, self.runs_done(),
                    memory_kib(pid)["VmRSS"]))
        end_pid, last, runs_at_last = self.memory_after_run(self.runs_done())
        elapsed = time.monotonic() - started

        self.wine.net("stop", SERVICE)
        self.wine.wait_state(SERVICE, STOPPED)
        wait_for(lambda: self.read_log().endswith(FOOTER), 120, what="the run log to end")
        return self.report(pid, end_pid, first, last, runs_at_last, elapsed)

    def report(self, pid, end_pid, first, last, runs_at_last, elapsed):
        log = self.read_log()
        tokens = records(log)
        one_run = run_tokens(self.names)
        runs = len(tokens) // len(one_run)
        failures = []
        if pid != end_pid:
            failures.append("the service process changed (%d, then %d)" % (pid, end_pid))
        if runs < runs_at_last or tokens != one_run * runs:
            bad = next((i for i, (seen, wanted) in enumerate(zip(tokens, one_run * (runs + 1)))
                        if seen != wanted), len(tokens))
            failures.append("run log breaks the pattern at record %d: %r" % (
                bad, tokens[max(0, bad - 3):bad + 3]))
        for name in self.names:
            requests = len(self.server.requested("GET /%s.bin?downloaderclientid=default " % name))
            if requests != runs:
                failures.append("%s requested %d times in %d runs" % (name, requests, runs))
        durations = self.run_durations(log)
        growth = last["VmRSS"] - first["VmRSS"]
        if growth > MEMORY_LIMIT_KIB:
            failures.append("resident memory grew by %d KiB (limit %d)"
                            % (growth, MEMORY_LIMIT_KIB))

        say("service ran %.1f min with %d entries, intv %d" % (
            elapsed / 60, len(self.names), INTERVAL))
        say("runs: %d complete, %d entries handled, %d downloads, %d failures in the log"
            % (runs, tokens.count("start"), sum(t.startswith("Rename File ") for t in tokens),
               sum(t.startswith(("HasERROR", "Rename File Failed", "curl.exe", "Run Schedule F"))
                   for t in tokens)))
        if durations:
            say("run length (first start to last end, whole seconds): min %d, mean %.1f, max %d"
                % (min(durations), sum(durations) / len(durations), max(durations)))
        say("memory after the first run: VmRSS %d KiB (VmHWM %d KiB)"
            % (first["VmRSS"], first["VmHWM"]))
        say("memory after run %d: VmRSS %d KiB (VmHWM %d KiB)"
            % (runs_at_last, last["VmRSS"], last["VmHWM"]))
        say("growth: %+d KiB (limit %d KiB)" % (growth, MEMORY_LIMIT_KIB))
        say("run log: %d bytes" % len(log))
        for failure in failures:
            say("FAILED: " + failure)
        say("passed" if not failures else "FAILED")
        return 0 if not failures else 1

    def run_durations(self, log):
        times = [time.mktime(time.strptime(t.decode(), "%a %b %d %H:%M:%S %Y"))
                 for t in re.findall(rb"\r\nRun Schedule (?:Start|End)! ([^\n]*)\n", log)]
        per_run = 2 * len(self.names)
        return [times[i + per_run - 1] - times[i] for i in range(0, len(times) - per_run + 1,
                                                                  per_run)]

    def cleanup(self):
        try:
            if self.installed and self.wine.service_state(SERVICE) is not None:
                if self.wine.service_state(SERVICE) != STOPPED:
                    self.wine.net("stop", SERVICE)
                    self.wine.wait_state(SERVICE, STOPPED)
                self.wine.run([self.exe, "/uninstall", "-n", SERVICE])
        finally:
            if self.serving:
                self.server.stop()
            self.wine.teardown()
            shutil.rmtree(self.root, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--curl", required=True)
    parser.add_argument("--minutes", type=float, default=10)
    parser.add_argument("--entries", type=int, default=20)
    args = parser.parse_args()
    # A terminated soak still removes its service and prefix.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))
    soak = Soak(os.path.abspath(args.exe), os.path.abspath(args.curl), args.minutes, args.entries)
    try:
        return soak.run()
    finally:
        soak.cleanup()


if __name__ == "__main__":
    sys.exit(main())
