"""One Wine prefix for a whole test run: made once, its wineserver kept
running, on its own Xvfb display, so that each scenario costs a few Wine
starts rather than a new prefix.

The registry is set up and read back with Wine's own regedit, the files are
written straight into the prefix's drive C, and the program's final box is
found and dismissed with xdotool.
"""

import os
import shutil
import subprocess
import tempfile
import time

from regedit import VERSION5, registry_keys_and_values

HKCR = "HKEY_CLASSES_ROOT"
TOOLS = ("wine", "wineserver", "Xvfb", "xdotool")

# A guard against a run that hangs (a box nobody dismisses), not a measure of
# speed.
HANG_LIMIT_SECONDS = 60

BOX_CAPTION = "^Zelvorant Uninstall$"

# How long a dismissed box may stay before Enter is pressed again: Wine takes
# about two seconds to end the process.
RETRY_SECONDS = 4

# Top-level keys that Wine itself relies on: below them only the scenario's
# own keys are cleared, never the whole key.
WINE_NEEDS = {"CLSID"}


def missing_tools():
    return [tool for tool in TOOLS if shutil.which(tool) is None]


def cleared_roots(registry_texts):
    """The keys that the scenarios write below HKEY_CLASSES_ROOT, as few as
    cover them all: each top-level key, or, below a key that Wine needs, the
    key one level down."""
    roots = {}
    for text in registry_texts:
        for key in registry_keys_and_values(text):
            names = key.split("\\")
            if len(names) < 2 or names[0] != HKCR:
                continue
            depth = 3 if names[1].upper() in WINE_NEEDS else 2
            if len(names) >= depth:
                root = "\\".join(names[:depth])
                roots.setdefault(root.upper(), root)
    return sorted(roots.values(), key=str.upper)


def windows_path(host: str) -> str:
    """Wine's Z: drive is the host's root."""
    return "Z:" + host.replace("/", "\\")


class WineSession:
    def __init__(self, roots):
        self.roots = roots
        self.work = tempfile.mkdtemp(prefix="uninst-wine-")
        self.prefix = os.path.join(self.work, "prefix")
        self.drive_c = os.path.join(self.prefix, "drive_c")
        self.xvfb = None
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        self.display = None

    # Set-up and tear-down of the session.

    def start(self):
        self.start_xvfb()
        os.mkdir(self.prefix)
        subprocess.run(["wineserver", "-p"], env=self.env, check=True)
        self.wine(["wineboot", "-i"])
        self.windows_name = self.find_windows_folder()
        self.import_registry("REGEDIT4\r\n\r\n")  # clears what the prefix has under the roots

    def start_xvfb(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "800x600x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as display:
            number = display.readline().strip()
        if not number:
            raise RuntimeError("setup: Xvfb did not start")
        self.display = ":" + number
        # Wine's desktop process, started with the prefix, picks the display
        # driver for every later process: it must see the display at once.
        self.env["DISPLAY"] = self.display

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env)
        subprocess.run(["wineserver", "-w"], env=self.env)
        if self.xvfb is not None:
            self.xvfb.terminate()
            self.xvfb.wait()
        subprocess.run(["chmod", "-R", "u+w", self.work])
        shutil.rmtree(self.work, ignore_errors=True)

    def find_windows_folder(self):
        for name in os.listdir(self.drive_c):
            if name.upper() == "WINDOWS":
                return name
        raise RuntimeError("setup: the prefix has no Windows folder")

    # Wine processes.

    def start_wine(self, args, env=None, cwd=None):
        # Output goes nowhere: the processes that Wine starts in the
        # background would hold a pipe open for as long as they live.
        return subprocess.Popen(["wine"] + args, env=env or self.env, cwd=cwd or self.work,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def wine(self, args):
        self.start_wine(args).wait(timeout=HANG_LIMIT_SECONDS)

    def run_batch(self, lines):
        batch = os.path.join(self.work, "steps.bat")
        with open(batch, "w", newline="\r\n") as f:
            f.write("@echo off\n" + "\n".join(lines) + "\n")
        self.wine(["cmd", "/c", windows_path(batch)])

    # The registry, through regedit.

    def import_registry(self, reg_text: str):
        """Clears the roots, then imports `reg_text` (a whole regedit file)."""
        header, _, body = reg_text.partition("\r\n")
        clear = "".join("[-%s]\r\n\r\n" % root for root in self.roots)
        path = os.path.join(self.work, "import.reg")
        text = header + "\r\n\r\n" + clear + body
        with open(path, "wb") as f:
            # regedit reads the hex data of text values as UTF-16 only in a
            # UTF-16 file, the form in which it writes version 5 itself.
            f.write(b"\xff\xfe" + text.encode("utf-16-le") if header == VERSION5
                    else text.encode("latin-1"))
        self.run_batch(["regedit /S " + windows_path(path)])

    def export_registry(self) -> dict:
        """Keys and values below the roots, as regedit exports them."""
        exports = [os.path.join(self.work, "export%d.reg" % i) for i in range(len(self.roots))]
        for path in exports:
            if os.path.exists(path):
                os.remove(path)
        # One export at a time: regedit processes started side by side now
        # and then left a root's file unwritten, which read as keys missing.
        for path, root in zip(exports, self.roots):
            self.wine(["regedit", "/E", windows_path(path), root])
        keys = {}
        for path in exports:
            if os.path.exists(path):  # regedit writes nothing for a missing key
                with open(path, "rb") as f:
                    keys.update(registry_keys_and_values(f.read()))
        return keys

    # The program's run and its box.

    def start_program(self, exe: str, cwd: str, display=True):
        """Starts `exe` in the host folder `cwd`, with or without the display."""
        env = dict(self.env)
        if not display:
            del env["DISPLAY"]
        return self.start_wine([exe], env, cwd)

    def finish(self, program, box=None):
        """The program's exit status. A box that is still shown a while
        after Enter was pressed on it is given Enter again."""
        deadline = time.monotonic() + HANG_LIMIT_SECONDS
        while time.monotonic() < deadline:
            try:
                return program.wait(timeout=RETRY_SECONDS)
            except subprocess.TimeoutExpired:
                if box is not None and self.box_is_shown(box):
                    self.press_enter(box)
        program.kill()
        program.wait()
        raise TimeoutError("the program did not end")

    def xdotool(self, *args):
        return subprocess.run(["xdotool"] + list(args), env=self.env,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)

    def wait_for_box(self, program):
        """The box's window, once it is shown; None if the program ends first."""
        deadline = time.monotonic() + HANG_LIMIT_SECONDS
        while time.monotonic() < deadline and program.poll() is None:
            found = self.xdotool("search", "--onlyvisible", "--name", BOX_CAPTION).stdout.split()
            if found:
                return found[0]
            time.sleep(0.05)
        return None

    def box_is_shown(self, window):
        return window in self.xdotool("search", "--onlyvisible", "--name", BOX_CAPTION).stdout.split()

    def press_enter(self, window):
        """Presses Enter on the box. Wine ignores synthetic key events sent to
        a window, so the box is given the focus and the key goes through the
        XTEST extension. The box then stays on the screen for about two
        seconds, while Wine ends the process."""
        self.xdotool("windowfocus", "--sync", window)
        self.xdotool("key", "Return")
