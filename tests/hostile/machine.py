"""A Windows machine in a folder for the built program, and what a run did to it.

The program finds the machine through UNINST_MACHINE: registry.reg at its top,
drive C in drive_c/, the Windows directory in drive_c/WINDOWS. Each run is
started in a session of its own, so that it has no terminal: the final box
then cannot be shown and comes back 0 at once instead of waiting for Enter.
"""

import os
import re
import resource
import shutil
import subprocess
import tempfile

REG_HEADER = b"REGEDIT4\r\n\r\n"
LOG_NAME = "ZELVORANT_UNINSTALL.LOG"


def program() -> str:
    path = os.environ.get("UNINST_BIN")
    if not path:
        raise RuntimeError("UNINST_BIN must name the built program")
    return path


def reg_string(text: bytes) -> bytes:
    """A regedit string literal for `text`."""
    return b'"' + text.replace(b"\\", b"\\\\").replace(b'"', b'\\"') + b'"'


def registration(command_value: bytes) -> bytes:
    """The product's keys, with `command_value` (the text after "@=") as the open command."""
    return (
        b'[HKEY_CLASSES_ROOT\\.zvx]\r\n@="Zelvorant"\r\n\r\n'
        b"[HKEY_CLASSES_ROOT\\Zelvorant]\r\n@=\"Zelvorant presentation\"\r\n\r\n"
        b"[HKEY_CLASSES_ROOT\\Zelvorant\\shell\\open\\command]\r\n@=" + command_value + b"\r\n\r\n"
        b"[HKEY_CLASSES_ROOT\\MIME\\Database\\Content Type\\application/x-zelvorant]\r\n"
        b'"Extension"=".zvx"\r\n\r\n'
    )


UNRELATED_REG = (
    b'[HKEY_CLASSES_ROOT\\.txt]\r\n@="txtfile"\r\n\r\n'
    b"[HKEY_CLASSES_ROOT\\MIME\\Database\\Content Type\\text/plain]\r\n"
    b'"Extension"=".txt"\r\n"Raw"=hex:01,02,\\\r\n  ff\r\n\r\n'
)
PRODUCT_KEYS = [
    "HKEY_CLASSES_ROOT\\.zvx",
    "HKEY_CLASSES_ROOT\\Zelvorant",
    "HKEY_CLASSES_ROOT\\Zelvorant\\shell",
    "HKEY_CLASSES_ROOT\\Zelvorant\\shell\\open",
    "HKEY_CLASSES_ROOT\\Zelvorant\\shell\\open\\command",
    "HKEY_CLASSES_ROOT\\MIME\\Database\\Content Type\\application/x-zelvorant",
]


class Machine:
    """A machine folder under a fresh temporary folder, removed by cleanup()."""

    def __init__(self, registry_body: bytes = b""):
        self.top = tempfile.mkdtemp(prefix="uninst-hostile-")
        self.root = os.path.join(self.top, "machine")
        self.c = os.path.join(self.root, "drive_c")
        self.windows = os.path.join(self.c, "WINDOWS")
        os.makedirs(self.windows)
        self.write_registry(REG_HEADER + registry_body + UNRELATED_REG)

    def cleanup(self):
        make_removable(self.top)
        shutil.rmtree(self.top, ignore_errors=True)

    @property
    def registry_path(self) -> str:
        return os.path.join(self.root, "registry.reg")

    @property
    def log_path(self) -> str:
        return os.path.join(self.windows, LOG_NAME)

    def write_registry(self, text: bytes):
        with open(self.registry_path, "wb") as f:
            f.write(text)

    def registry(self) -> bytes:
        with open(self.registry_path, "rb") as f:
            return f.read()

    def c_path(self, windows_path: str) -> str:
        """The host path of a path on drive C, given with backslashes and without "C:\\"."""
        return os.path.join(self.c, *windows_path.split("\\"))

    def add_files(self, files: dict):
        """Host paths below drive C: bytes for a file, None for a folder."""
        for relative, content in files.items():
            path = os.path.join(self.c, relative)
            if content is None:
                os.makedirs(path, exist_ok=True)
            else:
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as f:
                    f.write(content)

    def start(self, fd_limit=None, measure=False, cwd=None):
        """Starts one run; the caller waits for it."""
        env = dict(os.environ, UNINST_MACHINE=self.root)
        command = [program()]
        if measure:
            command = ["/usr/bin/time", "-f", "peak_rss_kb=%M", "-o", self.rss_file()] + command

        def limit():
            if fd_limit is not None:
                resource.setrlimit(resource.RLIMIT_NOFILE, (fd_limit, fd_limit))

        return subprocess.Popen(command, env=env, cwd=cwd or self.top, start_new_session=True,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, preexec_fn=limit)

    def run(self, fd_limit=None, measure=False, timeout=120):
        """Runs the program to its end: (exit status, stderr, peak RSS in kB or None)."""
        process = self.start(fd_limit=fd_limit, measure=measure)
        _, err = process.communicate(timeout=timeout)
        rss = None
        if measure:
            with open(self.rss_file()) as f:
                rss = int(re.search(r"peak_rss_kb=(\d+)", f.read()).group(1))
        return process.returncode, err.decode(errors="replace"), rss

    def rss_file(self) -> str:
        return os.path.join(self.top, "time.out")

    def log(self):
        try:
            with open(self.log_path, "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None


def make_removable(top: str):
    """Gives every folder below `top` its owner's permissions back, so that it can be removed."""
    for folder, dirs, _ in os.walk(top):
        for name in dirs:
            path = os.path.join(folder, name)
            if not os.path.islink(path):
                os.chmod(path, 0o755)


def snapshot(top: str) -> dict:
    """Every entry below `top`, never through a link: path -> ("dir",) / ("file", bytes, mode) /
    ("link", target)."""
    result = {}
    for folder, dirs, files in os.walk(os.fsencode(top)):
        for name in dirs + files:
            path = os.path.join(folder, name)
            relative = os.path.relpath(path, os.fsencode(top))
            if os.path.islink(path):
                result[relative] = ("link", os.readlink(path))
            elif os.path.isdir(path):
                result[relative] = ("dir", os.stat(path).st_mode & 0o7777)
            else:
                with open(path, "rb") as f:
                    result[relative] = ("file", f.read(), os.stat(path).st_mode & 0o7777)
    return result


def registry_keys(text: bytes) -> set:
    """The keys that a registry text names in its section headers, and their parents."""
    keys = set()
    for line in text.split(b"\n"):
        line = line.strip(b"\r")
        if line.startswith(b"[") and line.endswith(b"]"):
            names = line[1:-1].decode("latin-1").split("\\")
            for i in range(2, len(names) + 1):
                keys.add("\\".join(names[:i]))
    return keys
