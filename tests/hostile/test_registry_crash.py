"""The registry file under kills and company.

Killed runs: the program is killed (SIGKILL) at a random moment while it
deletes the product's keys from a large registry file, which it rewrites
whole at every delete. Afterwards the file parses, every other program's key
is intact, and the product's keys that are left are exactly those that the
run had not reached yet: the deletes happen in a fixed order, so what is
left is a tail of that order. A second, whole run then removes the rest and
leaves no temporary file beside the registry.

Company: two runs at once on one machine, while a third process adds keys
of its own under the same lock: every added key survives, and the product's
keys are all gone.

REGISTRY_TRIALS and REGISTRY_KEYS make the runs longer (scripts/registry-long).
"""

import fcntl
import os
import random
import re
import signal
import threading
import time
import unittest

from machine import PRODUCT_KEYS, Machine, reg_string, registration

TRIALS = int(os.environ.get("REGISTRY_TRIALS", "100"))
OTHER_KEYS = int(os.environ.get("REGISTRY_KEYS", "2000"))
COMMAND = b"C:\\APPS\\VIEWER\\VIEW.EXE %1"

# The order in which a run deletes the product's keys.
DELETE_ORDER = [
    "HKEY_CLASSES_ROOT\\.zvx",
    "HKEY_CLASSES_ROOT\\Zelvorant\\shell\\open\\command",
    "HKEY_CLASSES_ROOT\\Zelvorant\\shell\\open",
    "HKEY_CLASSES_ROOT\\Zelvorant\\shell",
    "HKEY_CLASSES_ROOT\\Zelvorant",
    "HKEY_CLASSES_ROOT\\MIME\\Database\\Content Type\\application/x-zelvorant",
]
assert sorted(DELETE_ORDER) == sorted(PRODUCT_KEYS)

VALUE_LINE = re.compile(rb'^(@|"(?:[^"\\]|\\.)*")=(?:"(?:[^"\\]|\\.)*"|dword:[0-9a-fA-F]{8}|'
                        rb'hex(?:\([0-9a-fA-F]+\))?:[0-9a-fA-F,\s]*\\?)$')


def other_keys(count: int) -> bytes:
    return b"".join(
        b'[HKEY_CLASSES_ROOT\\Other%05d\\shell\\open\\command]\r\n@="C:\\\\P%05d\\\\x.exe %%1"\r\n'
        b'"Flags"=dword:%08x\r\n\r\n' % (i, i, i) for i in range(count))


def parse_registry(text: bytes) -> dict:
    """Key (upper case) -> its value lines; raises ValueError on a line that
    regedit would not read."""
    lines = text.split(b"\r\n")
    if lines[0] != b"REGEDIT4":
        raise ValueError(f"header {lines[0][:40]!r}")
    keys, current, continued = {}, None, False
    for number, line in enumerate(lines[1:], 2):
        if continued:
            continued = line.endswith(b"\\")
            keys[current][-1] += line
        elif line == b"" or line.startswith(b";"):
            pass
        elif line.startswith(b"[") and line.endswith(b"]"):
            names = line[1:-1].decode("latin-1").upper().split("\\")
            for i in range(2, len(names) + 1):
                keys.setdefault("\\".join(names[:i]), [])
            current = "\\".join(names)
        elif current is not None and VALUE_LINE.match(line):
            keys[current].append(line)
            continued = line.endswith(b"\\")
        else:
            raise ValueError(f"line {number}: {line[:60]!r}")
    if continued:
        raise ValueError("the file ends inside a value")
    return keys


def other_keys_state(keys: dict) -> dict:
    return {k: v for k, v in keys.items() if "\\OTHER" in k or "\\ADDED" in k}


def wait_for_first_rewrite(machine: Machine, process) -> float:
    """Waits until the run has replaced registry.reg once (or ended); returns
    the seconds that took."""
    started = time.monotonic()
    inode = os.stat(machine.registry_path).st_ino
    while process.poll() is None and os.stat(machine.registry_path).st_ino == inode:
        pass
    return time.monotonic() - started


class KilledRuns(unittest.TestCase):
    def test_a_killed_run_leaves_a_whole_registry_with_a_tail_of_the_product_keys(self):
        rng = random.Random(4)
        registry_body = registration(reg_string(COMMAND)) + other_keys(OTHER_KEYS)
        reference = Machine(registry_body)
        self.addCleanup(reference.cleanup)
        original = parse_registry(reference.registry())
        process = reference.start()
        first_rewrite = wait_for_first_rewrite(reference, process)
        started = time.monotonic()
        process.communicate()
        rewrites = time.monotonic() - started  # from the first rewrite to the end
        states, inside_a_rewrite = {}, 0
        for trial in range(TRIALS):
            machine = Machine(registry_body)
            try:
                process = machine.start()
                # A third of the kills fall anywhere in the run, the rest
                # among the rewrites that follow the first.
                if trial % 3 == 0:
                    time.sleep(rng.uniform(0, first_rewrite + rewrites))
                else:
                    wait_for_first_rewrite(machine, process)
                    time.sleep(rng.uniform(0, rewrites))
                process.send_signal(signal.SIGKILL)
                process.communicate()
                inside_a_rewrite += any(n.startswith("registry.reg.") for n in os.listdir(machine.root))
                left = self.check_after_kill(machine, original, trial)
                states[left] = states.get(left, 0) + 1
                status, err, _ = machine.run()
                self.assertEqual(0, status, err)
                keys = parse_registry(machine.registry())
                self.assertEqual([], [k for k in DELETE_ORDER if k.upper() in keys],
                                 f"trial {trial}: product keys after a whole run")
                self.assertEqual(other_keys_state(original), other_keys_state(keys))
                # A kill between writing the new file and renaming it leaves the
                # temporary file behind; the next write clears it away.
                litter = [n for n in os.listdir(machine.root) if n != "registry.reg"
                          and n.startswith("registry.reg")]
                self.assertEqual([], litter, f"trial {trial}: temporary files after a whole run")
            finally:
                machine.cleanup()
        print(f"registry kills: {TRIALS} trials on {OTHER_KEYS} other keys, {inside_a_rewrite} "
              f"killed inside a rewrite; product keys left -> trials: {dict(sorted(states.items()))}")
        # Kills that all landed before the first or after the last delete
        # would prove nothing about a rewrite cut short.
        self.assertGreater(len([n for n in states if 0 < n < len(DELETE_ORDER)]), 0, states)

    def check_after_kill(self, machine: Machine, original: dict, trial: int) -> int:
        try:
            keys = parse_registry(machine.registry())
        except ValueError as error:
            self.fail(f"trial {trial}: the registry does not parse: {error}")
        present = [k for k in DELETE_ORDER if k.upper() in keys]
        left = len(present)
        self.assertEqual(DELETE_ORDER[len(DELETE_ORDER) - left:], present,
                         f"trial {trial}: product keys left are not a tail of the delete order")
        for key in present:
            self.assertEqual(original[key.upper()], keys[key.upper()], f"trial {trial}: {key}")
        self.assertEqual(other_keys_state(original), other_keys_state(keys),
                         f"trial {trial}: other programs' keys")
        return left


def add_keys_under_lock(machine: Machine, names, stop: threading.Event, written: list):
    """Adds one key at a time, as another program would through the same
    machine: under the machine directory's lock, the whole file rewritten
    into a temporary file renamed into place. Counts the keys in `written`."""
    folder = os.open(machine.root, os.O_RDONLY | os.O_DIRECTORY)
    try:
        for name in names:
            if stop.is_set():
                break
            fcntl.flock(folder, fcntl.LOCK_EX)
            try:
                text = machine.registry()
                text += b'[HKEY_CLASSES_ROOT\\%s]\r\n@="added"\r\n\r\n' % name.encode()
                temporary = machine.registry_path + ".adder"
                with open(temporary, "wb") as f:
                    f.write(text)
                os.rename(temporary, machine.registry_path)
            finally:
                fcntl.flock(folder, fcntl.LOCK_UN)
            written.append(name)
    finally:
        os.close(folder)


class RunsInCompany(unittest.TestCase):
    def test_two_runs_at_once_and_a_writer_lose_no_change(self):
        rounds = max(10, TRIALS // 10)
        registry_body = registration(reg_string(COMMAND)) + other_keys(OTHER_KEYS // 10)
        added_during_runs = 0
        for trial in range(rounds):
            machine = Machine(registry_body)
            try:
                stop, written = threading.Event(), []
                names = [f"Added{trial:03d}x{i:05d}" for i in range(100000)]
                writer = threading.Thread(target=add_keys_under_lock,
                                          args=(machine, names, stop, written))
                writer.start()
                runs = [machine.start(), machine.start()]
                for run in runs:
                    _, err = run.communicate(timeout=120)
                    self.assertEqual(0, run.returncode, err)
                added_during_runs += len(written)
                stop.set()
                writer.join()
                keys = parse_registry(machine.registry())
                present = sorted(k for k in keys if "\\ADDED" in k)
                expected = sorted("HKEY_CLASSES_ROOT\\" + n.upper() for n in written)
                self.assertEqual(expected, present, f"trial {trial}: keys added meanwhile")
                self.assertEqual([], [k for k in DELETE_ORDER if k.upper() in keys],
                                 f"trial {trial}: product keys left")
            finally:
                machine.cleanup()
        print(f"registry company: {rounds} rounds of two runs at once, {added_during_runs} keys "
              f"added by a third process meanwhile")
        self.assertGreater(added_during_runs, 0, "the third process never wrote during the runs")


if __name__ == "__main__":
    unittest.main()
