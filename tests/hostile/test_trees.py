"""Whole runs over hostile installation trees: links out of the tree, names
that no Windows call can reach or that Windows would read as another entry,
folders that cannot be read or entered, read-only files, trees deeper than
the current directory may be, a folder of many entries, and few descriptors.

After every run: the program ended normally; everything outside the
installation is as it was, byte for byte; every entry of the tree is either
gone or still there unchanged (the program may remove an entry by its exact
name, never change it or reach another through it); and the log reports the
installation directory removed exactly when it is gone.
"""

import os
import unittest

from machine import Machine, reg_string, registration, snapshot

INSTALL = "APPS/VIEWER"
COMMAND = reg_string(b"C:\\APPS\\VIEWER\\VIEW.EXE %1")
DIR_MESSAGE = b"<C:\\APPS\\VIEWER> is removed\r\n"

OUTSIDE_FILES = {
    "APPS/keep.txt": b"a sibling of the installation",
    "APPS/OTHER/other.dll": b"another program",
    "root.txt": b"drive root",
    "WINDOWS/win.ini": b"[windows]",
}


class TreeRun:
    """A machine with an installation tree, and snapshots before and after a run."""

    def __init__(self, test: unittest.TestCase, files: dict, links: dict = None, modes: dict = None):
        self.test = test
        self.machine = Machine(registration(COMMAND))
        test.addCleanup(self.machine.cleanup)
        self.install = os.path.join(self.machine.c, INSTALL)
        self.outside = os.path.join(self.machine.top, "outside")
        os.makedirs(os.path.join(self.outside, "folder", "sub"))
        with open(os.path.join(self.outside, "folder", "sub", "deep.txt"), "wb") as f:
            f.write(b"outside the machine")
        with open(os.path.join(self.outside, "file.txt"), "wb") as f:
            f.write(b"a file outside")
        self.machine.add_files(OUTSIDE_FILES)
        self.machine.add_files({INSTALL + "/VIEW.EXE": b"MZ"})
        for name, content in files.items():
            self.add(name, content)
        for name, target in (links or {}).items():
            os.symlink(self.expand(target), os.path.join(os.fsencode(self.install), os.fsencode(name)))
        for name, mode in (modes or {}).items():
            os.chmod(os.path.join(os.fsencode(self.install), os.fsencode(name)), mode)

    def expand(self, target):
        """Link targets name places by keyword: {outside}, {c}, {windows}."""
        if isinstance(target, str):
            return target.format(outside=self.outside, c=self.machine.c,
                                 windows=self.machine.windows)
        return target

    def add(self, name, content):
        path = os.path.join(os.fsencode(self.install), os.fsencode(name))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if content is None:
            os.makedirs(path, exist_ok=True)
        else:
            with open(path, "wb") as f:
                f.write(content)

    def outside_state(self):
        state = snapshot(self.machine.top)
        skip = (os.fsencode(os.path.join("machine", "drive_c", INSTALL)), b"machine/registry.reg",
                b"machine/drive_c/WINDOWS/ZELVORANT_UNINSTALL.LOG", b"time.out")
        return {k: v for k, v in state.items() if not k.startswith(skip)}

    def run(self, **options):
        before_tree = snapshot(self.install)
        before_outside = self.outside_state()
        status, err, self.rss = self.machine.run(measure=True, **options)
        self.test.assertEqual(0, status, f"exit status (no box can be shown); stderr: {err}")
        self.test.assertEqual(before_outside, self.outside_state(), "outside the installation")
        self.left = snapshot(self.install) if os.path.lexists(self.install) else {}
        changed = {k: (before_tree.get(k), v) for k, v in self.left.items()
                   if before_tree.get(k) != v}
        self.test.assertEqual({}, changed, "entries created or changed in the tree")
        log = self.machine.log() or b""
        self.test.assertEqual(not os.path.lexists(self.install), log.endswith(DIR_MESSAGE),
                              f"directory message against the tree's fate; log {log!r}")
        return self

    def assert_left(self, expected):
        self.test.assertEqual(sorted(os.fsencode(p) for p in expected), sorted(self.left))


class LinksAreRemovedNeverFollowed(unittest.TestCase):
    CASES = [
        ("link to a folder outside the machine", "{outside}/folder"),
        ("link to a file outside the machine", "{outside}/file.txt"),
        ("link to the drive's root", "{c}"),
        ("relative link to the drive's root", "../.."),
        ("link to the Windows directory", "{windows}"),
        ("link to a sibling of the installation", "../OTHER"),
        ("link to the installation itself", "."),
        ("dangling link", "{outside}/no such thing"),
        ("link to itself", "loop"),
    ]

    def test_each_link_goes_and_its_target_stays(self):
        for description, target in self.CASES:
            with self.subTest(description):
                run = TreeRun(self, {"data/scene.zvx": b"scene"},
                              links={"loop": target, "data/inner": target}).run()
                run.assert_left([])

    def test_link_inside_a_folder_that_cannot_be_removed_stays_unfollowed(self):
        run = TreeRun(self, {"keep/readonly.txt": b"stays"}, links={"keep/out": "{outside}/folder"},
                      modes={"keep/readonly.txt": 0o444}).run()
        run.assert_left(["keep", "keep/readonly.txt"])


class NamesAreTakenExactlyOrLeftAlone(unittest.TestCase):
    # (entry, content: bytes for a file, None for a folder, whether it stays)
    CASES = [
        (b"back\\slash", b"x", True),
        (b"star*", b"x", True),
        (b"what?", b"x", True),
        (b"quote\"", b"x", True),
        (b"colon:stream", b"x", True),
        (b"trailing dot.", b"x", True),
        (b"trailing space ", b"x", True),
        (b"folder with trailing dot.", None, True),
        (b"NUL", b"x", True),
        (b"CON.TXT", b"x", True),
        (b"com1.log", None, True),
        (b"\xff\xfe invalid UTF-8", b"x", False),
        (b"caf\xc3\xa9", None, False),
        (b".hidden file", b"x", False),
        (b".hidden folder", None, True),
        (b"Readme", b"x", False),
        (b"x" * 255, b"long name", False),
    ]

    def test_each_name_is_removed_or_left_whole(self):
        for name, content, stays in self.CASES:
            with self.subTest(name):
                files = {name: content, b"plain.txt": b"goes"}
                if content is None:
                    files[name + b"/inside.txt"] = b"inside"
                run = TreeRun(self, files).run()
                expected = [name] + ([name + b"/inside.txt"] if content is None else [])
                run.assert_left(expected if stays else [])

    def test_names_that_differ_only_in_case_are_both_removed(self):
        run = TreeRun(self, {b"readme.txt": b"a", b"README.TXT": b"b", b"ReadMe.txt": b"c",
                             b"Data/x": b"1", b"DATA/y": b"2"}).run()
        run.assert_left([])

    def test_a_name_windows_would_shorten_never_reaches_the_shorter_one(self):
        # Windows strips the trailing dot: "data." would name "data" there.
        run = TreeRun(self, {b"data./inside": b"x", b"sub/data": b"outer"},
                      links={b"sub/link.": "{outside}/folder"}).run()
        run.assert_left([b"data.", b"data./inside", b"sub", b"sub/link."])


class EntriesThePlatformRefusesStay(unittest.TestCase):
    def test_folder_without_read_permission_stays_whole(self):
        run = TreeRun(self, {"locked/a.txt": b"a", "b.txt": b"b"}, modes={"locked": 0o333}).run()
        run.assert_left(["locked", "locked/a.txt"])

    def test_folder_without_execute_permission_stays_whole(self):
        run = TreeRun(self, {"shut/a.txt": b"a", "shut/in/b": b"b", "c.txt": b"c"},
                      modes={"shut": 0o666}).run()
        run.assert_left(["shut", "shut/a.txt", "shut/in", "shut/in/b"])

    def test_read_only_file_stays_with_the_folders_above_it(self):
        run = TreeRun(self, {"a/b/ro.txt": b"ro", "a/b/rw.txt": b"rw", "a/c.txt": b"c", "d": b"d"},
                      modes={"a/b/ro.txt": 0o444}).run()
        run.assert_left(["a", "a/b", "a/b/ro.txt"])


class DepthAndSize(unittest.TestCase):
    def test_tree_deeper_than_the_current_directory_limit(self):
        # "C:\APPS\VIEWER" has 14 characters and each level adds 11; a current
        # directory holds at most 258, so levels 1 to 22 can be entered.
        levels = 40
        files = {"/".join(["abcdefghij"] * depth) + "/f.txt": b"f" for depth in range(1, levels + 1)}
        run = TreeRun(self, files).run()
        reachable = 22
        expected = ["/".join(["abcdefghij"] * depth) for depth in range(1, levels + 1)]
        expected += ["/".join(["abcdefghij"] * depth) + "/f.txt"
                     for depth in range(reachable + 1, levels + 1)]
        run.assert_left(expected)

    def test_deep_tree_with_few_descriptors(self):
        # One search is open per level: with 64 descriptors the deepest
        # levels cannot be searched and stay, everything above them goes.
        levels = 110
        files = {"/".join(["d"] * depth) + "/f": b"f" for depth in range(1, levels + 1)}
        run = TreeRun(self, files).run(fd_limit=64)
        left_files = [p for p in run.left if p.endswith(b"/f")]
        self.assertGreater(len(left_files), 0, "all 110 levels searched with 64 descriptors")
        shallowest_left = min(p.count(b"/") for p in left_files)
        self.assertGreater(shallowest_left, 40, "levels emptied with 64 descriptors")
        self.assertEqual(list(range(shallowest_left, levels + 1)),
                         sorted(p.count(b"/") for p in left_files), "levels left")

    def test_folder_of_many_entries_goes_in_bounded_memory(self):
        count = int(os.environ.get("MANY_ENTRIES", "20000"))
        small = TreeRun(self, {f"many/{i}": b"" for i in range(100)}).run()
        large = TreeRun(self, {f"many/{i}": b"" for i in range(count)}).run()
        small.assert_left([])
        large.assert_left([])
        print(f"peak RSS: {small.rss} kB with 100 entries, {large.rss} kB with {count}")
        self.assertLess(large.rss - small.rss, 4096,
                        f"peak RSS grew from {small.rss} kB to {large.rss} kB with {count} entries")


if __name__ == "__main__":
    unittest.main()
