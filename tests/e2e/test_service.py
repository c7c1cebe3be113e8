"""kelvoran.exe as a service under Wine's service manager: start, run log, downloads, stop."""

import os
import re
import subprocess
import time
import unittest

from kelvoran_e2e import suite
from kelvoran_e2e.suite import FOOTER, HEADER, Installation
from kelvoran_e2e.webserver import FileServer
from kelvoran_e2e.wine import RUNNING, STOP_PENDING, STOPPED, wait_for

RUN_START = b"\r\nRun Schedule Start! "
RUN_END = b"\r\nRun Schedule End! "
TIME_TEXT = rb"[A-Z][a-z]{2} [A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d \d{4}\n"


def assert_in_order(test, data, fragments):
    """Each fragment occurs in `data`, after the end of the one before it."""
    at = 0
    for fragment in fragments:
        found = data.find(fragment, at)
        test.assertNotEqual(found, -1, "missing after offset %d: %r\nin %r" % (at, fragment, data))
        at = found + len(fragment)


def run_start_times(log):
    """The local times of the "Run Schedule Start!" records, as seconds of the day."""
    times = []
    for match in re.finditer(re.escape(RUN_START) + rb"... ... \d\d (\d\d):(\d\d):(\d\d) \d{4}\n",
                             log):
        hours, minutes, seconds = (int(g) for g in match.groups())
        times.append(hours * 3600 + minutes * 60 + seconds)
    return times


class ServiceTest(unittest.TestCase):
    def setUp(self):
        self.wine = suite.prefix()
        self.base = suite.work_dir(self.id().rsplit(".", 1)[-1])
        self.server = FileServer(os.path.join(self.base, "www"))
        os.makedirs(self.server.root)
        self.server.start()
        self.addCleanup(self.server.stop)

    def service(self, subdir, name, **kwargs):
        """An installed copy; stopped and removed when the test ends."""
        copy = Installation(self.wine, self.base, subdir, name, **kwargs)
        copy.install()
        self.addCleanup(copy.uninstall)
        return copy

    def events_for(self, name):
        """How often the trace shows the stop event under this service's source name."""
        trace = self.wine.trace()
        return (trace.count('RegisterEventSourceA ((null),"%s")' % name),
                trace.count('ReportEventW L"Wrapper Service Stoped!"'))


class StartStopTest(ServiceTest):
    def test_stop_while_idle_gives_the_exact_run_log(self):
        copy = self.service("idle", "KvE2EIdle")
        copy.start()
        self.assertEqual(copy.wait_marker("start-marker.txt"), b"started\r\n")
        self.assertEqual(copy.wait_log(HEADER), HEADER)
        sources_before, events_before = self.events_for("KvE2EIdle")

        copy.stop()
        self.assertEqual(self.wine.service_state("KvE2EIdle"), STOPPED)
        self.assertEqual(copy.run_log(), HEADER + FOOTER)
        self.assertEqual(copy.wait_marker("stop-marker.txt"), b"stopped\r\n")
        names = [os.path.basename(path) for path in copy.run_logs()]
        self.assertEqual(len(names), 1, names)
        self.assertRegex(names[0], r"^Kelvoranwinlog_\d{10}\.log$")
        # The stop event is written under the service's own name.
        wait_for(lambda: self.events_for("KvE2EIdle")[0] > sources_before, 30,
                 what="the stop event of KvE2EIdle")
        self.assertGreater(self.events_for("KvE2EIdle")[1], events_before)

    def test_uninstall_stops_a_running_service_and_removes_it(self):
        copy = self.service("removed", "KvE2ERemoved")
        copy.start()
        copy.wait_log(HEADER)
        result = copy.command("/uninstall")
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout, b"Kelvoran UNInstall OK!\r\n")
        wait_for(lambda: self.wine.service_state("KvE2ERemoved") is None, 90,
                 what="the service to be gone")
        self.assertEqual(copy.wait_marker("stop-marker.txt"), b"stopped\r\n")
        copy.wait_log(HEADER + FOOTER)
        self.assertEqual(copy.run_log(), HEADER + FOOTER)

    def test_without_a_logs_directory_the_service_still_runs_and_downloads(self):
        copy = self.service("nolog", "KvE2ENoLog", with_logs=False, with_curl=True)
        self.server.serve("nolog.bin", b"downloaded without logs")
        copy.write("nolog.bin", b"old")
        copy.write("downloader.conf",
                   "intv=3600\nurl=nolog@@nolog.bin@@none@@nl@@%s\n" % self.server.url("nolog.bin"))
        copy.start()
        copy.wait_marker("start-marker.txt")
        wait_for(lambda: self.server.requested("GET /nolog.bin?downloaderclientid=nl "), 120,
                 what="the download request")
        copy.stop()  # returns once the run has finished
        self.assertEqual(copy.wait_marker("stop-marker.txt"), b"stopped\r\n")
        # curl wrote the download; with no error file to judge it by, it is not committed.
        self.assertEqual(copy.read("nolog.bin.tempdownloader"), b"downloaded without logs")
        self.assertEqual(copy.read("nolog.bin"), b"old")
        self.assertFalse(copy.exists("logs"))


class ScheduleTest(ServiceTest):
    def test_a_full_run_with_every_kind_of_entry(self):
        second = self.service("second", "KvE2ESecond")
        second.start()
        second.wait_log(HEADER)

        first = self.service("first", "KvE2EFirst", with_curl=True)
        srv = self.server
        srv.serve("good.txt", b"good content\r\n")
        srv.serve("reload.txt", b"reload content")
        srv.serve("restart.txt", b"restart content")
        first.write("missing.txt", b"keep me")
        first.write("good.txt", b"old good")
        first.write("reload.cmd", b"@echo reloaded> reload-marker.txt\r\n")
        reload_action = first.windir + "reload.cmd"
        first.write("downloader.conf", "\n".join([
            "# every kind of entry once",
            "intv=3600",
            "clientid=e2e-client",
            "url=good@@good.txt@@none@@@@" + srv.url("good.txt"),
            "url=missing@@missing.txt@@none@@id404@@" + srv.url("missing.txt"),
            "url=broken@@broken.txt@@none@@" + srv.url("broken.txt"),
            "url=reload@@reload.txt@@" + reload_action + "@@@@" + srv.url("reload.txt"),
            "url=restart@@restart.txt@@restart:KvE2ESecond@@@@" + srv.url("restart.txt"),
            "",
        ]))
        first.start()
        first.wait_log(b"Restart Service OK(restart)!: KvE2ESecond\n", timeout=240)
        first.stop()

        log = first.run_log()
        good = (srv.url("good.txt") + "?downloaderclientid=e2e-client").encode()
        missing = (srv.url("missing.txt") + "?downloaderclientid=id404").encode()
        reload_url = (srv.url("reload.txt") + "?downloaderclientid=e2e-client").encode()
        restart = (srv.url("restart.txt") + "?downloaderclientid=e2e-client").encode()
        wd = first.windir.encode()
        reload_fields = reload_action.encode() + b"/reload/" + reload_url
        restart_fields = b"restart:KvE2ESecond/restart/" + restart

        self.assertTrue(log.startswith(HEADER), log)
        self.assertTrue(log.endswith(FOOTER), log)
        self.assertEqual(log.count(RUN_START), 4, log)  # the broken entry starts no curl
        self.assertEqual(len(re.findall(re.escape(RUN_START) + TIME_TEXT + b"\n" +
                                        re.escape(RUN_END) + TIME_TEXT + b"\n", log)), 4, log)
        assert_in_order(self, log, [
            HEADER,
            b"\r\n\tRename File: " + wd + b"good.txt/good/" + good + b"\n"
            b"\r\n\tNeed Restart: none/good/" + good + b"\n",
            b"curl: (22) The requested URL returned error: 404\n\r\n\n"
            b"\r\n\tHasERROR No Restart: none/missing/" + missing + b"\n",
            b"\r\nRun Schedule Failed! Format Error! broken@@broken.txt@@none@@" +
            srv.url("broken.txt").encode() + b"\n",
            b"\r\n\tRename File: " + wd + b"reload.txt/reload/" + reload_url + b"\n"
            b"\r\n\tNeed Restart: " + reload_fields + b"\n"
            b"\r\n\tRun Execute Reload! " + reload_fields + b"\n",
            b"\r\n\tRename File: " + wd + b"restart.txt/restart/" + restart + b"\n"
            b"\r\n\tNeed Restart: " + restart_fields + b"\n"
            b"\r\n\tRun Execute Restart! " + restart_fields + b"\n"
            b"\r\n\tStop Service OK(stop)!: KvE2ESecond\n"
            b"\r\n\tStop Service OK(prepare-start)!: KvE2ESecond\n"
            b"\r\n\tStart Service OK(start)!: KvE2ESecond\n"
            b"\r\n\tRestart Service OK(restart)!: KvE2ESecond\n",
            FOOTER,
        ])
        self.assertNotIn(b"HasERROR No Restart: none/good/", log)

        # Files: replaced, kept, not created.
        self.assertEqual(first.read("good.txt"), b"good content\r\n")
        self.assertEqual(first.read("missing.txt"), b"keep me")
        self.assertEqual(first.read("reload.txt"), b"reload content")
        self.assertEqual(first.read("restart.txt"), b"restart content")
        for name in ("good.txt", "reload.txt", "restart.txt"):
            self.assertFalse(first.exists(name + ".tempdownloader"), name)
        self.assertFalse(first.exists("broken.txt"))
        self.assertEqual(first.wait_marker("reload-marker.txt"), b"reloaded\r\n")
        self.assertEqual(first.wait_marker("stop-marker.txt"), b"stopped\r\n")

        # The client identifier reached the server with every request.
        for fragment in ("GET /good.txt?downloaderclientid=e2e-client ",
                         "GET /missing.txt?downloaderclientid=id404 ",
                         "GET /reload.txt?downloaderclientid=e2e-client ",
                         "GET /restart.txt?downloaderclientid=e2e-client "):
            self.assertEqual(len(srv.requested(fragment)), 1, srv.requests)
        self.assertEqual(srv.requested("broken"), [])

        # The second service was stopped (its stop script ran) and started again.
        self.wine.wait_state("KvE2ESecond", RUNNING)
        self.assertEqual(second.wait_marker("stop-marker.txt"), b"stopped\r\n")
        logs = wait_for(lambda: len(second.run_logs()) == 2 and second.run_logs(), 60,
                        what="a second run log of KvE2ESecond")
        with open(logs[0], "rb") as f:
            self.assertEqual(f.read(), HEADER + FOOTER)

    def test_interval_gates_the_runs(self):
        copy = self.service("gated", "KvE2EGated", with_curl=True)
        self.server.serve("tick.txt", b"tick")
        copy.write("downloader.conf",
                   "intv=5\nurl=tick@@tick.txt@@none@@@@%s\n" % self.server.url("tick.txt"))
        copy.start()
        copy.wait_log(HEADER)
        time.sleep(12)  # the window in which the runs are counted
        log = copy.run_log()
        copy.stop()

        runs = log.count(RUN_START)
        # About one run every 5 s (at ~1, ~6, ~11 s), not one every second.
        self.assertGreaterEqual(runs, 2, log)
        self.assertLessEqual(runs, 4, log)
        times = run_start_times(log)
        self.assertEqual(len(times), runs)
        gaps = [b - a for a, b in zip(times, times[1:])]
        self.assertTrue(all(gap >= 4 for gap in gaps), gaps)

    def test_missing_curl_is_reported_once_per_interval(self):
        copy = self.service("nocurl", "KvE2ENoCurl")
        self.server.serve("never.txt", b"never")
        copy.write("downloader.conf",
                   "intv=5\nurl=never@@never.txt@@none@@@@%s\n" % self.server.url("never.txt"))
        copy.start()
        copy.wait_log(b"curl.exe Not Found!")
        time.sleep(10)
        log = copy.run_log()
        copy.stop()

        runs = log.count(b"\r\ncurl.exe Not Found! \n")
        self.assertGreaterEqual(runs, 2, log)
        self.assertLessEqual(runs, 4, log)
        # Nothing else is written: no download starts and no entry is handled.
        self.assertEqual(log, HEADER + b"\r\ncurl.exe Not Found! \n" * runs)
        self.assertEqual(self.server.requests, [])
        self.assertFalse(copy.exists("never.txt"))

    def test_stop_during_a_download_waits_for_the_entry(self):
        copy = self.service("slow", "KvE2ESlow", with_curl=True)
        body = bytes(range(256)) * 160  # 40 KiB
        slow = self.server.trickle("slow.bin", body, chunks=40, delay=0.3)
        copy.write("slow.bin", b"old")
        copy.write("downloader.conf",
                   "intv=3600\nurl=slow@@slow.bin@@none@@@@%s\n" % self.server.url("slow.bin"))
        copy.start()
        self.assertTrue(slow.started.wait(120), "the slow download never started")

        stopper = self.wine_net_stop_in_background("KvE2ESlow")
        self.addCleanup(self.reap, stopper)
        # Until curl has all of the file, the service may not have stopped. A
        # state counts only when the last piece was still held back after it
        # had been read.
        states = []
        while not slow.last_chunk.is_set():
            state = self.wine.service_state("KvE2ESlow")
            if not slow.last_chunk.is_set():
                states.append(state)
            time.sleep(0.2)
        # The stop is taken (stop pending) but waits for the entry to finish.
        self.assertIn(STOP_PENDING, states)
        self.assertNotIn(STOPPED, states)
        self.wine.wait_state("KvE2ESlow", STOPPED)

        log = copy.run_log()
        sent = (self.server.url("slow.bin") + "?downloaderclientid=default").encode()
        assert_in_order(self, log, [
            HEADER, RUN_START, RUN_END,
            b"\r\n\tRename File: " + copy.windir.encode() + b"slow.bin/slow/" + sent + b"\n"
            b"\r\n\tNeed Restart: none/slow/" + sent + b"\n" + FOOTER,
        ])
        self.assertTrue(log.endswith(FOOTER))
        self.assertEqual(log.count(RUN_START), 1)
        self.assertEqual(copy.read("slow.bin"), body)
        self.assertFalse(copy.exists("slow.bin.tempdownloader"))
        self.assertEqual(copy.wait_marker("stop-marker.txt"), b"stopped\r\n")

    def wine_net_stop_in_background(self, name):
        return subprocess.Popen(["wine", "net", "stop", name], cwd=self.base,
                                env=self.wine.env(), stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    @staticmethod
    def reap(process):
        try:
            process.wait(timeout=120)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
