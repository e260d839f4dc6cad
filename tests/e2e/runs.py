"""Runs of the built program on a machine directory, with and without a
terminal for its final box."""

import os
import pty
import select
import signal
import subprocess
import time
from dataclasses import dataclass

# A guard against a run that hangs (a box waiting for a key that never
# comes), not a measure of speed.
HANG_LIMIT_SECONDS = 30

BOX_CAPTION = "Zelvorant Uninstall"
BOX_TEXT = "The 3D presentations viewer has been removed from this computer"


@dataclass
class Run:
    exit_status: int
    output: str


def run_environment(machine_dir: str) -> dict:
    env = dict(os.environ)
    env["UNINST_MACHINE"] = machine_dir
    return env


def run_native(uninst_path: str, machine_dir: str, terminal: bool = False, cwd: str = None,
               on_box=None) -> Run:
    """Runs the program once on `machine_dir`, from the host folder `cwd`
    (the machine directory itself when None, which starts the program in
    C:\\). Without a terminal the program is a session leader with stdin from
    /dev/null, so it has no controlling terminal to show its box on; with one,
    see run_on_terminal."""
    cwd = cwd or machine_dir
    if terminal:
        return run_on_terminal(uninst_path, machine_dir, cwd, on_box)
    done = subprocess.run([uninst_path], cwd=cwd, env=run_environment(machine_dir),
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, start_new_session=True,
                          timeout=HANG_LIMIT_SECONDS)
    return Run(done.returncode, done.stdout.decode("latin-1"))


def read_until(fd: int, wanted, seen: bytes) -> bytes:
    """Reads the terminal until every text of `wanted` has appeared, or it
    closes, or the hang limit passes."""
    deadline = time.monotonic() + HANG_LIMIT_SECONDS
    while not all(w.encode() in seen for w in wanted):
        remaining = deadline - time.monotonic()
        if remaining <= 0 or not select.select([fd], [], [], remaining)[0]:
            break
        try:
            chunk = os.read(fd, 4096)
        except OSError:  # the child closed the terminal
            break
        if not chunk:
            break
        seen += chunk
    return seen


def wait_for_exit(pid: int) -> int:
    deadline = time.monotonic() + HANG_LIMIT_SECONDS
    while time.monotonic() < deadline:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            return os.waitstatus_to_exitcode(status)
        time.sleep(0.01)
    os.kill(pid, signal.SIGKILL)
    os.waitpid(pid, 0)
    return -signal.SIGKILL


def run_on_terminal(uninst_path: str, machine_dir: str, cwd: str, on_box=None) -> Run:
    """Runs the program in a new session whose controlling terminal is a
    pseudo-terminal; once the box's caption and text have appeared,
    `on_box()` is called (the program is then waiting) and Enter is sent."""
    env = run_environment(machine_dir)
    pid, fd = pty.fork()  # the child is a session leader with the pty as its terminal
    if pid == 0:
        try:
            os.chdir(cwd)
            os.execve(uninst_path, [uninst_path], env)
        finally:
            os._exit(127)
    try:
        seen = read_until(fd, [BOX_CAPTION, BOX_TEXT, "OK"], b"")
        if on_box is not None:
            on_box()
        try:
            os.write(fd, b"\r")
        except OSError:  # the program has closed the terminal already
            pass
        seen = read_until(fd, ["\0"], seen)  # everything up to the terminal's close
        return Run(wait_for_exit(pid), seen.decode("latin-1"))
    finally:
        os.close(fd)
