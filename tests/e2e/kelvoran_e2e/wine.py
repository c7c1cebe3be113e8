"""One Wine prefix of the tests' own, and the Windows tools used through it.

A prefix is created by starting a persistent wineserver on an empty directory
and then running one ordinary program in it. The service manager and every
service it starts inherit the WINEDEBUG setting and the stderr of that first
call, so it runs with the event-log trace channel on and its stderr goes to
`trace_path`: that file is where the services' event-log entries show up.

While services are being tested an ordinary long-running program keeps the
prefix alive (when the last ordinary program ends, wineserver shuts down and
takes every service with it). `teardown` ends that program by its PID and the
wineserver of this prefix with `wineserver -k`.
"""

import os
import re
import shutil
import signal
import subprocess
import time

EVENT_TRACE = "-all,+eventlog,fixme+advapi"
QUIET = "-all"

STOPPED, START_PENDING, STOP_PENDING, RUNNING = 1, 2, 3, 4
SERVICES_KEY = "HKLM\\System\\CurrentControlSet\\Services\\"
EVENT_SOURCES_KEY = SERVICES_KEY + "EventLog\\Application\\"


def winpath(path):
    """The Windows form of a Linux path, as a program under Wine sees it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wait_for(condition, timeout, interval=0.2, what="condition"):
    """Polls `condition` until it returns something true; returns that value."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out after %ss waiting for %s" % (timeout, what))
        time.sleep(interval)


def memory_kib(pid):
    """{"VmRSS": resident KiB now, "VmHWM": the peak resident KiB} of a Linux process."""
    values = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            name, _, rest = line.partition(":")
            if name in ("VmRSS", "VmHWM"):
                values[name] = int(rest.split()[0])
    return values


class WinePrefix:
    def __init__(self, root):
        self.root = os.path.abspath(root)
        self.path = os.path.join(self.root, "prefix")
        self.trace_path = os.path.join(self.root, "wine-trace.log")
        self.keepalive_pid_path = os.path.join(self.root, "keepalive.pid")
        self.ready_path = os.path.join(self.root, "ready")

    # ---- environment and plain runs ---------------------------------------

    def env(self, debug=QUIET, extra=None):
        env = dict(os.environ)
        env.update(WINEPREFIX=self.path, WINEDEBUG=debug, WINEDLLOVERRIDES="mscoree,mshtml=")
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        if extra:
            env.update(extra)
        return env

    def run(self, args, cwd=None, timeout=120, debug=QUIET, check=False):
        """Runs `wine ARGS...`; returns the CompletedProcess with bytes output."""
        result = subprocess.run(["wine"] + list(args), cwd=cwd or self.root,
                                env=self.env(debug), stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=timeout)
        if check and result.returncode != 0:
            raise AssertionError("wine %s failed (%d): %r %r" % (
                " ".join(args), result.returncode, result.stdout, result.stderr))
        return result

    def is_ready(self):
        return os.path.exists(self.ready_path)

    # ---- life cycle ---------------------------------------------------------

    def create(self):
        """Creates the prefix afresh and starts the server and the keep-alive."""
        if os.path.exists(self.root):
            self.teardown()
        os.makedirs(self.path)
        # Detached from our stdio: whoever runs us (ctest) waits for its pipes.
        subprocess.run(["wineserver", "-p"], env=self.env(), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       check=True, timeout=60)
        with open(self.trace_path, "wb") as trace:
            subprocess.run(["wine", "cmd", "/c", "exit 0"], cwd=self.root,
                           env=self.env(EVENT_TRACE), stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=trace, check=True, timeout=300)
        self._keepalive = subprocess.Popen(
            ["wine", "cmd", "/c", "ping -n 100000 127.0.0.1 >NUL"], cwd=self.root,
            env=self.env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, start_new_session=True)
        with open(self.keepalive_pid_path, "w") as f:
            f.write(str(self._keepalive.pid))
        # The service manager answers once the prefix is fully up.
        wait_for(lambda: self.run(["sc", "query", "eventlog"]).returncode == 0, 120,
                 what="the service manager of the new prefix")
        with open(self.ready_path, "w") as f:
            f.write("ready\n")

    def teardown(self):
        """Ends the keep-alive and the wineserver of this prefix, removes the root."""
        try:
            with open(self.keepalive_pid_path) as f:
                pid = int(f.read().strip())
        except (OSError, ValueError):
            pid = None
        if pid is not None and self._is_our_keepalive(pid):
            os.kill(pid, signal.SIGTERM)
        if os.path.isdir(self.path):
            subprocess.run(["wineserver", "-k"], env=self.env(), stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
            subprocess.run(["wineserver", "-w"], env=self.env(), stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        keepalive = getattr(self, "_keepalive", None)
        if keepalive is not None:
            keepalive.wait(timeout=60)
            self._keepalive = None
        shutil.rmtree(self.root, ignore_errors=True)

    def _is_our_keepalive(self, pid):
        # A recorded PID may have been reused once the keep-alive ended; only a
        # process that runs in this prefix is ours to end.
        try:
            with open("/proc/%d/environ" % pid, "rb") as f:
                environ = f.read().split(b"\0")
        except OSError:
            return False
        return ("WINEPREFIX=" + self.path).encode() in environ

    def process_of(self, win_exe):
        """The Linux PID of the program `win_exe` (its Windows path) running in this
        prefix, or None. A Windows process is one Linux process whose command line
        starts with the program's Windows path."""
        wanted = win_exe.lower().encode()
        prefix_env = ("WINEPREFIX=" + self.path).encode()
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    cmdline = f.read()
                with open("/proc/%s/environ" % entry, "rb") as f:
                    environ = f.read().split(b"\0")
            except OSError:
                continue
            if cmdline.lower().startswith(wanted) and prefix_env in environ:
                return int(entry)
        return None

    def trace(self):
        try:
            with open(self.trace_path, "rb") as f:
                return f.read().decode("utf-8", "replace")
        except OSError:
            return ""

    # ---- service manager ------------------------------------------------------

    def service_state(self, name):
        """The state number `sc query` shows, or None when there is no such service."""
        result = self.run(["sc", "query", name])
        match = re.search(rb"STATE\s*:\s*(\d+)", result.stdout)
        return int(match.group(1)) if match else None

    def wait_state(self, name, state, timeout=90):
        wait_for(lambda: self.service_state(name) == state, timeout,
                 what="service %s to reach state %d" % (name, state))

    def net(self, verb, name, timeout=120):
        return self.run(["net", verb, name], timeout=timeout)

    def registry_values(self, key):
        """The values directly under `key` as {name: (type, data)}; None without the key."""
        result = self.run(["reg", "query", key])
        if result.returncode != 0:
            return None
        values = {}
        for line in result.stdout.decode("utf-8", "replace").splitlines():
            match = re.match(r"^ {4}(\S+) {4}(REG_\w+) {4}(.*)$", line)
            if match:
                values[match.group(1)] = (match.group(2), match.group(3))
        return values
