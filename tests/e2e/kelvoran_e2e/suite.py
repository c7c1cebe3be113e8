"""What the end-to-end test modules share: the suite's Wine prefix and installed copies
of kelvoran.exe.

Environment:
  KELVORAN_EXE        the kelvoran.exe under test (required)
  KELVORAN_CURL_EXE   a Windows curl.exe (required by the service-run tests)
  KELVORAN_E2E_ROOT   the suite's prefix root, set by run_e2e.py
"""

import os
import shutil

from . import winprogs
from .wine import WinePrefix, wait_for, winpath

INSTALL_DIR_NAME = "Kelvoran Test"  # the blank is deliberate
SCRIPT_START = "startservicewrapper.cmd"
SCRIPT_STOP = "stopservicewrapper.cmd"
HEADER = b"Prepare Start Wrapper Service.\r\n\nWrapper Service Started.\r\n\n"
FOOTER = b"Wrapper Service End.\r\n\n"


def exe_under_test():
    exe = os.environ.get("KELVORAN_EXE")
    if not exe or not os.path.isfile(exe):
        raise AssertionError("KELVORAN_EXE must name the kelvoran.exe under test")
    return exe


def curl_exe():
    curl = os.environ.get("KELVORAN_CURL_EXE")
    if not curl or not os.path.isfile(curl):
        raise AssertionError("KELVORAN_CURL_EXE not set or missing; run "
                             "tools/build-windows-curl.sh and pass its output")
    return curl


def prefix():
    """The suite's prefix, set up by run_e2e.py."""
    root = os.environ.get("KELVORAN_E2E_ROOT")
    shared = WinePrefix(root) if root else None
    if shared is None or not shared.is_ready():
        raise AssertionError("no Wine prefix set up for the suite; run the tests through "
                             "run_e2e.py (for example: run_e2e.py test_commands)")
    return shared


def helper_program(name):
    """A helper Windows program (kelvoran_e2e/winprogs.py), built once per run."""
    return winprogs.build(name, os.path.join(prefix().root, "winprogs"))


def work_dir(test_id):
    """A fresh directory for one test, under the prefix's root."""
    path = os.path.join(prefix().root, "work", test_id)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


class Installation:
    """A copy of kelvoran.exe in `<base>/Kelvoran Test/<subdir>/`, with its own files."""

    def __init__(self, wine, base, subdir, service_name=None, with_logs=True, with_curl=False,
                 with_scripts=True):
        self.wine = wine
        self.dir = os.path.join(base, INSTALL_DIR_NAME, subdir)
        # The program takes its service name from the first "-n" anywhere in
        # its command line, its own path included.
        if "-n" in self.dir:
            raise AssertionError("an installation path may not hold \"-n\": %s" % self.dir)
        os.makedirs(self.dir)
        self.exe = os.path.join(self.dir, "kelvoran.exe")
        shutil.copy2(exe_under_test(), self.exe)
        self.name = service_name  # given with -n; None for the default
        self.service = service_name if service_name is not None else "Kelvoran"
        if with_logs:
            os.makedirs(os.path.join(self.dir, "logs"))
        if with_curl:
            shutil.copy2(curl_exe(), os.path.join(self.dir, "curl.exe"))
        if with_scripts:
            # Each script leaves a marker of its own: two scripts appending to
            # one file at the same moment can lose a line.
            self.write(SCRIPT_START, b"@echo started> start-marker.txt\r\n")
            self.write(SCRIPT_STOP, b"@echo stopped> stop-marker.txt\r\n")

    @property
    def windir(self):
        """The directory as the program sees it, ending in a backslash."""
        return winpath(self.dir) + "\\"

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        if isinstance(data, str):
            data = data.encode()
        with open(self.path(name), "wb") as f:
            f.write(data)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def exists(self, name):
        return os.path.exists(self.path(name))

    def command(self, *words, cwd=None, timeout=120):
        """Runs the program with these arguments (and `-n NAME` when named)."""
        args = [self.exe] + list(words)
        if self.name is not None:
            args += ["-n", self.name]
        return self.wine.run(args, cwd=cwd, timeout=timeout)

    # ---- service ---------------------------------------------------------------

    def install(self):
        result = self.command("/install")
        if result.stdout != b"Kelvoran Install OK!\r\n":
            raise AssertionError("install of %s failed (exit %d): %r %r" % (
                self.service, result.returncode, result.stdout, result.stderr))

    def uninstall(self):
        """Stops the service if it runs, then removes it. For cleanups."""
        state = self.wine.service_state(self.service)
        if state is None:
            return
        if state != 1:
            self.wine.net("stop", self.service)
            self.wine.wait_state(self.service, 1)
        self.command("/uninstall")
        wait_for(lambda: self.wine.service_state(self.service) is None, 60,
                 what="service %s to be removed" % self.service)

    def start(self):
        self.wine.net("start", self.service)
        self.wine.wait_state(self.service, 4)

    def stop(self):
        """Stops the service; with a run log, also waits for the log to be closed.

        The service reports stopped before it writes its last event and closes
        the run log, so the log's last record can lag behind the state."""
        self.wine.net("stop", self.service)
        self.wine.wait_state(self.service, 1)
        logs = self.run_logs()
        if logs:
            def ended():
                with open(logs[-1], "rb") as f:
                    return f.read().endswith(FOOTER)
            wait_for(ended, 60, what="the run log of %s to end" % self.service)

    def process_id(self):
        """The Linux PID of this copy's running service process, or None."""
        return self.wine.process_of(winpath(self.exe))

    # ---- run logs -----------------------------------------------------------------

    def run_logs(self):
        logs = self.path("logs")
        if not os.path.isdir(logs):
            return []
        return sorted(os.path.join(logs, n) for n in os.listdir(logs)
                      if n.startswith("Kelvoranwinlog_") and n.endswith(".log"))

    def run_log(self):
        """The bytes of the one run log of this installation."""
        logs = self.run_logs()
        if len(logs) != 1:
            raise AssertionError("expected one run log, found %r" % logs)
        with open(logs[0], "rb") as f:
            return f.read()

    def wait_log(self, fragment, timeout=120):
        """Waits until the run log holds `fragment`; returns the log's bytes."""
        def holds():
            logs = self.run_logs()
            if len(logs) != 1:
                return None
            with open(logs[0], "rb") as f:
                data = f.read()
            return data if fragment in data else None
        return wait_for(holds, timeout, what="%r in the run log of %s" % (fragment, self.service))

    def wait_marker(self, name, timeout=60):
        return wait_for(lambda: self.exists(name) and self.read(name), timeout,
                        what="%s in %s" % (name, self.dir))
