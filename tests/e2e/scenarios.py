"""The table of whole-run scenarios, shared by the native runs on the
stand-in and the runs of the Windows build under Wine.

A scenario is a machine before the run (registry text and files on drive C)
and what must hold after it: the log's exact bytes (None: no log at all), the
files left on drive C, and the registry keys left.
"""

from dataclasses import dataclass, field
from typing import Optional

REG_HEADER = "REGEDIT4\r\n\r\n"

# Keys and files of other programs that every run must leave alone.
UNRELATED_REG = (
    '[HKEY_CLASSES_ROOT\\.txt]\r\n@="txtfile"\r\n"Content Type"="text/plain"\r\n\r\n'
    '[HKEY_CLASSES_ROOT\\MIME\\Database\\Content Type\\text/plain]\r\n'
    '"Extension"=".txt"\r\n"Flags"=dword:0000002a\r\n"Raw"=hex:01,02,\\\r\n  ff\r\n\r\n'
)
UNRELATED_KEYS = [
    "HKEY_CLASSES_ROOT\\.txt",
    "HKEY_CLASSES_ROOT\\MIME",
    "HKEY_CLASSES_ROOT\\MIME\\Database",
    "HKEY_CLASSES_ROOT\\MIME\\Database\\Content Type",
    "HKEY_CLASSES_ROOT\\MIME\\Database\\Content Type\\text/plain",
]
UNRELATED_FILES = ["APPS/keep.txt", "WINDOWS/win.ini"]


def reg_string(text: str) -> str:
    """A regedit string literal for `text`."""
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def full_registration(command: str) -> str:
    return (
        '[HKEY_CLASSES_ROOT\\.zvx]\r\n@="Zelvorant"\r\n\r\n'
        '[HKEY_CLASSES_ROOT\\Zelvorant]\r\n@="Zelvorant presentation"\r\n\r\n'
        "[HKEY_CLASSES_ROOT\\Zelvorant\\shell\\open\\command]\r\n@=" + reg_string(command) + "\r\n\r\n"
        '[HKEY_CLASSES_ROOT\\MIME\\Database\\Content Type\\application/x-zelvorant]\r\n'
        '"Extension"=".zvx"\r\n\r\n'
    )


LOG_EXTENSION = b'HKEY_CLASSES_ROOT\\".zvx" removed\r\n'
LOG_PROGID = b"HKEY_CLASSES_ROOT\\Zelvorant removed\r\n"
LOG_MIME = b'HKEY_CLASSES_ROOT\\MIME\\Database\\"Content Type"\\application/x-zelvorant" removed\r\n'


def log_dir(path: str) -> bytes:
    return b"<" + path.encode("latin-1") + b"> is removed\r\n"


@dataclass
class Scenario:
    name: str
    registry: str  # the body after the header; UNRELATED_REG is added
    files: dict = field(default_factory=dict)  # drive C path -> content (bytes) or None for a folder
    expected_log: Optional[bytes] = None
    expected_files: list = field(default_factory=list)  # drive C paths left (plus UNRELATED_FILES)
    expected_keys: list = field(default_factory=list)  # keys left (plus UNRELATED_KEYS)


VIEWER_TREE = {
    "APPS/VIEWER/VIEW.EXE": b"MZ",
    "APPS/VIEWER/readme.txt": b"read me",
    "APPS/VIEWER/data/scene.zvx": b"scene",
    "APPS/VIEWER/data/textures/a.bmp": b"BM",
}

SCENARIOS = [
    Scenario(
        name="full_installation",
        registry=full_registration("C:\\APPS\\VIEWER\\VIEW.EXE %1"),
        files=dict(VIEWER_TREE),
        expected_log=LOG_EXTENSION + LOG_PROGID + LOG_MIME + log_dir("C:\\APPS\\VIEWER"),
        expected_files=["APPS"],
    ),
    Scenario(
        name="nothing_registered",
        registry="",
        expected_log=None,
        expected_files=["APPS"],
    ),
]
