"""What must hold after a scenario's run, as a list of differences (empty when
the machine is as the scenario expects), each with expected and actual."""

import os

from machine import LOG_NAME, WINDOWS, files_left, host_path, without_paths
from regedit import RegeditError, registry_keys_and_values, without_keys

LOG_PATH = WINDOWS + "/" + LOG_NAME
MACHINE_ENTRIES = {"registry.reg", "drive_c"}


def read_or_none(where: str):
    try:
        with open(where, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def log_differences(scenario, drive_c, windows_name):
    actual = read_or_none(host_path(drive_c, LOG_PATH, windows_name))
    if actual == scenario.expected_log:
        return []
    return ["log: expected %r, actual %r" % (scenario.expected_log, actual)]


def compare_keys(expected: dict, actual: dict):
    found = []
    expected_by_name = {k.upper(): (k, v) for k, v in expected.items()}
    actual_by_name = {k.upper(): (k, v) for k, v in actual.items()}
    for upper, (key, values) in expected_by_name.items():
        if upper not in actual_by_name:
            found.append("registry: key %s expected, missing" % key)
        elif actual_by_name[upper][1] != values:
            found.append("registry: %s expected values %r, actual %r"
                         % (key, values, actual_by_name[upper][1]))
    for upper, (key, _) in actual_by_name.items():
        if upper not in expected_by_name:
            found.append("registry: key %s expected gone, present" % key)
    return found


def registry_differences(scenario, machine_dir, registry_after, scenario_keys_only):
    before = scenario.registry_bytes()
    if registry_after is None:
        after = read_or_none(os.path.join(machine_dir, "registry.reg"))
        if not scenario.removed_keys:
            # Nothing to remove: the file is not even rewritten.
            return [] if after == before else [
                "registry.reg: expected unchanged %r, actual %r" % (before, after)]
        try:
            registry_after = registry_keys_and_values(after or b"")
        except RegeditError as error:
            return ["registry.reg: unreadable after the run (%s): %r" % (error, after)]
    original = registry_keys_and_values(before)
    expected = without_keys(original, scenario.removed_keys)
    if scenario_keys_only:
        named = {k.upper() for k in original}
        registry_after = {k: v for k, v in registry_after.items() if k.upper() in named}
    return compare_keys(expected, registry_after)


def file_differences(scenario, drive_c, windows_name, scenario_files_only):
    before = scenario.files_before()
    expected = without_paths(before, scenario.removed_files)
    actual = files_left(drive_c, windows_name)
    actual.pop(LOG_PATH, None)
    if scenario_files_only:
        actual = {p: s for p, s in actual.items() if p in before}
    found = []
    for path in sorted(set(expected) | set(actual)):
        if expected.get(path) != actual.get(path):
            found.append("file %s: expected %r, actual %r"
                         % (path, expected.get(path, "<gone>"), actual.get(path, "<gone>")))
    return found


def stray_machine_entries(machine_dir):
    stray = sorted(set(os.listdir(machine_dir)) - MACHINE_ENTRIES)
    return ["machine directory: unexpected %s" % name for name in stray]


def check(scenario, machine_dir, exit_status=None, expected_exit=0, windows_name=WINDOWS,
          registry_after=None):
    """Compares the machine after a run with what `scenario` expects.

    Native runs give the machine directory alone: the whole of drive C, the
    whole registry file and the machine directory's own entries are compared.
    A run elsewhere (Wine) gives `registry_after` (parsed, e.g. from regedit's
    export) and the name of its Windows folder; keys and files that the
    scenario did not create are then not compared, as that machine holds
    others of its own."""
    drive_c = os.path.join(machine_dir, "drive_c")
    elsewhere = registry_after is not None
    found = []
    if exit_status is not None and exit_status != expected_exit:
        found.append("exit status: expected %d, actual %d" % (expected_exit, exit_status))
    found += log_differences(scenario, drive_c, windows_name)
    found += registry_differences(scenario, machine_dir, registry_after, elsewhere)
    found += file_differences(scenario, drive_c, windows_name, elsewhere)
    if not elsewhere:
        found += stray_machine_entries(machine_dir)
    return found
