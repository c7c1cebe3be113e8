"""The built programs must run on a bare Windows: they may import system DLLs only.

Environment: KELVORAN_EXE (the 64-bit build, required) and KELVORAN_WIN32_EXE (the
32-bit release build, checked when it has been built).
"""

import os
import re
import subprocess
import unittest

ALLOWED = re.compile(r"^(kernel32|advapi32|shell32|user32|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)"
                     r"\.dll$", re.IGNORECASE)


def imported_dlls(objdump, exe):
    dump = subprocess.run([objdump, "-p", exe], capture_output=True, text=True, check=True).stdout
    return re.findall(r"^\s*DLL Name:\s*(\S+)\s*$", dump, re.MULTILINE)


class ImportTableTest(unittest.TestCase):
    def check(self, objdump, exe, image_format):
        dlls = imported_dlls(objdump, exe)
        self.assertIn("file format %s" % image_format,
                      subprocess.run([objdump, "-f", exe], capture_output=True, text=True,
                                     check=True).stdout)
        self.assertTrue(dlls, "no imports found in %s" % exe)
        self.assertEqual([d for d in dlls if not ALLOWED.match(d)], [], dlls)
        # The service and shell functions are the only reasons for these three.
        for required in ("kernel32.dll", "advapi32.dll", "shell32.dll"):
            self.assertIn(required, [d.lower() for d in dlls])

    def test_64_bit_build(self):
        exe = os.environ.get("KELVORAN_EXE", "")
        self.assertTrue(os.path.isfile(exe), "KELVORAN_EXE must name the 64-bit kelvoran.exe")
        self.check("x86_64-w64-mingw32-objdump", exe, "pei-x86-64")

    def test_32_bit_build(self):
        exe = os.environ.get("KELVORAN_WIN32_EXE", "")
        if not os.path.isfile(exe):
            self.skipTest("no 32-bit build at %r (cmake --build --preset win32)" % exe)
        self.check("i686-w64-mingw32-objdump", exe, "pei-i386")


if __name__ == "__main__":
    unittest.main()
