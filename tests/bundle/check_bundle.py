#!/usr/bin/env python3
"""Checks the release bundle: python3 check_bundle.py <kelvoran-VERSION-win32.zip>"""
import struct
import sys
import unittest
import zipfile

BUNDLE = None
TEXT_FILES = ["README.txt", "downloader.conf.example",
              "startservicewrapper.cmd.example", "stopservicewrapper.cmd.example"]


class BundleTest(unittest.TestCase):
    def setUp(self):
        self.zip = zipfile.ZipFile(BUNDLE)
        self.addCleanup(self.zip.close)

    def test_holds_exactly_the_release_files_at_top_level(self):
        self.assertEqual(sorted(self.zip.namelist()), sorted(TEXT_FILES + ["kelvoran.exe"]))

    def test_text_files_use_crlf_only(self):
        for name in TEXT_FILES:
            data = self.zip.read(name)
            self.assertGreater(data.count(b"\r\n"), 3, name)
            self.assertEqual(data.count(b"\n"), data.count(b"\r\n"), f"bare LF in {name}")
            self.assertNotIn(b"@PROJECT_VERSION@", data, name)

    def test_executable_is_a_32_bit_windows_program(self):
        exe = self.zip.read("kelvoran.exe")
        self.assertEqual(exe[:2], b"MZ")
        pe_offset = struct.unpack_from("<I", exe, 0x3C)[0]
        self.assertEqual(exe[pe_offset:pe_offset + 4], b"PE\0\0")
        machine = struct.unpack_from("<H", exe, pe_offset + 4)[0]
        self.assertEqual(machine, 0x14C, "expected an i386 executable")

    def test_example_configuration_has_the_three_keys(self):
        text = self.zip.read("downloader.conf.example").decode("ascii")
        keys = {line.split("=", 1)[0].strip() for line in text.splitlines()
                if line and not line.startswith("#") and "=" in line}
        self.assertEqual(keys, {"intv", "clientid", "url"})
        for line in text.splitlines():
            if line.startswith("url="):
                self.assertGreaterEqual(line.count("@@"), 4, line)
                self.assertNotIn('"', line)


if __name__ == "__main__":
    BUNDLE = sys.argv.pop(1)
    unittest.main(verbosity=2)
