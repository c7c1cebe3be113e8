"""The service under faults: failing servers, a held target, curl.exe gone, a
configuration that changes under it and an enormous error file. Each case
checks that the service keeps running, that no target is ever damaged and that
the next run picks up where the fault left off."""

import os
import re
import shutil
import socket
import subprocess
import time

from kelvoran_e2e import suite
from kelvoran_e2e.wine import RUNNING, memory_kib, wait_for, winpath
from test_service import RUN_END, RUN_START, ServiceTest, assert_in_order

# The result record of each handled entry: (kind, name, url).
RESULT = re.compile(rb"\r\n\t(HasERROR No Restart|Need Restart): [^/\n]*/([^/\n]*)/([^\n]*)\n")
NOT_FOUND = b"\r\ncurl.exe Not Found! \n"


def results(log):
    return [(kind.decode(), name.decode(), url.decode())
            for kind, name, url in RESULT.findall(log)]


def entry_blocks(log, name):
    """The run-log text of each curl run of entry `name`: from its start record
    to its result record."""
    blocks = []
    for block in log.split(RUN_START)[1:]:
        match = RESULT.search(block)
        if match and match.group(2) == name.encode():
            blocks.append(block[:match.end()])
    return blocks


def run_start_times(log):
    """The times of the "Run Schedule Start!" records, in seconds since 1970."""
    return [time.mktime(time.strptime(text.decode(), "%a %b %d %H:%M:%S %Y"))
            for text in re.findall(re.escape(RUN_START) + rb"([^\n]*)\n", log)]


def unused_port():
    """A loopback port bound but never listened on: connections to it are refused,
    and no other program can take it while the socket lives."""
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.bind(("127.0.0.1", 0))
    return sock


class FaultTest(ServiceTest):
    def wait_results(self, copy, condition, what, timeout=120):
        """Polls the run log until `condition(results)` holds; returns the log."""
        def check():
            logs = copy.run_logs()
            if len(logs) != 1:
                return None
            with open(logs[0], "rb") as f:
                log = f.read()
            return log if condition(results(log)) else None
        return wait_for(check, timeout, what=what)

    def assert_running(self, copy):
        self.assertEqual(self.wine.service_state(copy.service), RUNNING)
        self.assertIsNotNone(copy.process_id(), "no process for %s" % copy.service)


class FailedDownloadTest(FaultTest):
    def test_a_failed_download_keeps_the_target_and_the_next_run_tries_again(self):
        refused = unused_port()
        self.addCleanup(refused.close)
        body = bytes(range(256)) * 256  # 64 KiB
        cases = [
            # (name, url, what curl reports, healable)
            ("cut", self.server.url("cut.bin"),
             b"curl: (18) transfer closed with %d bytes remaining to read" % (len(body) - 1000),
             True),
            ("status", self.server.url("status.bin"),
             b"curl: (22) The requested URL returned error: 500", True),
            ("refused", "http://127.0.0.1:%d/refused.bin" % refused.getsockname()[1],
             b"curl: (7) Failed to connect to 127.0.0.1 port %d" % refused.getsockname()[1],
             False),
        ]
        self.server.cut_short("cut.bin", body, keep=1000)
        self.server.fail_with("status.bin", 500)
        copy = self.service("failing", "KvFaultFailing", with_curl=True)
        lines = ["intv=5"]
        for name, url, _, _ in cases:
            copy.write(name + ".bin", b"old " + name.encode())
            lines.append("url=%s@@%s.bin@@none@@@@%s" % (name, name, url))
        copy.write("downloader.conf", "\n".join(lines) + "\n")
        copy.start()

        # Two runs, each failing every entry.
        log = self.wait_results(
            copy, lambda seen: all([k for k, n, _ in seen if n == name].count(
                "HasERROR No Restart") >= 2 for name, _, _, _ in cases),
            "two failed runs of every entry")
        self.assert_running(copy)
        for name, url, report, _ in cases:
            with self.subTest(entry=name):
                blocks = entry_blocks(log, name)
                self.assertGreaterEqual(len(blocks), 2, log)
                sent = (url + "?downloaderclientid=default").encode()
                for block in blocks:
                    self.assertIn(report, block)
                    self.assertTrue(block.endswith(
                        b"\r\n\tHasERROR No Restart: none/" + name.encode() + b"/" + sent + b"\n"),
                        block)
                    self.assertNotIn(b"Rename File", block)
                self.assertEqual(copy.read(name + ".bin"), b"old " + name.encode())
        for path in ("cut.bin", "status.bin"):
            self.assertGreaterEqual(len(self.server.requested("GET /%s?" % path)), 2,
                                    self.server.requests)

        # Once the server behaves, the next run brings the files.
        for name, _, _, healable in cases:
            if healable:
                self.server.serve(name + ".bin", body)
                self.server.heal(name + ".bin")
        wait_for(lambda: all(copy.read(name + ".bin") == body
                             for name, _, _, healable in cases if healable),
                 120, what="the healed downloads")
        copy.stop()
        self.assertEqual(copy.read("refused.bin"), b"old refused")
        for name, _, _, healable in cases:
            if healable:
                self.assertFalse(copy.exists(name + ".bin.tempdownloader"), name)


class HeldTargetTest(FaultTest):
    def test_a_target_held_open_is_kept_and_replaced_once_released(self):
        holdopen = suite.helper_program("holdopen")
        copy = self.service("held", "KvFaultHeld", with_curl=True)
        self.server.serve("held.txt", b"new content\r\n")
        copy.write("held.txt", b"old content\r\n")
        copy.write("downloader.conf",
                   "intv=5\nurl=held@@held.txt@@none@@@@%s\n" % self.server.url("held.txt"))

        ready = os.path.join(self.base, "held.ready")
        release = os.path.join(self.base, "held.release")
        holder = subprocess.Popen(["wine", holdopen, winpath(copy.path("held.txt")),
                                   winpath(ready), winpath(release)],
                                  cwd=self.base, env=self.wine.env(), stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(self.end_holder, holder, release)
        wait_for(lambda: os.path.exists(ready) or holder.poll() is not None, 60,
                 what="the holder to open held.txt")
        self.assertTrue(os.path.exists(ready), "the holder ended with %s" % holder.poll())

        copy.start()
        sent = (self.server.url("held.txt") + "?downloaderclientid=default").encode()
        target = copy.windir.encode() + b"held.txt/held/" + sent + b"\n"
        refused = b"\r\n\tRename File Failed: " + target
        log = copy.wait_log(refused)
        # The good download waits beside the old file, which is intact.
        self.assertEqual(copy.read("held.txt"), b"old content\r\n")
        self.assertEqual(copy.read("held.txt.tempdownloader"), b"new content\r\n")
        self.assertIn(refused + b"\r\n\tNeed Restart: none/held/" + sent, log)
        self.assertNotIn(b"\r\n\tRename File: ", log)
        self.assert_running(copy)

        with open(release, "wb"):
            pass
        self.assertEqual(holder.wait(timeout=60), 0)
        copy.wait_log(b"\r\n\tRename File: " + target)
        copy.stop()
        self.assertEqual(copy.read("held.txt"), b"new content\r\n")
        self.assertFalse(copy.exists("held.txt.tempdownloader"))
        log = copy.run_log()
        assert_in_order(self, log, [refused, b"\r\n\tRename File: " + target])

    @staticmethod
    def end_holder(holder, release):
        with open(release, "wb"):
            pass
        try:
            holder.wait(timeout=60)
        except subprocess.TimeoutExpired:
            holder.kill()
            holder.wait()


class CurlRemovedTest(FaultTest):
    def test_downloads_resume_when_curl_is_back(self):
        copy = self.service("nocurl", "KvFaultNoCurl", with_curl=True)
        self.server.serve("file.txt", b"first")
        copy.write("downloader.conf",
                   "intv=5\nurl=file@@file.txt@@none@@@@%s\n" % self.server.url("file.txt"))
        copy.start()
        wait_for(lambda: copy.exists("file.txt") and copy.read("file.txt") == b"first", 120,
                 what="the first download")
        copy.wait_log(b"\r\n\tNeed Restart: none/file/")

        removed_at = time.monotonic()
        os.remove(copy.path("curl.exe"))
        copy.wait_log(NOT_FOUND)
        # A run that had already started may have downloaded; from here on
        # nothing is handled: no request, no stale file removed.
        requests = len(self.server.requests)
        error_file = copy.read("logs/curlerrors_file.txt")
        self.server.serve("file.txt", b"second")
        copy.wait_log(NOT_FOUND * 2)
        self.assertEqual(len(self.server.requests), requests)
        self.assertEqual(copy.read("file.txt"), b"first")
        self.assertEqual(copy.read("logs/curlerrors_file.txt"), error_file)
        self.assert_running(copy)

        staged = copy.path("curl.exe.staged")
        shutil.copy2(suite.curl_exe(), staged)
        os.replace(staged, copy.path("curl.exe"))
        restored_at = time.monotonic()
        wait_for(lambda: copy.read("file.txt") == b"second", 120, what="the resumed download")
        copy.stop()

        log = copy.run_log()
        missing = log.count(NOT_FOUND)
        first, last = log.index(NOT_FOUND), log.rindex(NOT_FOUND)
        self.assertGreaterEqual(missing, 2, log)
        # One unbroken stretch of missing curl, between downloads.
        downloaded = b"\r\n\tNeed Restart: none/file/"
        self.assertIn(downloaded, log[:first])
        self.assertNotIn(RUN_START, log[first:last])
        self.assertIn(downloaded, log[last:])
        # Runs start at least intv seconds apart on a clock of whole seconds, so
        # more than 4 s apart: a message once a second would exceed this.
        self.assertLessEqual(missing, (restored_at - removed_at) / 4 + 1, log)


class ChangingConfigurationTest(FaultTest):
    def test_each_call_reads_what_is_there(self):
        copy = self.service("config", "KvFaultConfig", with_curl=True)
        conf = copy.path("downloader.conf")
        for name in ("a", "b", "c", "d"):
            self.server.serve(name + ".txt", name.encode() * 3)

        def entry(name, url=None):
            return "intv=5\r\nurl=%s@@%s.txt@@none@@@@%s\r\n" % (
                name, name, url or self.server.url(name + ".txt"))

        def write(text):
            # Rewritten in place, as an editor saving over the file does.
            with open(conf, "wb") as f:
                f.write(text.encode())

        def handled(name):
            return self.wait_results(
                copy, lambda seen: any(n == name for _, n, _ in seen),
                "an entry %s handled" % name)

        def idle_for_two_intervals(since):
            # A run that read the file before `since` may still be starting
            # curl; a run that read it later would start curl at least five
            # seconds on.
            time.sleep(11)
            late = [t for t in run_start_times(copy.run_log()) if t > since + 3]
            self.assertEqual(late, [], "runs started after %s" % since)
            self.assert_running(copy)

        write(entry("a"))
        copy.start()
        handled("a")

        write(entry("b"))
        handled("b")

        os.remove(conf)
        idle_for_two_intervals(time.time())

        os.mkdir(conf)
        idle_for_two_intervals(time.time())

        # Half written: the url line is cut in the middle of the address.
        os.rmdir(conf)
        half = entry("c")[:-len("c.txt\r\n") + 1]
        self.assertTrue(half.endswith("/c"), half)
        write(half)
        wait_for(lambda: self.server.requested("GET /c?downloaderclientid=default "), 120,
                 what="the request for the half-written address")
        write(entry("c"))
        wait_for(lambda: self.server.requested("GET /c.txt?downloaderclientid=default "), 120,
                 what="the request for the completed address")

        # Rewritten many times a second, in every shape, while the service reads
        # it; each shape follows from the one before.
        shapes = [lambda: write(entry("d")), lambda: write(entry("d")[:20]), lambda: write(""),
                  lambda: os.remove(conf), lambda: os.mkdir(conf), lambda: os.rmdir(conf),
                  lambda: write(entry("d")[:-5])]
        deadline = time.monotonic() + 6
        turn = 0
        while time.monotonic() < deadline:
            shapes[turn % len(shapes)]()
            turn += 1
            time.sleep(0.01)
        if os.path.isdir(conf):
            os.rmdir(conf)
        write(entry("d"))
        self.assert_running(copy)
        wait_for(lambda: copy.exists("d.txt") and copy.read("d.txt") == b"ddd", 120,
                 what="the download of d after the churn")
        copy.stop()

        # The service went from one file to the next and never back.
        order = [name for _, name, _ in results(copy.run_log())]
        self.assertRegex("".join(order), r"^a+b+c+d+$")
        for name in ("a", "b", "c"):
            self.assertEqual(copy.read(name + ".txt"), name.encode() * 3)
        self.assertEqual(len(copy.run_logs()), 1)


class LongErrorFileTest(FaultTest):
    SIZE = 100 * 1024 * 1024
    LINE_CHARS = 4095  # the scan's line buffer

    def test_a_huge_error_file_without_line_feed_is_scanned_in_flat_memory(self):
        copy = self.service("huge", "KvFaultHuge")
        shutil.copy2(suite.helper_program("fakecurl"), copy.path("curl.exe"))
        cases = [
            # (name, curl's error output ends with an error line, result record)
            ("plain", False, b"Need Restart"),
            ("marked", True, b"HasERROR No Restart"),
        ]
        for name, _, _ in cases:
            copy.write(name + ".txt", b"old")

        def entry(name, query):
            return "url=%s@@%s.txt@@none@@@@http://127.0.0.1:9/%s?%s\n" % (name, name, name, query)

        copy.write("downloader.conf", "intv=5\n" + entry("warm", "size=100000"))
        copy.start()
        self.wait_results(copy, lambda seen: any(n == "warm" for _, n, _ in seen),
                          "the warm-up run")
        pid = copy.process_id()
        self.assertIsNotNone(pid)
        before = memory_kib(pid)

        # The last entry keeps the run waiting until the memory has been read
        # and the configuration emptied, so the huge files are scanned once.
        copy.write("downloader.conf", "intv=5\n" + "".join(
            entry(name, "size=%d&mark=%d" % (self.SIZE, mark)) for name, mark, _ in cases) +
            entry("gate", "wait=gate.open"))
        wait_for(lambda: copy.exists("logs/curlerrors_gate.txt"), 300,
                 what="both huge error files scanned")
        after = memory_kib(pid)
        self.assertEqual(copy.process_id(), pid)
        copy.write("downloader.conf", "intv=5\n")
        copy.write("gate.open", b"")
        copy.stop()

        print("\n  service memory (KiB): before %s, after %s" % (before, after))
        self.assertLessEqual(after["VmHWM"] - before["VmHWM"], 1024, (before, after))
        log = copy.run_log()
        for name, mark, kind in cases:
            with self.subTest(entry=name):
                blocks = entry_blocks(log, name)
                self.assertEqual(len(blocks), 1)
                block = blocks[0]
                self.assertEqual(RESULT.search(block).group(1), kind, block[-300:])
                # Every byte of the error file was emitted, in bounded pieces,
                # each followed by its "\r\n" record, and nothing else.
                text = block[block.index(RUN_END):]
                text = text[text.index(b"\n\n") + 2:text.index(b"\r\n\n\r\n\t") + 3]
                self.assertTrue(text.endswith(b"\n\r\n\n"), text[-100:])
                pieces = text[:-len(b"\n\r\n\n")].split(b"\n\r\n\n")
                self.assertLessEqual(max(len(piece) for piece in pieces), self.LINE_CHARS)
                with open(copy.path("logs/curlerrors_%s.txt" % name), "rb") as f:
                    self.assertEqual(b"".join(pieces), f.read())
                self.assertEqual(pieces[-1].endswith(b"remaining"), mark)
        self.assertEqual(copy.read("plain.txt"),
                         b"fake download after %d bytes of progress\r\n" % self.SIZE)
        self.assertEqual(copy.read("marked.txt"), b"old")
