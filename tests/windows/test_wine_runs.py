"""The Windows build run under Wine over the whole-run scenario table, each
run compared with the table and with the native build's run on the stand-in.

Usage: test_wine_runs.py PATH_TO_UNINST_EXE PATH_TO_NATIVE_UNINST [unittest options]

Wine is not Windows: where it is known to differ, KNOWN_DIFFERENCES names
the scenario with the reason, and the test asserts the safe outcome there
(nothing outside the installation touched) instead of the table's.
"""

import dataclasses
import os
import shutil
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
sys.path.insert(0, HERE)

from check import LOG_PATH, check, read_or_none  # noqa: E402
from machine import (FOLDER, WINDOWS, entry_state, files_left, host_path, make_files,  # noqa: E402
                     make_machine, make_writable, with_parents, write_entry)
from regedit import registry_keys_and_values  # noqa: E402
from runs import run_native  # noqa: E402
from scenarios import LOG_KEYS, SCENARIOS, VIEWER, log_dir  # noqa: E402
from wine_session import WineSession, cleared_roots, missing_tools  # noqa: E402

UNINST_EXE = ""
UNINST_NATIVE = ""
SESSION = None


@dataclasses.dataclass
class Difference:
    reason: str  # why Wine's outcome is not Windows'
    under_wine: dict  # the scenario's expectations that change under Wine


# Where Wine is known to differ from Windows. Under Wine the scenario is
# checked against its changed expectations, which still hold every key and
# file outside the installation as it was; the native run is checked against
# the table, and the two are not compared.
KNOWN_DIFFERENCES = {
    "links_are_removed_never_followed": Difference(
        "Wine's RemoveDirectoryA does not remove a symbolic link to a folder, so the link, "
        "and with it the installation folder, stays (the folder's target is untouched); and "
        "Wine's DeleteFileA on a symbolic link to a file deletes the target, outside the "
        "installation, and keeps the link, where Windows deletes the link alone",
        dict(expected_log=LOG_KEYS,
             removed_files=(VIEWER + "/VIEW.EXE", VIEWER + "/readme.txt", VIEWER + "/.settings",
                            VIEWER + "/data/scene.zvx", VIEWER + "/data/textures",
                            VIEWER + "/data/empty", "APPS/keep.txt"))),
    "read_only_log_stays_and_the_run_goes_on": Difference(
        "Wine keeps the read-only attribute in the owner's write bit, which a process run "
        "as root may open for writing anyway: the earlier log is replaced",
        dict(expected_log=LOG_KEYS + log_dir("C:\\APPS\\VIEWER"))),
    "tree_deeper_than_the_path_limit_stays_below_it": Difference(
        "Wine's SetCurrentDirectoryA limits only the length of the name it is given, not of "
        "the full path that results, so it enters folders whose paths pass 258 characters: "
        "the whole tree goes",
        dict(expected_log=LOG_KEYS + log_dir("C:\\APPS\\VIEWER"), removed_files=(VIEWER,))),
}

# What Wine's MessageBoxA returns when there is no display to show it on:
# -1 with ERROR_INVALID_WINDOW_HANDLE, where Windows returns 0. The process
# exit status holds its low byte.
WINE_BOX_WITHOUT_DISPLAY = 255


def setUpModule():
    global SESSION
    missing = missing_tools()
    if missing:
        raise RuntimeError("setup: missing tools: " + " ".join(missing))
    for path in (UNINST_EXE, UNINST_NATIVE):
        if not os.access(path, os.R_OK):
            raise RuntimeError("setup: no built program at %r" % path)
    SESSION = WineSession(cleared_roots(s.registry_text() for s in wine_scenarios()))
    try:
        SESSION.start()
    except Exception:
        SESSION.stop()
        raise


def tearDownModule():
    if SESSION is not None:
        SESSION.stop()


def wine_scenarios():
    return [s for s in SCENARIOS if not s.native_only]


def scenario_keys(scenario):
    return {k.upper() for k in registry_keys_and_values(scenario.registry_text())}


def only_keys(registry, names):
    return {k.upper(): v for k, v in registry.items() if k.upper() in names}


def only_paths(files, paths):
    return {p: s for p, s in files.items() if p in paths and p != LOG_PATH}


@dataclasses.dataclass
class Outcome:
    """What a run left: its machine folder (for the Wine run, a copy of the
    scenario's entries) and what was read from it."""

    exit_status: int
    machine: str
    windows_name: str
    registry: dict
    log: bytes = None
    files: dict = None

    def __post_init__(self):
        drive_c = os.path.join(self.machine, "drive_c")
        self.log = read_or_none(host_path(drive_c, LOG_PATH, self.windows_name))
        self.files = files_left(drive_c, self.windows_name)


class PrefixTest(unittest.TestCase):
    """Runs on the session's prefix, each scenario's keys and files set up
    before and its files cleared after."""

    maxDiff = None

    def for_wine(self, scenario):
        """The scenario with the prefix's own files where it names files of
        the Windows directory that Wine has: a stand-in kernel32.dll would
        stop every Wine process. The run must leave Wine's bytes as they are."""
        files = dict(scenario.files)
        for path, state in scenario.all_files().items():
            where = host_path(SESSION.drive_c, path, SESSION.windows_name)
            if path.startswith(WINDOWS + "/") and os.path.isfile(where):
                with open(where, "rb") as f:
                    files[path] = f.read()
        return dataclasses.replace(scenario, files=files)

    def in_prefix(self, path):
        return host_path(SESSION.drive_c, path, SESSION.windows_name)

    def set_up_prefix(self, scenario):
        self.baseline = {p for p in scenario.files_before() if os.path.lexists(self.in_prefix(p))}
        self.addCleanup(self.clear_prefix_files, scenario)
        SESSION.import_registry(scenario.registry_text())
        created = {p: s for p, s in scenario.all_files().items() if p not in self.baseline}
        make_files(SESSION.drive_c, created, SESSION.windows_name)
        log = host_path(SESSION.drive_c, LOG_PATH, SESSION.windows_name)
        if scenario.earlier_log is not None:
            write_entry(log, scenario.earlier_log)

    def clear_prefix_files(self, scenario):
        for path in sorted(with_parents(scenario.all_files()), key=len, reverse=True) + [LOG_PATH]:
            if path in self.baseline and path != LOG_PATH:
                continue
            where = self.in_prefix(path)
            if os.path.isdir(where) and not os.path.islink(where):
                make_writable(where)
            if os.path.islink(where) or os.path.isfile(where):
                os.remove(where)
            elif os.path.isdir(where):
                shutil.rmtree(where)

    def start_folder(self, drive_c, scenario, windows_name):
        # A run that starts outside the drives starts in C:\ on the stand-in.
        if scenario.start_dir is None:
            return drive_c
        return host_path(drive_c, scenario.start_dir, windows_name)

    def run_under_wine(self, scenario):
        """Runs the program on the prefix; what it left is read once its box
        has been dismissed, while Wine tears the process down."""
        self.set_up_prefix(scenario)
        program = SESSION.start_program(
            UNINST_EXE, self.start_folder(SESSION.drive_c, scenario, SESSION.windows_name))
        box = SESSION.wait_for_box(program)
        log_while_shown = read_or_none(self.in_prefix(LOG_PATH))
        if box is not None:
            SESSION.press_enter(box)
        outcome = Outcome(None, self.snapshot(scenario), SESSION.windows_name,
                          SESSION.export_registry())
        outcome.exit_status = SESSION.finish(program, box)
        self.assertIsNotNone(box, "the final box never appeared")
        self.assertEqual(outcome.log, log_while_shown, "the log complete while the box is shown")
        return outcome

    def snapshot(self, scenario):
        """A machine folder with a copy of what the run left of the
        scenario's entries and the log, cheap to read back: the prefix's
        drive C also holds all of Wine's own files."""
        machine = tempfile.mkdtemp(prefix="uninst-wine-left-")
        self.addCleanup(shutil.rmtree, machine)
        self.addCleanup(make_writable, machine)
        drive_c = os.path.join(machine, "drive_c")
        os.makedirs(os.path.join(drive_c, SESSION.windows_name))
        for path in sorted(scenario.files_before()) + [LOG_PATH]:
            where = self.in_prefix(path)
            if not os.path.lexists(where):
                continue
            state = entry_state(where)
            if state == FOLDER:
                os.makedirs(host_path(drive_c, path, SESSION.windows_name), exist_ok=True)
            else:
                write_entry(host_path(drive_c, path, SESSION.windows_name), state)
        return machine

    def run_native(self, scenario):
        machine = tempfile.mkdtemp(prefix="uninst-native-")
        self.addCleanup(shutil.rmtree, machine)
        self.addCleanup(make_writable, machine)
        make_machine(machine, scenario)
        drive_c = os.path.join(machine, "drive_c")
        run = run_native(UNINST_NATIVE, machine, cwd=self.start_folder(drive_c, scenario, WINDOWS))
        registry = registry_keys_and_values(read_or_none(os.path.join(machine, "registry.reg")))
        return Outcome(run.exit_status, machine, WINDOWS, registry)

    def assert_matches(self, scenario, machine, status, expected_status, windows_name, registry):
        differences = check(scenario, machine, status, expected_status, windows_name, registry)
        self.assertEqual([], differences, "\n  " + "\n  ".join(differences))


class WineRuns(PrefixTest):
    """One test per scenario of the table, each box dismissed with Enter."""

    def run_scenario(self, scenario):
        scenario = self.for_wine(scenario)
        wine = self.run_under_wine(scenario)
        native = self.run_native(scenario)
        self.assertEqual(1, wine.exit_status, "exit status after Enter on the box")
        difference = KNOWN_DIFFERENCES.get(scenario.name)
        if difference is None:
            self.assert_same_outcome(scenario, native, wine)
        else:
            self.assert_matches(scenario, native.machine, native.exit_status, 0, WINDOWS, None)
            scenario = dataclasses.replace(scenario, **difference.under_wine)
        self.assert_matches(scenario, wine.machine, wine.exit_status, 1, SESSION.windows_name,
                            wine.registry)

    def assert_same_outcome(self, scenario, native, wine):
        keys = scenario_keys(scenario)
        paths = set(scenario.files_before())
        self.assertEqual(native.log, wine.log, "log bytes, native then Wine")
        self.assertEqual(only_keys(native.registry, keys), only_keys(wine.registry, keys),
                         "registry after the run, native then Wine")
        self.assertEqual(only_paths(native.files, paths), only_paths(wine.files, paths),
                         "files after the run, native then Wine")


class WithoutDisplay(PrefixTest):
    def test_run_without_display_does_its_work_and_returns_what_wine_gives(self):
        """With no display the box cannot be shown: Windows' MessageBoxA then
        returns 0, Wine's returns -1 (ERROR_INVALID_WINDOW_HANDLE), whose low
        byte is the exit status. The run's work is done all the same."""
        scenario = self.for_wine(next(s for s in SCENARIOS if s.name.startswith("full_installation")))
        self.set_up_prefix(scenario)
        program = SESSION.start_program(UNINST_EXE, SESSION.drive_c, display=False)
        status = SESSION.finish(program)
        self.assert_matches(scenario, self.snapshot(scenario), status, WINE_BOX_WITHOUT_DISPLAY,
                            SESSION.windows_name, SESSION.export_registry())


def add_scenario_tests():
    for scenario in wine_scenarios():
        def test(self, scenario=scenario):
            self.run_scenario(scenario)
        test.__doc__ = "guards against: " + scenario.guards
        setattr(WineRuns, "test_" + scenario.name, test)


add_scenario_tests()


if __name__ == "__main__":
    UNINST_EXE = os.path.abspath(sys.argv.pop(1))
    UNINST_NATIVE = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
