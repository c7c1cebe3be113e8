"""What an administrator meets besides the service itself: the resources Windows
reads from the program (version, event text, manifest), the configuration
check "/check" and the usage text "/help"."""

import os
import re
import shutil
import unittest
import xml.etree.ElementTree as ElementTree

from kelvoran_e2e import suite
from kelvoran_e2e.suite import Installation
from kelvoran_e2e.wine import winpath

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINDOWS_10 = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"


def project_version():
    """The version in the top-level CMakeLists.txt, which the build stamps in."""
    with open(os.path.join(REPO, "CMakeLists.txt")) as f:
        match = re.search(r"project\(\s*Kelvoran\s+VERSION\s+([0-9.]+)", f.read())
    if not match:
        raise AssertionError("no project version in CMakeLists.txt")
    return match.group(1)


def snapshot(directory):
    """Every file below `directory` with its bytes, and every directory."""
    seen = {}
    for root, dirs, files in os.walk(directory):
        for name in dirs:
            seen[os.path.relpath(os.path.join(root, name), directory)] = "directory"
        for name in files:
            path = os.path.join(root, name)
            with open(path, "rb") as f:
                seen[os.path.relpath(path, directory)] = f.read()
    return seen


class AdminTest(unittest.TestCase):
    def setUp(self):
        self.wine = suite.prefix()
        self.base = suite.work_dir(self.id().rsplit(".", 1)[-1])


class ResourceTest(AdminTest):
    def test_both_builds_carry_version_event_text_and_manifest(self):
        resinfo = suite.helper_program("resinfo")
        version = project_version()
        four_parts = ".".join((version.split(".") + ["0"] * 4)[:4])
        builds = [("64-bit", os.environ.get("KELVORAN_EXE", "")),
                  ("32-bit", os.environ.get("KELVORAN_WIN32_EXE", ""))]
        for label, exe in builds:
            with self.subTest(build=label):
                if label == "32-bit" and not os.path.isfile(exe):
                    self.skipTest("no 32-bit build at %r (cmake --build --preset win32)" % exe)
                self.assertTrue(os.path.isfile(exe), "no %s build at %r" % (label, exe))
                # Read by a 64-bit program through the Windows API; a 32-bit
                # program is loaded as data, so it need not run here.
                result = self.wine.run([resinfo, winpath(exe)])
                self.assertEqual(result.returncode, 0, result.stderr)
                head, _, manifest = result.stdout.replace(b"\r\n", b"\n").partition(
                    b"\nManifest:\n")
                fields = dict(line.split("=", 1) for line in head.decode().split("\n"))
                self.assertNotEqual(fields.pop("FileDescription", ""), "")
                self.assertEqual(fields, {
                    "ProductName": "Kelvoran",
                    "ProductVersion": version,
                    "FileVersion": version,
                    "OriginalFilename": "kelvoran.exe",
                    "Fixed": four_parts,
                    "ProductFixed": four_parts,
                    # Event 0 shows its one insertion string as it is.
                    "Event0": "inserted text",
                })

                root = ElementTree.fromstring(manifest)
                space = {"v1": "urn:schemas-microsoft-com:asm.v1",
                         "v3": "urn:schemas-microsoft-com:asm.v3",
                         "compat": "urn:schemas-microsoft-com:compatibility.v1"}
                level = root.find("v3:trustInfo/v3:security/v3:requestedPrivileges/"
                                  "v3:requestedExecutionLevel", space)
                self.assertIsNotNone(level, manifest)
                self.assertEqual(level.get("level"), "asInvoker")
                self.assertEqual(level.get("uiAccess"), "false")
                systems = [node.get("Id") for node in
                           root.findall("compat:compatibility/compat:application/"
                                        "compat:supportedOS", space)]
                self.assertIn(WINDOWS_10, systems)
                identity = root.find("v1:assemblyIdentity", space)
                self.assertEqual(identity.get("version"), four_parts)


class CheckCommandTest(AdminTest):
    def copy_with(self, subdir, conf, curl=True, logs=True):
        """A copy with `conf` as downloader.conf (None: no file; a dict: a directory)."""
        copy = Installation(self.wine, self.base, subdir, with_logs=logs, with_scripts=False)
        if curl:
            # A stand-in that leaves its traces if it is ever started.
            shutil.copy2(suite.helper_program("fakecurl"), copy.path("curl.exe"))
        if isinstance(conf, dict):
            os.mkdir(copy.path("downloader.conf"))
        elif conf is not None:
            copy.write("downloader.conf", conf)
        return copy

    def check(self, copy):
        result = copy.command("/check", cwd=self.base)
        text = result.stdout.decode("cp1252")
        self.assertTrue(text.endswith("\r\n"), text)
        return result.returncode, text[:-2].split("\r\n")

    def test_a_good_configuration_is_shown_as_the_service_reads_it(self):
        conf = ("# nightly\r\n"
                "intv=60\r\n"
                "clientid=host-7\r\n"
                "\r\n"
                "no equals sign\r\n"
                "color=blue\r\n"
                "url= rules @@rules.xml@@none@@@@http://127.0.0.1:9/rules.xml\r\n"
                "url=log@@log.txt@@restart:eventlog@@own-id@@http://127.0.0.1:9/log?x=1\r\n"
                "url=broken@@x\r\n")
        copy = self.copy_with("good", conf)
        # Stale files of an earlier run, which a download would delete or rewrite.
        copy.write("rules.xml.tempdownloader", b"stale download")
        copy.write("logs/curlerrors_rules.txt", b"stale errors")
        before = snapshot(copy.dir)

        code, lines = self.check(copy)
        wd = copy.windir
        rules_url = "http://127.0.0.1:9/rules.xml?downloaderclientid=host-7"
        expected = [
            "Configuration: %sdownloader.conf" % wd,
            "  line 1: skipped (comment)",
            "  line 2: intv = 60",
            '  line 3: clientid = "host-7"',
            "  line 4: skipped (empty)",
            '  line 5: skipped (no "=")',
            '  line 6: skipped (unknown key "color"; keys are intv, url, clientid)',
            "  line 7: url entry",
            "  line 8: url entry",
            "  line 9: url entry",
            "Interval: 60 seconds",
            'Default client id: "host-7"',
            "Entry 1:",
            "  name:        rules",
            "  target:      %srules.xml" % wd,
            "  action:      none",
            "  client id:   host-7",
            "  url:         " + rules_url,
            "  temporary:   %srules.xml.tempdownloader" % wd,
            "  error file:  %slogs\\curlerrors_rules.txt" % wd,
            '  curl.exe     --stderr "logs\\curlerrors_rules.txt" -o "%srules.xml.tempdownloader"'
            ' -f -k "%s"' % (wd, rules_url),
            "Entry 2:",
            '  action:      restart the service "eventlog"',
            "  client id:   own-id",
            "  url:         http://127.0.0.1:9/log?x=1&downloaderclientid=own-id",
            'Entry 3: FORMAT ERROR, skipped at every run: only 1 of the four "@@" separators'
            " (name@@target@@action@@clientid@@url)",
            "  text:        broken@@x",
            "Result: downloads run every 60 seconds (2 of 3 entries usable).",
        ]
        self.assertEqual(code, 0, lines)
        self.assertEqual([line for line in expected if line not in lines], [], lines)
        self.assertEqual(lines[0], expected[0])
        self.assertEqual(lines[-1], expected[-1])
        # A service the manager knows, an existing target directory, distinct
        # error files, curl.exe and logs\ present: nothing to warn about.
        self.assertEqual([line for line in lines if line.startswith("warning:")], [])
        # Nothing downloaded, deleted, launched or logged.
        self.assertEqual(snapshot(copy.dir), before)

    def test_what_stops_or_spoils_the_downloads_is_reported(self):
        entry = "url=a@@a.txt@@none@@@@http://127.0.0.1:9/a\r\n"
        never = "Result: no download will ever run."
        unreadable = ("error: the file is missing, is a directory or cannot be opened; "
                      "the service does nothing until it can read it.")
        cases = [
            # (case, downloader.conf, curl.exe there, logs\ there, exit code, lines)
            ("no-file", None, True, True, 1, [unreadable]),
            ("directory", {}, True, True, 1, [unreadable]),
            ("no-intv", entry, True, True, 1,
             ['warning: no "intv" line: no download will ever run.', never]),
            ("intv-4", "intv=4\r\n" + entry, True, True, 1,
             ["  line 1: intv = 4", "warning: intv is below 5: no download will ever run.",
              never]),
            ("no-url", "intv=60\r\n", True, True, 1,
             ['warning: no "url" line: nothing to download.', never]),
            ("all-broken", "intv=60\r\nurl=a@@b\r\nurl=a@@b@@c@@d@@\"x\"\r\n", True, True, 1,
             ["warning: every entry is a format error: nothing to download.", never]),
            ("no-curl", "intv=60\r\n" + entry, False, True, 1,
             ['warning: curl.exe is missing beside the executable: every run stops at '
              '"curl.exe Not Found!".', never]),
            ("no-logs", "intv=60\r\n" + entry, True, False, 0,
             ["warning: the logs directory is missing: there is no run log, and every "
              "download fails for lack of an error file. Create {dir}logs",
              "Result: downloads run every 60 seconds (1 of 1 entries usable)."]),
            ("no-target-dir", "intv=60\r\nurl=a@@nowhere\\a.txt@@none@@@@http://127.0.0.1:9/a\r\n",
             True, True, 0,
             ["warning: Entry 1: the target directory {dir}nowhere\\ does not exist; curl "
              "cannot write the download."]),
            ("shared-error-file", "intv=60\r\n" + entry + entry.replace("a.txt", "b.txt"),
             True, True, 0,
             ["warning: Entry 2 shares the error file logs\\curlerrors_a.txt with entry 1; "
              "give them different names."]),
            ("unknown-service",
             "intv=60\r\nurl=a@@a.txt@@restart:KvNoSuchService@@@@http://127.0.0.1:9/a\r\n",
             True, True, 0,
             ['warning: Entry 1: the service control manager knows no service '
              '"KvNoSuchService" to restart.']),
        ]
        for case, conf, curl, logs, expected_code, expected in cases:
            with self.subTest(case=case):
                copy = self.copy_with(case, conf, curl=curl, logs=logs)
                before = snapshot(copy.dir)
                code, lines = self.check(copy)
                self.assertEqual(code, expected_code, lines)
                expected = [line.format(dir=copy.windir) for line in expected]
                self.assertEqual([line for line in expected if line not in lines], [], lines)
                self.assertEqual(snapshot(copy.dir), before)


class HelpCommandTest(AdminTest):
    def test_help_lists_the_command_words_and_the_files(self):
        copy = Installation(self.wine, self.base, "help", with_scripts=False)
        before = snapshot(copy.dir)
        result = copy.command("/help", cwd=self.base)
        self.assertEqual(result.returncode, 0)
        text = result.stdout.decode("cp1252")
        self.assertTrue(text.startswith("Usage: kelvoran.exe "), text)
        self.assertTrue(text.endswith("\r\n"), text)
        self.assertNotIn("\n", text.replace("\r\n", ""), "bare line feeds in %r" % text)
        for word in ("/install", "/uninstall", "/start", "/stop", "/restart", "/check", "/help",
                     "-n NAME", "downloader.conf", "curl.exe", "logs\\",
                     "startservicewrapper.cmd", "stopservicewrapper.cmd"):
            self.assertIn(word, text)
        # Only words: nothing registered, written or run.
        self.assertIsNone(self.wine.service_state("Kelvoran"))
        self.assertEqual(snapshot(copy.dir), before)
