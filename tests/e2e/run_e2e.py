#!/usr/bin/env python3
"""Runs end-to-end test modules in one Wine prefix made for this run.

  run_e2e.py [NAME ...]     NAME: a module, class or test as unittest names them
                            (default: every module that drives Wine)

The prefix lives in a fresh temporary directory, so two runs at the same time
(two developers' ctest, say) never meet. It is created once, before the first
test, and torn down after the last one: the keep-alive program ended by its
PID, the prefix's wineserver with `wineserver -k`, the directory removed.

Environment: KELVORAN_EXE, KELVORAN_CURL_EXE (see kelvoran_e2e/suite.py).
"""

import os
import shutil
import signal
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from kelvoran_e2e.wine import WinePrefix  # noqa: E402

WINE_MODULES = ["test_commands", "test_admin", "test_service", "test_faults"]


def main():
    names = sys.argv[1:] or WINE_MODULES
    # A terminated run still tears its prefix down.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))

    # kelvoran.exe takes its service name from the first "-n" anywhere in its
    # command line, its own path included, so no path here may hold one.
    root = tempfile.mkdtemp(prefix="kelvoran_e2e_")
    if "-n" in root:
        shutil.rmtree(root)
        print("the temporary directory %s holds \"-n\"; set TMPDIR elsewhere" % root,
              file=sys.stderr)
        return 2
    prefix = WinePrefix(os.path.join(root, "suite"))
    os.environ["KELVORAN_E2E_ROOT"] = prefix.root
    try:
        # One snapshot of the program for the whole run, so every test runs the
        # same build even when the build tree is relinked meanwhile.
        exe = os.environ.get("KELVORAN_EXE", "")
        if os.path.isfile(exe):
            snapshot = os.path.join(root, "kelvoran.exe")
            shutil.copy2(exe, snapshot)
            os.environ["KELVORAN_EXE"] = snapshot
        prefix.create()
        tests = unittest.defaultTestLoader.loadTestsFromNames(names)
        result = unittest.TextTestRunner(verbosity=2).run(tests)
        return 0 if result.wasSuccessful() else 1
    finally:
        prefix.teardown()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
