"""kelvoran.exe as an operator runs it: the command words and the registration they leave."""

import os
import time
import unittest

from kelvoran_e2e import suite
from kelvoran_e2e.suite import Installation
from kelvoran_e2e.wine import EVENT_SOURCES_KEY, EVENT_TRACE, SERVICES_KEY, winpath

# "不能启动服务。" in code page 936, as Wine's event-log trace shows the bytes.
CANNOT_START_EVENT = ('ReportEventW L"\\00b2\\00bb\\00c4\\00dc\\00c6\\00f4\\00b6\\00af'
                      '\\00b7\\00fe\\00ce\\00f1\\00a1\\00a3"')


class CommandTest(unittest.TestCase):
    def setUp(self):
        self.wine = suite.prefix()
        self.base = suite.work_dir(self.id().rsplit(".", 1)[-1])

    def install_copy(self, subdir, name, **kwargs):
        """A copy whose service, if any, is removed when the test ends."""
        copy = Installation(self.wine, self.base, subdir, name, **kwargs)
        self.addCleanup(copy.uninstall)
        return copy


class RegistrationTest(CommandTest):
    def test_install_registers_the_service_and_uninstall_removes_it(self):
        cases = [
            # (name given with -n, service name, display name)
            (None, "Kelvoran", "Kelvoran Default"),
            ("KvCmdNamed", "KvCmdNamed", "Kelvoran for name:KvCmdNamed"),
            ("Kv Cmd Blank", "Kv Cmd Blank", "Kelvoran for name:Kv Cmd Blank"),
        ]
        for given, service, display in cases:
            with self.subTest(service=service):
                copy = self.install_copy("first-" + service.replace(" ", "_"), given,
                                         with_scripts=False)
                result = copy.command("/install")
                self.assertEqual(result.returncode, 0)
                self.assertEqual(result.stdout, b"Kelvoran Install OK!\r\n")

                values = self.wine.registry_values(SERVICES_KEY + service)
                self.assertIsNotNone(values, "no registry key for %s" % service)
                self.assertEqual(values["ImagePath"],
                                 ("REG_SZ", '"%s" -n %s' % (winpath(copy.exe), service)))
                self.assertEqual(values["DisplayName"], ("REG_SZ", display))
                self.assertEqual(values["Description"], ("REG_SZ", "Kelvoran"))
                self.assertEqual(values["Start"], ("REG_DWORD", "0x2"))
                self.assertEqual(values["Type"], ("REG_DWORD", "0x10"))
                self.assertEqual(values["ErrorControl"], ("REG_DWORD", "0x1"))
                # The event source, so that an event viewer can show the texts.
                source = self.wine.registry_values(EVENT_SOURCES_KEY + service)
                self.assertIsNotNone(source, "no event source for %s" % service)
                self.assertEqual(source["EventMessageFile"], ("REG_EXPAND_SZ", winpath(copy.exe)))
                self.assertEqual(source["TypesSupported"], ("REG_DWORD", "0x7"))

                # A second install of the same name, from another copy, succeeds
                # and leaves the registration as it was.
                other = Installation(self.wine, self.base,
                                     "second-" + service.replace(" ", "_"), given,
                                     with_scripts=False)
                again = other.command("/install")
                self.assertEqual(again.stdout, b"Kelvoran Install OK!\r\n")
                self.assertEqual(self.wine.registry_values(SERVICES_KEY + service), values)
                self.assertEqual(self.wine.registry_values(EVENT_SOURCES_KEY + service), source)

                removed = copy.command("/uninstall")
                self.assertEqual(removed.returncode, 0)
                self.assertEqual(removed.stdout, b"Kelvoran UNInstall OK!\r\n")
                self.assertIsNone(self.wine.registry_values(SERVICES_KEY + service))
                self.assertIsNone(self.wine.registry_values(EVENT_SOURCES_KEY + service))
                self.assertIsNone(self.wine.service_state(service))

                # Removing what is not there is no failure.
                again = copy.command("/uninstall")
                self.assertEqual(again.returncode, 0)
                self.assertEqual(again.stdout, b"Kelvoran UNInstall OK!\r\n")

    def test_overlong_name_does_nothing(self):
        # "Kelvoran for name:" and this name need more than the 255 characters
        # a display name may have.
        name = "K" * 240
        copy = self.install_copy("long", name, with_scripts=False)
        result = copy.command("/install")
        self.assertEqual(result.returncode, 0)
        self.assertNotIn(b"Install OK", result.stdout)
        self.assertIsNone(self.wine.registry_values(SERVICES_KEY + name))
        self.assertIsNone(self.wine.service_state(name))


class WrapperCommandTest(CommandTest):
    MARKERS = ("start-marker.txt", "stop-marker.txt")

    def test_wrapper_command_words_run_their_scripts(self):
        cases = [
            ("/start", {"start-marker.txt": b"started\r\n"}),
            ("/stop", {"stop-marker.txt": b"stopped\r\n"}),
            ("/restart", {"start-marker.txt": b"started\r\n", "stop-marker.txt": b"stopped\r\n"}),
        ]
        for word, expected in cases:
            with self.subTest(word=word):
                copy = Installation(self.wine, self.base, word.strip("/"))
                # Started from elsewhere: the scripts still run in the program's directory.
                result = copy.command(word, cwd=self.base)
                self.assertEqual(result.returncode, 0)
                self.assertEqual(result.stdout, b"")
                for marker, content in expected.items():
                    self.assertEqual(copy.wait_marker(marker), content)
                for marker in self.MARKERS:
                    self.assertFalse(os.path.exists(os.path.join(self.base, marker)))
                time.sleep(2)  # a script that should not run has had its chance
                for marker in set(self.MARKERS) - set(expected):
                    self.assertFalse(copy.exists(marker), "%s ran a script it should not" % word)

    def test_wrapper_command_words_without_scripts_do_nothing(self):
        copy = Installation(self.wine, self.base, "bare", with_scripts=False)
        before = sorted(os.listdir(copy.dir))
        for word in ("/start", "/stop", "/restart"):
            with self.subTest(word=word):
                result = copy.command(word)
                self.assertEqual(result.returncode, 0)
                self.assertEqual(result.stdout, b"")
        self.assertEqual(sorted(os.listdir(copy.dir)), before)


class ConsoleStartTest(CommandTest):
    def test_start_without_a_command_word_from_a_console_reports_the_event(self):
        copy = Installation(self.wine, self.base, "console", with_scripts=False)
        result = self.wine.run([copy.exe], debug=EVENT_TRACE, timeout=120)
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout, b"")
        trace = result.stderr.decode("utf-8", "replace")
        self.assertIn('RegisterEventSourceA ((null),"Kelvoran")', trace)
        self.assertEqual(trace.count(CANNOT_START_EVENT), 1, trace)
        self.assertEqual(copy.run_logs(), [])
