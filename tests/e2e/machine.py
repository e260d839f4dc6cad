"""A Windows machine in a folder, set up from a scenario and read back.

The layout is the stand-in's (and, for drive C, a Wine prefix's):
`registry.reg` beside `drive_c/`, the Windows directory in `drive_c/WINDOWS`.
Files are named by their path on drive C with forward slashes ("APPS/VIEWER/
VIEW.EXE"); a path that starts with "WINDOWS/" lies in the Windows directory,
whatever its folder is called (`windows_name`, "windows" in a Wine prefix).

A file's state is what a run may change about it: its bytes, `FOLDER`,
`ReadOnly(bytes)` for a file without its owner's write bit (Windows' read-only
attribute), or `Link(target)` for a symbolic link (target as a host path
relative to the link's folder).
"""

import os
import stat
from dataclasses import dataclass

FOLDER = "<folder>"
LOG_NAME = "ZELVORANT_UNINSTALL.LOG"
WINDOWS = "WINDOWS"


@dataclass(frozen=True)
class ReadOnly:
    content: bytes


@dataclass(frozen=True)
class Link:
    target: str


def host_path(drive_c: str, path: str, windows_name: str = WINDOWS) -> str:
    names = path.split("/")
    if names[0] == WINDOWS:
        names[0] = windows_name
    return os.path.join(drive_c, *names)


def write_entry(where: str, state) -> None:
    os.makedirs(os.path.dirname(where), exist_ok=True)
    if state == FOLDER:
        os.makedirs(where, exist_ok=True)
    elif isinstance(state, Link):
        os.symlink(state.target, where)
    else:
        content = state.content if isinstance(state, ReadOnly) else state
        with open(where, "wb") as f:
            f.write(content)
        if isinstance(state, ReadOnly):
            os.chmod(where, 0o444)


def make_files(drive_c: str, files: dict, windows_name: str = WINDOWS) -> None:
    os.makedirs(host_path(drive_c, WINDOWS, windows_name), exist_ok=True)
    for path in sorted(files):
        write_entry(host_path(drive_c, path, windows_name), files[path])


def make_machine(machine_dir: str, scenario, windows_name: str = WINDOWS) -> None:
    """The machine before the run: registry.reg, drive C with its Windows
    directory, the scenario's files and its earlier log, if any."""
    os.makedirs(machine_dir, exist_ok=True)
    with open(os.path.join(machine_dir, "registry.reg"), "wb") as f:
        f.write(scenario.registry_bytes())
    drive_c = os.path.join(machine_dir, "drive_c")
    make_files(drive_c, scenario.all_files(), windows_name)
    if scenario.earlier_log is not None:
        write_entry(host_path(drive_c, WINDOWS + "/" + LOG_NAME, windows_name), scenario.earlier_log)


def entry_state(where: str):
    info = os.lstat(where)
    if stat.S_ISLNK(info.st_mode):
        return Link(os.readlink(where))
    if stat.S_ISDIR(info.st_mode):
        return FOLDER
    with open(where, "rb") as f:
        content = f.read()
    return content if info.st_mode & stat.S_IWUSR else ReadOnly(content)


def files_left(drive_c: str, windows_name: str = WINDOWS) -> dict:
    """Every entry of drive C, links not followed: {path: state}."""
    left = {}
    for folder, dirs, files in os.walk(drive_c):
        for name in dirs + files:
            where = os.path.join(folder, name)
            names = os.path.relpath(where, drive_c).split(os.sep)
            if names[0] == windows_name:
                names[0] = WINDOWS
            left["/".join(names)] = entry_state(where)
    return left


def with_parents(files: dict) -> dict:
    """`files` with every folder above its entries, as a walk reports them."""
    full = dict(files)
    for path in files:
        names = path.split("/")
        for depth in range(1, len(names)):
            full.setdefault("/".join(names[:depth]), FOLDER)
    return full


def without_paths(files: dict, removed) -> dict:
    def is_gone(path):
        return any(path == r or path.startswith(r + "/") for r in removed)

    return {p: s for p, s in files.items() if not is_gone(p)}


def make_writable(machine_dir: str) -> None:
    """Gives back the write bits that read-only fixtures took, so that the
    folder can be removed."""
    for folder, dirs, files in os.walk(machine_dir):
        for name in dirs + files:
            where = os.path.join(folder, name)
            if not os.path.islink(where):
                os.chmod(where, os.stat(where).st_mode | stat.S_IWUSR)
