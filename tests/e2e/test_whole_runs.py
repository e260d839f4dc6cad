"""Whole runs of the built program on machine directories.

Usage: test_whole_runs.py PATH_TO_UNINST [unittest options]
(or the path in the environment variable UNINST).
"""

import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from check import LOG_PATH, check, read_or_none  # noqa: E402
from machine import files_left, host_path, make_machine, make_writable  # noqa: E402
from runs import BOX_CAPTION, BOX_TEXT, run_native  # noqa: E402
from scenarios import SCENARIOS, Scenario  # noqa: E402

UNINST = os.environ.get("UNINST", "")


def scenario_named(name: str) -> Scenario:
    return next(s for s in SCENARIOS if s.name == name)


class MachineTest(unittest.TestCase):
    def setUp(self):
        if not os.access(UNINST, os.X_OK):
            self.fail("setup: no built program at %r" % UNINST)
        self.machine = tempfile.mkdtemp(prefix="uninst-e2e-")
        self.addCleanup(self.remove_machine)

    def remove_machine(self):
        make_writable(self.machine)
        shutil.rmtree(self.machine)

    def start_folder(self, scenario):
        if scenario.start_dir is None:
            return self.machine
        return host_path(os.path.join(self.machine, "drive_c"), scenario.start_dir)

    def assert_no_differences(self, differences):
        self.assertEqual([], differences, "\n  " + "\n  ".join(differences))


class EachScenario(MachineTest):
    """One test per scenario of the table, run with no terminal: the box cannot
    be shown, so the exit status is 0."""

    def run_scenario(self, scenario):
        make_machine(self.machine, scenario)
        run = run_native(UNINST, self.machine, cwd=self.start_folder(scenario))
        self.assert_no_differences(check(scenario, self.machine, run.exit_status, 0))


def add_scenario_tests():
    for scenario in SCENARIOS:
        def test(self, scenario=scenario):
            self.run_scenario(scenario)
        test.__doc__ = "guards against: " + scenario.guards
        setattr(EachScenario, "test_" + scenario.name, test)


add_scenario_tests()


class OnATerminal(MachineTest):
    def test_box_shows_last_and_enter_gives_exit_status_1(self):
        scenario = scenario_named("full_installation_is_removed_and_replaces_earlier_log")
        make_machine(self.machine, scenario)
        drive_c = os.path.join(self.machine, "drive_c")
        while_shown = {}

        def on_box():
            while_shown["log"] = read_or_none(host_path(drive_c, LOG_PATH))
            while_shown["viewer"] = os.path.exists(host_path(drive_c, "APPS/VIEWER"))

        run = run_native(UNINST, self.machine, terminal=True, on_box=on_box)
        for text in (BOX_CAPTION, BOX_TEXT):
            self.assertIn(text, run.output, "box text missing from the terminal")
        self.assertEqual(scenario.expected_log, while_shown["log"], "log complete before the box")
        self.assertFalse(while_shown["viewer"], "directory removed before the box")
        self.assert_no_differences(check(scenario, self.machine, run.exit_status, 1))


class RunAgain(MachineTest):
    def test_second_run_after_full_uninstall_changes_nothing(self):
        scenario = scenario_named("full_installation_is_removed_and_replaces_earlier_log")
        make_machine(self.machine, scenario)
        run_native(UNINST, self.machine)
        registry = read_or_none(os.path.join(self.machine, "registry.reg"))
        files = files_left(os.path.join(self.machine, "drive_c"))
        second = run_native(UNINST, self.machine)
        self.assertEqual(0, second.exit_status)
        self.assertEqual(registry, read_or_none(os.path.join(self.machine, "registry.reg")))
        self.assertEqual(files, files_left(os.path.join(self.machine, "drive_c")),
                         "the first run's log and every file left as they were")


def replace_in_file(where: str, old: bytes, new: bytes):
    with open(where, "rb") as f:
        text = f.read()
    if old not in text:
        raise AssertionError("setup: %r not in %s" % (old, where))
    with open(where, "wb") as f:
        f.write(text.replace(old, new, 1))


# Faults planted after a correct run, each of which the check must report.
PLANTED_FAULTS = [
    ("unrelated string value changed", "registry.reg", b'@="txtfile"', b'@="txtfilf"'),
    ("unrelated hex byte changed on its continuation line", "registry.reg", b"  ff", b"  fe"),
    ("unrelated dword changed", "registry.reg", b"dword:00010000", b"dword:00010001"),
    ("unrelated file changed", "drive_c/APPS/keep.txt", b"another", b"Another"),
    ("log line end without CR", "drive_c/WINDOWS/ZELVORANT_UNINSTALL.LOG", b"removed\r\n",
     b"removed\n"),
]


class CheckSeesPlantedFaults(MachineTest):
    """The check itself must not pass a machine that differs from the
    expectation: each fault planted after a correct run is reported."""

    scenario = scenario_named("full_installation_is_removed_and_replaces_earlier_log")

    def run_correctly(self):
        make_machine(self.machine, self.scenario)
        self.assert_no_differences(check(self.scenario, self.machine,
                                          run_native(UNINST, self.machine).exit_status))

    def test_each_planted_fault_is_reported(self):
        for what, where, old, new in PLANTED_FAULTS:
            with self.subTest(what):
                self.run_correctly()
                replace_in_file(os.path.join(self.machine, where), old, new)
                self.assertNotEqual([], check(self.scenario, self.machine), what)
                self.remove_machine()
                os.makedirs(self.machine)

    def test_stray_file_and_missing_file_are_reported(self):
        self.run_correctly()
        os.remove(os.path.join(self.machine, "drive_c/TEMP/V.LOG"))
        open(os.path.join(self.machine, "registry.reg.tmp"), "w").close()
        differences = check(self.scenario, self.machine)
        self.assertTrue(any("TEMP/V.LOG" in d for d in differences), differences)
        self.assertTrue(any("registry.reg.tmp" in d for d in differences), differences)


if __name__ == "__main__":
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        UNINST = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
