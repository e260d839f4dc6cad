"""The log under hostile conditions, in whole runs of the built program.

Something planted at the log's place (a symbolic link to another file, to a
folder or to nothing, a hard link to another file, a FIFO) is never written
through: its target keeps its bytes and the run goes on. A log that cannot
be opened or written leaves the run going on to its end. A log that an
earlier run left is replaced by a run that logs, and only by one.
"""

import os
import resource
import signal
import subprocess
import unittest

from machine import PRODUCT_KEYS, Machine, reg_string, registration, registry_keys

COMMAND = reg_string(b"C:\\APPS\\VIEWER\\VIEW.EXE %1")
THIS_RUN = (b'HKEY_CLASSES_ROOT\\".zvx" removed\r\n'
            b"HKEY_CLASSES_ROOT\\Zelvorant removed\r\n"
            b'HKEY_CLASSES_ROOT\\MIME\\Database\\"Content Type"\\application/x-zelvorant" removed\r\n'
            b"<C:\\APPS\\VIEWER> is removed\r\n")
EARLIER_LOG = b"an earlier run's log\r\n"
SECRET = b"another program's file\n"


class LogCase(unittest.TestCase):
    def machine(self, registered=True) -> Machine:
        machine = Machine(registration(COMMAND) if registered else b"")
        self.addCleanup(machine.cleanup)
        machine.add_files({"APPS/VIEWER/VIEW.EXE": b"MZ", "APPS/VIEWER/data/a": b"a"})
        self.outside = os.path.join(machine.top, "outside")
        os.makedirs(os.path.join(self.outside, "folder"))
        self.secret = os.path.join(self.outside, "secret.txt")
        with open(self.secret, "wb") as f:
            f.write(SECRET)
        return machine

    def assert_run_went_on(self, machine: Machine, status: int, err: str, keys_removed=True):
        self.assertEqual(0, status, f"exit status; stderr {err}")
        self.assertFalse(os.path.lexists(machine.c_path("APPS\\VIEWER")),
                         "the installation directory was not removed")
        left = [k for k in PRODUCT_KEYS if k in registry_keys(machine.registry())]
        self.assertEqual([] if keys_removed else PRODUCT_KEYS, left, "product keys left")

    def assert_secret_untouched(self):
        with open(self.secret, "rb") as f:
            self.assertEqual(SECRET, f.read(), "the planted link's target")
        self.assertEqual([], os.listdir(os.path.join(self.outside, "folder")))


class SomethingPlantedAtTheLogsPlace(LogCase):
    def plant(self, machine: Machine, kind: str):
        path = machine.log_path
        if kind == "link to a file":
            os.symlink(self.secret, path)
        elif kind == "relative link to a file":
            os.symlink(os.path.relpath(self.secret, machine.windows), path)
        elif kind == "link to a folder":
            os.symlink(os.path.join(self.outside, "folder"), path)
        elif kind == "dangling link":
            os.symlink(os.path.join(self.outside, "folder", "created.log"), path)
        elif kind == "hard link to a file":
            os.link(self.secret, path)
        elif kind == "FIFO":
            os.mkfifo(path)
        elif kind == "folder":
            os.mkdir(path)

    def test_nothing_planted_is_written_through(self):
        kinds = ["link to a file", "relative link to a file", "link to a folder", "dangling link",
                 "hard link to a file", "FIFO", "folder"]
        for kind in kinds:
            with self.subTest(kind):
                machine = self.machine()
                self.plant(machine, kind)
                status, err, _ = machine.run(timeout=30)
                self.assert_run_went_on(machine, status, err)
                self.assert_secret_untouched()
                self.assertTrue(os.path.lexists(machine.log_path), "the planted entry was removed")

    def test_windows_directory_that_is_a_link_is_not_written_through(self):
        machine = self.machine()
        os.rename(machine.windows, os.path.join(self.outside, "real windows"))
        os.symlink(os.path.join(self.outside, "folder"), machine.windows)
        status, err, _ = machine.run(timeout=30)
        self.assert_run_went_on(machine, status, err)
        self.assert_secret_untouched()


class LogThatCannotBeOpenedOrWritten(LogCase):
    def test_read_only_log_stays_and_the_run_goes_on(self):
        machine = self.machine()
        with open(machine.log_path, "wb") as f:
            f.write(EARLIER_LOG)
        os.chmod(machine.log_path, 0o444)
        status, err, _ = machine.run()
        self.assert_run_went_on(machine, status, err)
        self.assertEqual(EARLIER_LOG, machine.log())

    def test_windows_directory_that_forbids_creating_the_log(self):
        machine = self.machine()
        os.chmod(machine.windows, 0o555)
        status, err, _ = machine.run()
        self.assert_run_went_on(machine, status, err)
        self.assertIsNone(machine.log())

    def test_log_that_cannot_grow_past_its_first_bytes(self):
        # Every write past the first byte of any file fails, the registry's
        # rewrites as well: the keys stay, the folder goes, the run ends.
        machine = self.machine()
        env = dict(os.environ, UNINST_MACHINE=machine.root)
        before = machine.registry()

        def limit():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (1, 1))

        run = subprocess.run([os.environ["UNINST_BIN"]], env=env, cwd=machine.top,
                             start_new_session=True, stdin=subprocess.DEVNULL,
                             capture_output=True, preexec_fn=limit, timeout=60)
        self.assert_run_went_on(machine, run.returncode, run.stderr.decode(errors="replace"),
                                keys_removed=False)
        self.assertEqual(before, machine.registry(), "the registry after failed rewrites")
        self.assertEqual([], [n for n in os.listdir(machine.root) if n.startswith("registry.reg.")])
        # The directory message is the only one; its first byte may land.
        self.assertIn(machine.log(), [b"", b"<"], "a log limited to one byte")


class EarlierLog(LogCase):
    def test_a_run_that_logs_nothing_keeps_the_earlier_log_byte_for_byte(self):
        machine = self.machine(registered=False)
        with open(machine.log_path, "wb") as f:
            f.write(EARLIER_LOG)
        status, err, _ = machine.run()
        self.assertEqual(0, status, err)
        self.assertEqual(EARLIER_LOG, machine.log())

    def test_a_run_that_logs_replaces_the_earlier_log_whole(self):
        machine = self.machine()
        with open(machine.log_path, "wb") as f:
            f.write(EARLIER_LOG * 100)
        status, err, _ = machine.run()
        self.assert_run_went_on(machine, status, err)
        self.assertEqual(THIS_RUN, machine.log())


if __name__ == "__main__":
    unittest.main()
