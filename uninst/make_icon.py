#!/usr/bin/python3
"""Writes the program's icon, uninst.ico, from the pixel drawings below.

    /usr/bin/python3 uninst/make_icon.py uninst/uninst.ico

The icon holds two 16-colour (4 bits per pixel) images. The 16x16 one is a
presentation screen: a grey frame around a dark cyan screen that shows a dark
red "Z"; every pixel is opaque. The 32x32 one is fully transparent, so that
the shell draws the small image wherever it can.
"""

import struct
import sys

# The standard 16-colour Windows palette, in index order, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]

# One letter per pixel: the palette index it stands for, or None for a
# transparent pixel (drawn black, its mask bit set).
LEGEND = {
    "R": 1,  # dark red
    "C": 6,  # dark cyan
    "g": 8,  # grey
    ".": None,  # transparent
}

SMALL = """
gggggggggggggggg
gCCCCCCCCCCCCCCg
gCRRRRRRRRRRRRCg
gCRRRRRRRRRRRRCg
gCCCCCCCCCRRRCCg
gCCCCCCCCRRRCCCg
gCCCCCCCRRRCCCCg
gCCCCCCRRRCCCCCg
gCCCCCRRRCCCCCCg
gCCCCRRRCCCCCCCg
gCCCRRRCCCCCCCCg
gCRRRRRRRRRRRRCg
gCRRRRRRRRRRRRCg
gCCCCCCCCCCCCCCg
gggggggggggggggg
gggggggggggggggg
"""

LARGE = "\n".join(["." * 32] * 32)


def rows_of(drawing, size):
    rows = drawing.split()
    if len(rows) != size or any(len(row) != size for row in rows):
        raise ValueError(f"a drawing of {size}x{size} pixels expected")
    return [[LEGEND[letter] for letter in row] for row in rows]


def padded(row_bytes):
    """A bitmap row, padded to a multiple of four bytes."""
    return row_bytes + b"\0" * (-len(row_bytes) % 4)


def colour_row(pixels):
    indices = [index or 0 for index in pixels]
    return padded(bytes((a << 4) | b for a, b in zip(indices[0::2], indices[1::2])))


def mask_row(pixels):
    bits = 0
    for pixel in pixels:
        bits = (bits << 1) | (pixel is None)
    return padded(bits.to_bytes(len(pixels) // 8, "big"))


def image(rows):
    """A device-independent bitmap as an icon holds it: header, palette,
    colour rows and mask rows, both bottom-up; the height counts both."""
    size = len(rows)
    colours = b"".join(colour_row(row) for row in reversed(rows))
    mask = b"".join(mask_row(row) for row in reversed(rows))
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 4, 0,
                         len(colours) + len(mask), 0, 0, 16, 0)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    return header + palette + colours + mask


def icon(images):
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries, data = b"", b""
    for size, bitmap in images:
        entries += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(bitmap), offset)
        offset += len(bitmap)
        data += bitmap
    return directory + entries + data


def main():
    images = [(16, image(rows_of(SMALL, 16))), (32, image(rows_of(LARGE, 32)))]
    with open(sys.argv[1], "wb") as out:
        out.write(icon(images))


if __name__ == "__main__":
    main()
