"""What a whole run does with each hostile open command.

The installation directory is whatever the registered open command holds
before its last backslash. Every run below starts from the same machine,
which holds the product's folder and many that are not the product's to
remove; the table gives the stored value (as it stands after "@=" in the
registry file) and the one folder that the run must remove, or None. After
the run: exactly that folder is gone with everything in it, nothing else on
the machine changed, the product's keys are gone, other keys stayed, and the
log holds the key messages followed by the folder's message when, and only
when, it was removed.
"""

import os
import unittest

from machine import PRODUCT_KEYS, Machine, reg_string, registration, registry_keys, snapshot

LOG_KEYS = (b'HKEY_CLASSES_ROOT\\".zvx" removed\r\n'
            b"HKEY_CLASSES_ROOT\\Zelvorant removed\r\n"
            b'HKEY_CLASSES_ROOT\\MIME\\Database\\"Content Type"\\application/x-zelvorant" removed\r\n')

LONG_240 = b"L" * 240  # "C:\APPS\" + 240 + "\V.EXE" is 254 characters
LONG_241 = b"M" * 241  # and 255 with this one
LATIN1 = b"Zelvor\xe4nt"
UTF8 = b"Zelvor\xc3\xa4nt"

# Host paths below drive C.
FOLDERS = {
    b"APPS/VIEWER/VIEW.EXE": b"MZ",
    b"APPS/VIEWER/data/scene.zvx": b"scene",
    b"APPS/OTHER/other.exe": b"MZ other",
    b"APPS/VIEWER.EXE /LOG=C:/keep": b"odd folder",
    b"APPS/" + LONG_240 + b"/V.EXE": b"MZ 240",
    b"APPS/" + LONG_241 + b"/V.EXE": b"MZ 241",
    b"APPS/" + LATIN1 + b"/VIEW.EXE": b"MZ latin-1",
    b"APPS/" + UTF8 + b"/VIEW.EXE": b"MZ utf-8",
    b"%APPDIR%/VIEW.EXE": b"MZ percent",
    b"Program Files/Other/o.exe": b"MZ shared",
    b"Program Files/Zelvorant/VIEW.EXE": b"MZ in program files",
    b"WINDOWS/win.ini": b"[windows]",
    b"WINDOWS/system32/kernel32.dll": b"MZ kernel",
    b"root.txt": b"drive root",
}


def literal(text: bytes) -> bytes:
    return reg_string(text)


def hex_sz(text: bytes, terminated: bool) -> bytes:
    """A REG_SZ value written as hex(1), with or without its terminating NUL."""
    data = text + (b"\0" if terminated else b"")
    return b"hex(1):" + b",".join(b"%02x" % c for c in data)


# (description, stored value, Windows path of the folder removed or None)
CASES = [
    ("plain command", literal(b"C:\\APPS\\VIEWER\\VIEW.EXE %1"), b"C:\\APPS\\VIEWER"),
    ("lower-case drive and folder", literal(b"c:\\apps\\viewer\\view.exe"), b"c:\\apps\\viewer"),
    ("quoted command", literal(b'"C:\\APPS\\VIEWER\\VIEW.EXE" "%1"'), None),
    ("argument holding a path", literal(b"C:\\APPS\\VIEWER\\VIEW.EXE -log C:\\TEMP\\V.LOG"), None),
    ("argument with a slash", literal(b"C:\\APPS\\VIEWER.EXE /LOG=C:/keep\\x %1"), None),
    ("argument climbing out", literal(b"C:\\APPS\\VIEWER\\VIEW.EXE ..\\OTHER\\x"), None),
    ("environment reference", literal(b"%ProgramFiles%\\Zelvorant\\VIEW.EXE"), None),
    ("expandable string", b"hex(2):" + b",".join(b"%02x" % c for c in b"%SystemRoot%\\V.EXE\0"),
     None),
    ("folder named like a reference", literal(b"C:\\%APPDIR%\\VIEW.EXE"), b"C:\\%APPDIR%"),
    ("program at the drive's root", literal(b"C:\\VIEW.EXE %1"), None),
    ("drive's current directory", literal(b"C:VIEWER\\VIEW.EXE"), None),
    ("root of the current drive", literal(b"\\APPS\\VIEWER\\VIEW.EXE"), None),
    ("relative path", literal(b"APPS\\VIEWER\\VIEW.EXE"), None),
    ("network path", literal(b"\\\\server\\share\\VIEWER\\VIEW.EXE"), None),
    ("device path", literal(b"\\\\?\\C:\\APPS\\VIEWER\\VIEW.EXE"), None),
    ("dot dot into Windows", literal(b"C:\\APPS\\VIEWER\\..\\..\\WINDOWS\\V.EXE"), None),
    ("dot dot to a sibling", literal(b"C:\\APPS\\VIEWER\\..\\OTHER\\V.EXE"), None),
    ("single dot", literal(b"C:\\APPS\\.\\VIEWER\\V.EXE"), None),
    ("Windows directory", literal(b"C:\\WINDOWS\\VIEW.EXE"), None),
    ("Windows directory in lower case", literal(b"c:\\windows\\VIEW.EXE"), None),
    ("Windows directory with a trailing dot", literal(b"C:\\WINDOWS.\\VIEW.EXE"), None),
    ("Windows directory with a trailing space", literal(b"C:\\WINDOWS \\VIEW.EXE"), None),
    ("Windows directory by short name", literal(b"C:\\WINDOW~1\\VIEW.EXE"), None),
    ("child of the Windows directory", literal(b"C:\\WINDOWS\\system32\\VIEW.EXE"), None),
    ("shared folder of programs", literal(b"C:\\Program Files\\VIEW.EXE"), None),
    ("product folder in the shared one", literal(b"C:\\Program Files\\Zelvorant\\VIEW.EXE"),
     b"C:\\Program Files\\Zelvorant"),
    ("device name as folder", literal(b"C:\\APPS\\NUL\\VIEW.EXE"), None),
    ("device name with extension", literal(b"C:\\APPS\\CON.TXT\\VIEW.EXE"), None),
    ("wildcard in folder", literal(b"C:\\APPS\\VIEW*\\VIEW.EXE"), None),
    ("another drive, absent", literal(b"D:\\VIEWER\\VIEW.EXE"), None),
    ("folder that does not exist", literal(b"C:\\APPS\\GONE\\VIEW.EXE"), None),
    ("folder that is a link outside", literal(b"C:\\APPS\\LINKED\\VIEW.EXE"), None),
    ("254 characters", literal(b"C:\\APPS\\" + LONG_240 + b"\\V.EXE"), b"C:\\APPS\\" + LONG_240),
    ("255 characters", literal(b"C:\\APPS\\" + LONG_241 + b"\\V.EXE"), None),
    ("255 bytes without terminator", hex_sz(b"C:\\APPS\\" + LONG_241 + b"\\V.EXE", False),
     b"C:\\APPS\\" + LONG_241),
    ("no terminator", hex_sz(b"C:\\APPS\\VIEWER\\VIEW.EXE", False), b"C:\\APPS\\VIEWER"),
    ("bytes above 0x7F, Latin-1", literal(b"C:\\APPS\\" + LATIN1 + b"\\VIEW.EXE"),
     b"C:\\APPS\\" + LATIN1),
    ("bytes above 0x7F, UTF-8", literal(b"C:\\APPS\\" + UTF8 + b"\\VIEW.EXE"), b"C:\\APPS\\" + UTF8),
    ("empty value", literal(b""), None),
    ("no backslash", literal(b"VIEW.EXE %1"), None),
    ("not a string", b"dword:0000005c", None),
]


class OpenCommandDecidesWhatIsRemoved(unittest.TestCase):
    def run_case(self, value: bytes, removed):
        machine = Machine(registration(value))
        self.addCleanup(machine.cleanup)
        machine.add_files({os.fsdecode(p): c for p, c in FOLDERS.items()})
        outside = os.path.join(machine.top, "outside")
        os.makedirs(outside)
        with open(os.path.join(outside, "VIEW.EXE"), "wb") as f:
            f.write(b"outside")
        os.symlink(outside, os.path.join(machine.c, "APPS", "LINKED"))
        before = snapshot(machine.c)
        status, err, _ = machine.run()
        self.assertEqual(0, status, f"exit status; stderr {err}")
        after = snapshot(machine.c)
        after.pop(b"WINDOWS/ZELVORANT_UNINSTALL.LOG", None)
        expected = dict(before)
        if removed is not None:
            folder = removed[3:].replace(b"\\", b"/")
            folder = next(k for k in before if k.lower() == folder.lower())
            expected = {k: v for k, v in before.items()
                        if k != folder and not k.startswith(folder + b"/")}
        self.assertEqual(sorted(expected), sorted(after), "entries on drive C")
        self.assertEqual(expected, after, "contents on drive C")
        message = b"" if removed is None else b"<" + removed + b"> is removed\r\n"
        self.assertEqual(LOG_KEYS + message, machine.log(), "log")
        keys = registry_keys(machine.registry())
        self.assertEqual([], [k for k in PRODUCT_KEYS if k in keys], "product keys left")
        self.assertIn("HKEY_CLASSES_ROOT\\MIME\\Database\\Content Type\\text/plain", keys)
        self.assertIn("HKEY_CLASSES_ROOT\\.txt", keys)
        with open(os.path.join(outside, "VIEW.EXE"), "rb") as f:
            self.assertEqual(b"outside", f.read())

    def test_each_value_removes_the_named_folder_or_nothing(self):
        for description, value, removed in CASES:
            with self.subTest(description, value=value):
                self.run_case(value, removed)


if __name__ == "__main__":
    unittest.main()
