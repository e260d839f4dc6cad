"""The regedit reader that every registry comparison goes through: a reader
that dropped or merged values would let a changed registry pass."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from regedit import RegeditError, registry_keys_and_values, without_keys  # noqa: E402

REGEDIT4_TEXT = (
    "REGEDIT4\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\a\\b]\r\n"
    '@="C:\\\\x \\"y\\""\r\n'
    '"n"=dword:0000002a\r\n'
    '"e"=hex(2):25,41,25,00\r\n'
    '"m"=hex(7):61,00,62,\\\r\n  00,00\r\n'
    '"r"=hex:01,\\\r\n  ff\r\n\r\n'
    "[HKEY_CLASSES_ROOT\\A\\c]\r\n\r\n"
)
VERSION5_TEXT = (
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\a\\b]\r\n"
    '@="C:\\\\x \\"y\\""\r\n'
    '"n"=dword:0000002a\r\n'
    '"e"=hex(2):25,00,41,00,25,00,00,00\r\n'
    '"m"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n'
    '"r"=hex:01,ff\r\n\r\n'
    "[HKEY_CLASSES_ROOT\\a\\c]\r\n\r\n"
)
EXPECTED = {
    "HKEY_CLASSES_ROOT": {},
    "HKEY_CLASSES_ROOT\\a": {},
    "HKEY_CLASSES_ROOT\\a\\b": {
        "": (1, 'C:\\x "y"'),
        "n": (4, 42),
        "e": (2, "%A%"),
        "m": (7, ("a", "b")),
        "r": (3, b"\x01\xff"),
    },
    "HKEY_CLASSES_ROOT\\a\\c": {},
}


class RegeditReader(unittest.TestCase):
    def test_both_formats_and_encodings_give_the_same_keys_and_values(self):
        cases = [
            ("REGEDIT4 text", REGEDIT4_TEXT),
            ("REGEDIT4 bytes", REGEDIT4_TEXT.encode("latin-1")),
            ("version 5 as regedit exports it", b"\xff\xfe" + VERSION5_TEXT.encode("utf-16-le")),
        ]
        for what, text in cases:
            with self.subTest(what):
                self.assertEqual(EXPECTED, registry_keys_and_values(text))

    def test_unreadable_text_is_refused_not_read_as_empty(self):
        for what, text in [
            ("no header", "[HKEY_CLASSES_ROOT\\a]\r\n"),
            ("value before any key", "REGEDIT4\r\n\"v\"=\"x\"\r\n"),
            ("unknown value data", "REGEDIT4\r\n[HKEY_CLASSES_ROOT\\a]\r\n\"v\"=word:1\r\n"),
            ("unterminated string", "REGEDIT4\r\n[HKEY_CLASSES_ROOT\\a]\r\n\"v\"=\"x\r\n"),
        ]:
            with self.subTest(what):
                with self.assertRaises(RegeditError):
                    registry_keys_and_values(text)

    def test_removing_a_key_takes_its_subkeys_only(self):
        registry = {"H\\a": {}, "H\\a\\b": {}, "H\\ab": {}, "H\\c": {}}
        self.assertEqual({"H\\ab": {}, "H\\c": {}}, without_keys(registry, ["h\\A"]))


if __name__ == "__main__":
    unittest.main(verbosity=2)
