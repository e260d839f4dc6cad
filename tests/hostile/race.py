"""Trials of the program emptying an installation tree while another process
rearranges that tree under it.

The other process plays a local user who may write inside the installation
directory but owns nothing outside it. While the program runs, it keeps
 - swapping subdirectories, now and then the installation directory itself,
   for symbolic links to folders outside the tree
   (an absolute link to a folder outside the machine, relative links that
   climb out of the tree, links to the drive's root and the Windows
   directory), so that a program that entered them would empty their targets;
 - moving subdirectories, perhaps half emptied with the program inside them,
   out of the tree into a folder full of other files, so that a program that
   climbed back by ".." would land there and empty it;
 - swapping files for symbolic links to files outside.
Sentinel files outside the tree must all survive every trial, byte for byte.
"""

import os
import random
import time
from dataclasses import dataclass, field

from machine import Machine, reg_string, registration

INSTALL = "APPS\\VIEWER"
COMMAND = reg_string(b"C:\\APPS\\VIEWER\\VIEW.EXE %1")

SENTINELS = {
    "APPS/keep.txt": b"a sibling of the installation",
    "APPS/OTHER/other.dll": b"another program",
    "root.txt": b"drive root",
    "WINDOWS/win.ini": b"[windows]",
    "WINDOWS/system32/kernel.dll": b"MZ kernel",
}
OUTSIDE_SENTINELS = {
    "victim/a.txt": b"outside the machine",
    "victim/sub/b.txt": b"outside, one level down",
    "victim/deep/c.txt": b"where moved folders land",
    "victim/deep/more/d.txt": b"below where moved folders land",
}


@dataclass
class TrialResult:
    actions: int = 0  # rearrangements made while the program ran
    half_emptied: int = 0  # folders moved out of the tree with part of their files already gone
    lost: list = field(default_factory=list)  # sentinels gone or changed
    faults: list = field(default_factory=list)  # crashes, hangs, false log lines


def build_tree(machine: Machine, rng: random.Random):
    """An installation of a few hundred files in nested folders; returns its
    folders and files as host paths, deepest last."""
    files = {}
    for d in range(6):
        top = f"APPS/VIEWER/d{d}"
        for depth, folder in enumerate([top, top + "/s", top + "/s/t", top + "/s/t/u"]):
            for i in range(rng.randint(10, 30)):
                files[f"{folder}/f{i}.bin"] = b"x" * (depth + 1)
    files["APPS/VIEWER/VIEW.EXE"] = b"MZ"
    machine.add_files(files)
    folders = sorted({os.path.dirname(os.path.join(machine.c, p)) for p in files}, key=len)
    folders = [f for f in folders if f != machine.c_path(INSTALL)]
    return folders, [os.path.join(machine.c, p) for p in files]


def place_sentinels(machine: Machine):
    machine.add_files(SENTINELS)
    for relative, content in OUTSIDE_SENTINELS.items():
        path = os.path.join(machine.top, "outside", relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)


def check_sentinels(machine: Machine) -> list:
    lost = []
    places = [(os.path.join(machine.c, p), c) for p, c in SENTINELS.items()]
    places += [(os.path.join(machine.top, "outside", p), c) for p, c in OUTSIDE_SENTINELS.items()]
    for path, content in places:
        try:
            with open(path, "rb") as f:
                if f.read() != content:
                    lost.append(path + " (changed)")
        except OSError:
            lost.append(path)
    return lost


class Attacker:
    def __init__(self, machine: Machine, folders, files, rng: random.Random):
        self.machine, self.folders, self.files, self.rng = machine, folders, files, rng
        outside = os.path.join(machine.top, "outside")
        self.victim = os.path.join(outside, "victim")
        self.landing = os.path.join(self.victim, "deep")
        self.moved = os.path.join(outside, "moved")
        os.makedirs(self.moved, exist_ok=True)
        self.count = 0
        self.moves = []  # (where a folder went, the files it held in the tree)

    def link_targets(self, path):
        here = os.path.dirname(path)
        return [
            self.victim,
            os.path.relpath(self.victim, here),
            os.path.relpath(self.machine.c, here),
            self.machine.c,
            self.machine.windows,
            os.path.relpath(os.path.join(self.machine.c, "APPS"), here),
        ]

    def unique(self, folder):
        self.count += 1
        return os.path.join(folder, f"m{self.count}-{self.rng.randrange(1 << 30)}")

    def move(self, path, folder):
        destination = self.unique(folder)
        os.rename(path, destination)
        if os.path.isdir(destination):
            inside = [f[len(path):] for f in self.files if f.startswith(path + os.sep)]
            self.moves.append((destination, inside))

    def swap_for_link(self, path):
        self.move(path, self.moved)
        os.symlink(self.rng.choice(self.link_targets(path)), path)

    def move_out(self, path):
        self.move(path, self.landing)

    def half_emptied(self) -> int:
        """Moved folders in which the program had deleted some files but not all."""
        count = 0
        for destination, inside in self.moves:
            left = sum(os.path.lexists(destination + f) for f in inside)
            count += 0 < left < len(inside)
        return count

    def act(self) -> bool:
        """One rearrangement; True when it changed the tree."""
        choice = self.rng.random()
        try:
            if choice < 0.02:
                # The installation directory itself, once the program is in it.
                self.swap_for_link(self.machine.c_path(INSTALL))
            elif choice < 0.45:
                self.swap_for_link(self.rng.choice(self.folders))
            elif choice < 0.85:
                self.move_out(self.rng.choice(self.folders))
            else:
                self.swap_for_link(self.rng.choice(self.files))
            return True
        except OSError:
            return False


def check_log(machine: Machine) -> list:
    log = machine.log() or b""
    if b"<C:\\APPS\\VIEWER> is removed" in log and os.path.lexists(machine.c_path(INSTALL)):
        return ["the log reports the installation removed, but it is still there"]
    return []


def run_trial(seed: int, max_delay_ms: float = 3.0) -> TrialResult:
    rng = random.Random(seed)
    machine = Machine(registration(COMMAND))
    result = TrialResult()
    try:
        folders, files = build_tree(machine, rng)
        place_sentinels(machine)
        attacker = Attacker(machine, folders, files, rng)
        process = machine.start()
        time.sleep(rng.uniform(0, max_delay_ms) / 1000)
        deadline = time.monotonic() + 60
        while process.poll() is None and time.monotonic() < deadline:
            result.actions += attacker.act()
        if process.poll() is None:
            process.kill()
            result.faults.append(f"seed {seed}: the run did not end within 60 s")
        process.wait()
        if process.returncode != 0:
            result.faults.append(f"seed {seed}: exit status {process.returncode}, expected 0 "
                                 f"(no box shown); stderr {process.stderr.read()!r}")
        process.stdout.close()
        process.stderr.close()
        result.half_emptied = attacker.half_emptied()
        result.lost = [f"seed {seed}: {p}" for p in check_sentinels(machine)]
        result.faults += [f"seed {seed}: {f}" for f in check_log(machine)]
    finally:
        machine.cleanup()
    return result


def run_trials(count: int, first_seed: int = 1, report=print):
    """Runs `count` trials; returns (actions, half-emptied moves, lost sentinels, faults)."""
    actions, half_emptied, lost, faults = 0, 0, [], []
    for seed in range(first_seed, first_seed + count):
        result = run_trial(seed)
        actions += result.actions
        half_emptied += result.half_emptied
        lost += result.lost
        faults += result.faults
    report(f"race: {count} trials, {actions} rearrangements during runs, {half_emptied} folders "
           f"moved out half emptied, {len(lost)} sentinels lost, {len(faults)} other faults")
    return actions, half_emptied, lost, faults
