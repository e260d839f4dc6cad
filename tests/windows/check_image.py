#!/usr/bin/python3
"""Reads a built uninst.exe and checks what Windows and its shell will see:
the machine, the GUI subsystem, the DLLs and functions it imports, and the
icon resource.

    /usr/bin/python3 check_image.py path/to/uninst.exe i386|amd64
"""

import struct
import sys
import unittest

import pefile

MACHINES = {
    "i386": (pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"], pefile.OPTIONAL_HEADER_MAGIC_PE),
    "amd64": (pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"], pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS),
}

# DLLs that every Windows has. The C runtime's own DLL, msvcrt.dll, is one of
# them; a MinGW runtime DLL (libgcc_s, libstdc++, libwinpthread) is not.
SYSTEM_DLLS = {"advapi32.dll", "kernel32.dll", "msvcrt.dll", "user32.dll"}

# Of the registry and the user interface the program calls exactly these,
# all in their ANSI form.
EXACT_IMPORTS = {
    "advapi32.dll": {"RegOpenKeyA", "RegQueryValueExA", "RegDeleteKeyA", "RegCloseKey"},
    "user32.dll": {"MessageBoxA"},
}
# KERNEL32 also serves the C runtime's start-up; the program's own file calls
# must be among its imports, in their ANSI form only.
PROGRAM_FILE_CALLS = {
    "GetWindowsDirectoryA", "GetCurrentDirectoryA", "SetCurrentDirectoryA", "RemoveDirectoryA",
    "FindFirstFileA", "FindNextFileA", "FindClose", "DeleteFileA",
}

ICON_GROUP_ID = 104
ENGLISH_US = 0x409
DARK_RED, DARK_CYAN, GREY = (0x80, 0, 0), (0, 0x80, 0x80), (0x80, 0x80, 0x80)

IMAGE_PATH = ""
MACHINE = ""


def load():
    return pefile.PE(IMAGE_PATH)


def resource_entries(pe, type_id):
    """(id, language, data) of every resource of one type."""
    found = []
    for type_entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if type_entry.id != type_id:
            continue
        for name_entry in type_entry.directory.entries:
            for language_entry in name_entry.directory.entries:
                data = language_entry.data.struct
                found.append((name_entry.id, language_entry.id,
                              pe.get_data(data.OffsetToData, data.Size)))
    return found


def group_members(group_data):
    """The images that an icon group lists: (width, height, colours, bit count, icon id)."""
    reserved, kind, count = struct.unpack_from("<HHH", group_data)
    assert (reserved, kind) == (0, 1), f"not an icon group header: {(reserved, kind)}"
    members = []
    for i in range(count):
        width, height, colours, _, _, bits, _, icon_id = struct.unpack_from(
            "<BBBBHHIH", group_data, 6 + 14 * i)
        members.append((width or 256, height or 256, colours, bits, icon_id))
    return members


def decode_bitmap(data):
    """An icon image: (width, height, bit count, pixels as RGB rows top-down,
    mask bits as rows top-down, 1 meaning transparent)."""
    header_size, width, double_height, _, bits = struct.unpack_from("<IiiHH", data)
    height = double_height // 2
    palette_offset = header_size
    palette = [tuple(reversed(data[palette_offset + 4 * i:palette_offset + 4 * i + 3]))
               for i in range(1 << bits)]
    colour_stride = ((width * bits + 31) // 32) * 4
    mask_stride = ((width + 31) // 32) * 4
    colour_offset = palette_offset + 4 * len(palette)
    mask_offset = colour_offset + colour_stride * height
    pixels, mask = [], []
    for row in reversed(range(height)):
        colour_row = data[colour_offset + row * colour_stride:]
        mask_row = data[mask_offset + row * mask_stride:]
        indices = [(colour_row[x // 2] >> (4 * (1 - x % 2))) & 0xF for x in range(width)]
        pixels.append([palette[i] for i in indices])
        mask.append([(mask_row[x // 8] >> (7 - x % 8)) & 1 for x in range(width)])
    return width, height, bits, pixels, mask


class ImageHeader(unittest.TestCase):
    def test_machine_and_format_match_the_target(self):
        pe = load()
        expected_machine, expected_magic = MACHINES[MACHINE]
        self.assertEqual(hex(pe.FILE_HEADER.Machine), hex(expected_machine))
        self.assertEqual(hex(pe.OPTIONAL_HEADER.Magic), hex(expected_magic))

    def test_subsystem_is_gui_so_no_console_opens(self):
        subsystem = load().OPTIONAL_HEADER.Subsystem
        self.assertEqual(pefile.SUBSYSTEM_TYPE.get(subsystem, subsystem),
                         "IMAGE_SUBSYSTEM_WINDOWS_GUI")


class Imports(unittest.TestCase):
    def setUp(self):
        pe = load()
        self.imports = {entry.dll.decode().lower():
                        {i.name.decode() for i in entry.imports if i.name}
                        for entry in pe.DIRECTORY_ENTRY_IMPORT}

    def test_only_system_dlls_are_needed(self):
        self.assertEqual(set(self.imports), SYSTEM_DLLS)

    def test_registry_and_message_box_imports_are_exactly_the_ansi_calls(self):
        for dll, expected in EXACT_IMPORTS.items():
            with self.subTest(dll=dll):
                self.assertEqual(self.imports.get(dll), expected)

    def test_kernel32_serves_the_program_file_calls_in_ansi_only(self):
        kernel32 = self.imports.get("kernel32.dll", set())
        self.assertEqual(PROGRAM_FILE_CALLS - kernel32, set(), "missing")
        wide = {name[:-1] + "W" for name in PROGRAM_FILE_CALLS if name.endswith("A")}
        self.assertEqual(wide & kernel32, set(), "wide variants imported")


class IconResource(unittest.TestCase):
    def setUp(self):
        pe = load()
        self.groups = resource_entries(pe, pefile.RESOURCE_TYPE["RT_GROUP_ICON"])
        self.icons = {(icon_id, language): data for icon_id, language, data in
                      resource_entries(pe, pefile.RESOURCE_TYPE["RT_ICON"])}

    def test_one_group_104_in_english_us(self):
        self.assertEqual([(i, hex(lang)) for i, lang, _ in self.groups],
                         [(ICON_GROUP_ID, hex(ENGLISH_US))])

    def test_group_lists_a_16_and_a_32_pixel_image_of_16_colours(self):
        members = group_members(self.groups[0][2])
        self.assertEqual(sorted((w, h, colours, bits) for w, h, colours, bits, _ in members),
                         [(16, 16, 16, 4), (32, 32, 16, 4)])
        for *_, icon_id in members:
            self.assertIn((icon_id, ENGLISH_US), self.icons)

    def image(self, size):
        for width, _, _, _, icon_id in group_members(self.groups[0][2]):
            if width == size:
                return decode_bitmap(self.icons[(icon_id, ENGLISH_US)])
        self.fail(f"no {size}x{size} image in group {ICON_GROUP_ID}")

    def test_images_are_stored_at_their_size_with_4_bits_per_pixel(self):
        for size in (16, 32):
            with self.subTest(size=size):
                self.assertEqual(self.image(size)[:3], (size, size, 4))

    def test_16_pixel_image_is_opaque(self):
        mask = self.image(16)[4]
        transparent = [(x, y) for y, row in enumerate(mask) for x, bit in enumerate(row) if bit]
        self.assertEqual(transparent, [])

    def test_32_pixel_image_is_transparent(self):
        mask = self.image(32)[4]
        opaque = [(x, y) for y, row in enumerate(mask) for x, bit in enumerate(row) if not bit]
        self.assertEqual(opaque, [])

    def test_16_pixel_image_is_dark_red_dark_cyan_and_grey(self):
        pixels = self.image(16)[3]
        used = {colour for row in pixels for colour in row}
        self.assertEqual(sorted(used), sorted({DARK_RED, DARK_CYAN, GREY}))


if __name__ == "__main__":
    IMAGE_PATH, MACHINE = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
