"""The table of whole-run scenarios, shared by the native runs on the
stand-in and the runs of the Windows build under Wine.

A scenario is a machine before the run (registry text and files on drive C,
beside other programs' keys and files that every run must leave alone) and
what must hold after it: the log's exact bytes (None: no log file at all),
the keys that are gone (each with everything below it) and the files that are
gone (each with everything in it). Everything else must be as it was, byte
for byte; a registry from which nothing is removed must not even be
rewritten.
"""

from dataclasses import dataclass, field
from typing import Optional

from machine import FOLDER, Link, ReadOnly, with_parents
from regedit import REGEDIT4, VERSION5

HKCR = "HKEY_CLASSES_ROOT"


def reg_string(text: str) -> str:
    """A regedit string literal for `text`."""
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def reg_hex(kind: int, text: str, header: str) -> str:
    """A hex(kind) value holding `text` and its NUL (a MULTI_SZ text holds its
    strings with their NULs and ends in its own), in the ANSI code page under
    REGEDIT4 and in UTF-16LE under version 5, cut over two lines as regedit
    writes long ones."""
    encoding = "utf-16-le" if header == VERSION5 else "latin-1"
    data = ",".join("%02x" % b for b in (text + "\0").encode(encoding))
    middle = len(data) // 2 // 3 * 3
    return "hex(%x):%s\\\r\n  %s" % (kind, data[:middle], data[middle:])


def section(key: str, *values: str) -> str:
    return "[" + HKCR + "\\" + key + "]\r\n" + "".join(v + "\r\n" for v in values) + "\r\n"


def default(text: str) -> str:
    return "@=" + reg_string(text)


# Other programs' keys, around the product's: names that share its prefix,
# every value type, escapes, and hex values continued over lines.
def unrelated_before(header: str) -> str:
    return (
        section(".txt", default("txtfile"), '"Content Type"="text/plain"', '"PerceivedType"="text"')
        + section(".zvx2", default("OtherViewer"))
        + section("txtfile\\shell\\open\\command",
                  "@=" + reg_hex(2, "%SystemRoot%\\NOTEPAD.EXE %1", header))
    )


def unrelated_after(header: str) -> str:
    return (
        section("Zelvorant.Backup", default("Presentation backup"), '"Flags"=dword:00010000')
        + section("Zelvorant.Backup\\shell\\open\\command",
                  default('C:\\APPS\\BACKUP\\BACKUP.EXE "%1"'))
        + section(
            "CLSID\\{0D2E74C4-3C34-11D2-A27E-00C04FC30871}",
            '"Raw"=hex:01,02,\\\r\n  ff',
            '"List"=' + reg_hex(7, "a\0b\0", header),
            '"Empty"=""',
            '"Quoted \\"name\\""="back\\\\slash"',
        )
    )


OTHER_MIME_TYPES = (
    section("MIME\\Database\\Content Type\\text/plain", '"Extension"=".txt"')
    + section("MIME\\Database\\Content Type\\application/x-zelvorant-beta", '"Extension"=".zvb"')
    + section("MIME\\Database\\Codepage\\1252", '"BodyCharset"="iso-8859-1"')
)

EXTENSION = section(".zvx", default("Zelvorant"), '"Content Type"="application/x-zelvorant"')
PROGID = section("Zelvorant", default("Zelvorant presentation"))
SHELL = section("Zelvorant\\shell", default("open"))
OPEN = section("Zelvorant\\shell\\open", default("&Open"))
MIME_TYPE_KEY = "MIME\\Database\\Content Type\\application/x-zelvorant"
MIME_TYPE = section(MIME_TYPE_KEY, '"Extension"=".zvx"')


def command(*values: str) -> str:
    return section("Zelvorant\\shell\\open\\command", *values)


def registration(open_command: str) -> str:
    """Everything the product registers, its open command `open_command`."""
    return EXTENSION + PROGID + SHELL + OPEN + command(default(open_command)) + MIME_TYPE + OTHER_MIME_TYPES


K_EXTENSION = HKCR + "\\.zvx"
K_PROGID = HKCR + "\\Zelvorant"
K_SHELL = K_PROGID + "\\shell"
K_MIME_TYPE = HKCR + "\\" + MIME_TYPE_KEY
ALL_KEYS = (K_EXTENSION, K_PROGID, K_MIME_TYPE)

LOG_EXTENSION = b'HKEY_CLASSES_ROOT\\".zvx" removed\r\n'
LOG_PROGID = b"HKEY_CLASSES_ROOT\\Zelvorant removed\r\n"
LOG_MIME = b'HKEY_CLASSES_ROOT\\MIME\\Database\\"Content Type"\\application/x-zelvorant" removed\r\n'
LOG_KEYS = LOG_EXTENSION + LOG_PROGID + LOG_MIME
EARLIER_LOG = b"<C:\\OLD\\VIEWER> is removed\r\n"


def log_dir(path: str) -> bytes:
    return b"<" + path.encode("latin-1") + b"> is removed\r\n"


VIEW_COMMAND = "C:\\APPS\\VIEWER\\VIEW.EXE %1"
VIEWER = "APPS/VIEWER"

# Other programs' files, also beside the installation and in every folder
# that an unsafe installation directory could name.
UNRELATED_FILES = {
    "WINDOWS/win.ini": b"[fonts]\r\n",
    "WINDOWS/system32/kernel32.dll": b"MZ kernel",
    "APPS/keep.txt": b"another program",
    "APPS/VIEWER2/other.exe": b"MZ other",
    "Program Files/Other/other.exe": b"MZ other",
    "TEMP/V.LOG": b"another log",
}

VIEWER_TREE = {
    VIEWER + "/VIEW.EXE": b"MZ viewer",
    VIEWER + "/readme.txt": b"read me",
    VIEWER + "/.settings": b"hidden by its name only",
    VIEWER + "/data/scene.zvx": b"scene",
    VIEWER + "/data/textures/a.bmp": b"BM",
    VIEWER + "/data/empty": FOLDER,
}
VIEWER_CHILDREN = (VIEWER + "/VIEW.EXE", VIEWER + "/readme.txt", VIEWER + "/.settings",
                   VIEWER + "/data")


@dataclass
class Scenario:
    name: str  # what must hold
    guards: str  # the fault this run would show
    registry: str  # the body of registry.reg, between the unrelated keys
    files: dict = field(default_factory=dict)  # drive C path -> state (see machine.py)
    expected_log: Optional[bytes] = None
    removed_keys: tuple = ()
    removed_files: tuple = ()
    earlier_log: Optional[bytes] = None
    header: str = REGEDIT4
    start_dir: Optional[str] = None  # drive C folder the run starts in; None: outside the drives
    raw_registry: Optional[str] = None  # registry.reg as it stands, unrelated keys left out
    native_only: str = ""  # why the run has no counterpart on Windows

    def registry_text(self) -> str:
        if self.raw_registry is not None:
            return self.raw_registry
        return (self.header + "\r\n\r\n" + unrelated_before(self.header) + self.registry
                + unrelated_after(self.header))

    def registry_bytes(self) -> bytes:
        return self.registry_text().encode("latin-1")

    def all_files(self) -> dict:
        return {**UNRELATED_FILES, **self.files}

    def files_before(self) -> dict:
        return with_parents(self.all_files())


def full(name, guards, open_command=VIEW_COMMAND, files=VIEWER_TREE, registry_extra="", **rest):
    """The whole product registered, with `open_command`, and `registry_extra`
    after it."""
    return Scenario(name, guards, registration(open_command) + registry_extra, dict(files), **rest)


def refused(name, open_command, guards):
    """A full registration whose installation directory must not be emptied:
    the keys go, every file stays."""
    return full(name, guards, open_command, expected_log=LOG_KEYS, removed_keys=ALL_KEYS)


LONGEST_DIR = "APPS/" + "L" * 240  # C:\APPS\LLL...\V.EXE is 254 characters
TOO_LONG_COMMAND = "C:\\APPS\\VIEWER\\" + "T" * 234 + "\\V.EXE"  # 255 characters

# Five folders of 50 characters below C:\APPS\VIEWER: the fifth would make
# the current directory 269 characters long, past what Windows allows.
DEEP_LEVELS = [VIEWER + ("/" + "D" * 50) * depth for depth in range(6)]
DEEP_TREE = {level + "/f.txt": b"level file" for level in DEEP_LEVELS}

SCENARIOS = [
    full("full_installation_is_removed_and_replaces_earlier_log",
         "a step left out, a message out of order, an earlier run's log kept",
         earlier_log=EARLIER_LOG,
         expected_log=LOG_KEYS + log_dir("C:\\APPS\\VIEWER"),
         removed_keys=ALL_KEYS, removed_files=(VIEWER,)),
    Scenario("version5_registry_is_read_and_rewritten",
             "a registry in regedit's later format read as empty or rewritten wrongly",
             registration(VIEW_COMMAND), dict(VIEWER_TREE), header=VERSION5,
             expected_log=LOG_KEYS + log_dir("C:\\APPS\\VIEWER"),
             removed_keys=ALL_KEYS, removed_files=(VIEWER,)),
    Scenario("nothing_registered_logs_nothing_and_creates_no_log",
             "a log opened (created) by a run that removed nothing",
             OTHER_MIME_TYPES, dict(VIEWER_TREE)),
    Scenario("nothing_registered_leaves_earlier_log_byte_for_byte",
             "a log emptied by a run that removed nothing",
             OTHER_MIME_TYPES, dict(VIEWER_TREE), earlier_log=EARLIER_LOG,
             expected_log=EARLIER_LOG),
    Scenario("progid_without_shell_is_deleted_alone",
             "a missing shell key stopping the ProgID's delete, or a directory guessed",
             PROGID + OTHER_MIME_TYPES, dict(VIEWER_TREE),
             expected_log=LOG_PROGID, removed_keys=(K_PROGID,)),
    Scenario("chain_without_command_is_deleted_and_no_directory_found",
             "the chain kept because command is missing",
             PROGID + SHELL + OPEN + OTHER_MIME_TYPES, dict(VIEWER_TREE),
             expected_log=LOG_PROGID, removed_keys=(K_PROGID,)),
    Scenario("command_without_default_value_gives_no_directory",
             "a named value of command read as the open command",
             EXTENSION + PROGID + SHELL + OPEN
             + command('"Other"=' + reg_string(VIEW_COMMAND)) + MIME_TYPE + OTHER_MIME_TYPES,
             dict(VIEWER_TREE), expected_log=LOG_KEYS, removed_keys=ALL_KEYS),
    full("command_without_backslash_gives_no_directory",
         "a name without a folder entered relative to the current directory",
         "VIEW.EXE %1", expected_log=LOG_KEYS, removed_keys=ALL_KEYS),
    full("empty_command_gives_no_directory",
         "an empty directory name taken as the current directory",
         "", expected_log=LOG_KEYS, removed_keys=ALL_KEYS),
    Scenario("extension_and_mime_type_absent_are_not_logged",
             "a removal logged that did not happen",
             PROGID + SHELL + OPEN + command(default(VIEW_COMMAND)) + OTHER_MIME_TYPES,
             dict(VIEWER_TREE), expected_log=LOG_PROGID + log_dir("C:\\APPS\\VIEWER"),
             removed_keys=(K_PROGID,), removed_files=(VIEWER,)),
    Scenario("mime_database_absent_leaves_the_rest_to_go",
             "a missing MIME key stopping the run or creating keys",
             EXTENSION + PROGID + SHELL + OPEN + command(default(VIEW_COMMAND)), dict(VIEWER_TREE),
             expected_log=LOG_EXTENSION + LOG_PROGID + log_dir("C:\\APPS\\VIEWER"),
             removed_keys=(K_EXTENSION, K_PROGID), removed_files=(VIEWER,)),
    Scenario("mime_database_keys_stay_when_the_type_was_their_only_key",
             "MIME, Database or Content Type deleted, or lost from the rewritten file",
             EXTENSION + PROGID + SHELL + OPEN + command(default(VIEW_COMMAND)) + MIME_TYPE,
             dict(VIEWER_TREE), expected_log=LOG_KEYS + log_dir("C:\\APPS\\VIEWER"),
             removed_keys=ALL_KEYS, removed_files=(VIEWER,)),
    Scenario("mime_type_outside_content_type_stays",
             "the MIME type deleted from another folder of the database",
             EXTENSION + PROGID + SHELL + OPEN + command(default(VIEW_COMMAND))
             + section("MIME\\Database\\Codepage\\application/x-zelvorant", '"Extension"=".zvx"'),
             dict(VIEWER_TREE),
             expected_log=LOG_EXTENSION + LOG_PROGID + log_dir("C:\\APPS\\VIEWER"),
             removed_keys=(K_EXTENSION, K_PROGID), removed_files=(VIEWER,)),
    full("progid_with_another_subkey_stays_unlogged",
         "the ProgID message logged though Zelvorant could not be deleted",
         registry_extra=section("Zelvorant\\DefaultIcon", default("C:\\APPS\\VIEWER\\VIEW.EXE,0")),
         expected_log=LOG_EXTENSION + LOG_MIME + log_dir("C:\\APPS\\VIEWER"),
         removed_keys=(K_EXTENSION, K_SHELL, K_MIME_TYPE), removed_files=(VIEWER,)),
    full("mime_type_with_a_subkey_stays_unlogged",
         "the MIME message logged though its delete failed",
         registry_extra=section(MIME_TYPE_KEY + "\\Extra", default("kept")),
         expected_log=LOG_EXTENSION + LOG_PROGID + log_dir("C:\\APPS\\VIEWER"),
         removed_keys=(K_EXTENSION, K_PROGID), removed_files=(VIEWER,)),
    full("missing_install_dir_is_not_logged",
         "the directory message logged for a directory that was never there",
         files={}, expected_log=LOG_KEYS, removed_keys=ALL_KEYS),
    full("read_only_file_keeps_install_dir_unlogged",
         "a read-only file deleted, or the directory message logged though it stayed",
         files={**VIEWER_TREE, VIEWER + "/data/locked.dat": ReadOnly(b"locked")},
         expected_log=LOG_KEYS, removed_keys=ALL_KEYS,
         removed_files=(VIEWER + "/VIEW.EXE", VIEWER + "/readme.txt", VIEWER + "/.settings",
                        VIEWER + "/data/scene.zvx", VIEWER + "/data/textures", VIEWER + "/data/empty")),
    full("dot_directory_keeps_install_dir_unlogged",
         "a directory named with a leading full stop entered, or the message logged",
         files={**VIEWER_TREE, VIEWER + "/.cache/thumb.png": b"PNG"},
         expected_log=LOG_KEYS, removed_keys=ALL_KEYS, removed_files=VIEWER_CHILDREN),
    full("run_started_inside_install_dir_empties_but_keeps_it",
         "the current directory removed, or the message logged though it stayed",
         start_dir=VIEWER, expected_log=LOG_KEYS, removed_keys=ALL_KEYS,
         removed_files=VIEWER_CHILDREN),
    full("links_are_removed_never_followed",
         "a link to a folder entered and its target emptied",
         files={**VIEWER_TREE, VIEWER + "/shared": Link("../../DATA"),
                VIEWER + "/data/note.txt": Link("../../keep.txt"),
                "DATA/fonts/font.ttf": b"font", "DATA/kept.txt": b"kept"},
         expected_log=LOG_KEYS + log_dir("C:\\APPS\\VIEWER"),
         removed_keys=ALL_KEYS, removed_files=(VIEWER,)),
    Scenario("keys_and_names_match_in_any_letter_case",
             "a key or file name compared with its letter case",
             section(".ZVX", default("Zelvorant"))
             + section("zelvorant\\SHELL\\Open\\COMMAND", default("c:\\apps\\viewer\\view.exe %1"))
             + section("mime\\DATABASE\\content type\\APPLICATION/X-ZELVORANT", '"Extension"=".zvx"')
             + OTHER_MIME_TYPES,
             dict(VIEWER_TREE), expected_log=LOG_KEYS + log_dir("c:\\apps\\viewer"),
             removed_keys=ALL_KEYS, removed_files=(VIEWER,)),
    full("longest_value_that_fits_gives_the_whole_directory_message",
         "a value of 254 characters refused, or its directory message cut",
         "C:\\" + LONGEST_DIR.replace("/", "\\") + "\\V.EXE",
         files={LONGEST_DIR + "/V.EXE": b"MZ"},
         expected_log=LOG_KEYS + log_dir("C:\\" + LONGEST_DIR.replace("/", "\\")),
         removed_keys=ALL_KEYS, removed_files=(LONGEST_DIR,)),
    full("value_longer_than_the_buffer_gives_no_directory",
         "part of a value too long for the buffer cut to a parent of the real directory",
         TOO_LONG_COMMAND, expected_log=LOG_KEYS, removed_keys=ALL_KEYS),
    full("read_only_log_stays_and_the_run_goes_on",
         "a log that cannot be opened stopping the run, or made writable and replaced",
         earlier_log=ReadOnly(EARLIER_LOG), expected_log=EARLIER_LOG,
         removed_keys=ALL_KEYS, removed_files=(VIEWER,)),
    Scenario("expand_sz_command_is_used_as_it_stands",
             "the command's registry type looked at, or its text expanded",
             EXTENSION + PROGID + SHELL + OPEN + command("@=" + reg_hex(2, VIEW_COMMAND, REGEDIT4))
             + MIME_TYPE + OTHER_MIME_TYPES, dict(VIEWER_TREE),
             expected_log=LOG_KEYS + log_dir("C:\\APPS\\VIEWER"),
             removed_keys=ALL_KEYS, removed_files=(VIEWER,)),
    full("percent_signs_in_directory_are_logged_unchanged",
         "the directory used as a format, its conversions expanded",
         "C:\\APPS\\V%s%n%%\\VIEW.EXE %1", files={"APPS/V%s%n%%/VIEW.EXE": b"MZ"},
         expected_log=LOG_KEYS + log_dir("C:\\APPS\\V%s%n%%"),
         removed_keys=ALL_KEYS, removed_files=("APPS/V%s%n%%",)),
    full("tree_deeper_than_the_path_limit_stays_below_it",
         "a folder entered whose path Windows could not make current",
         files=DEEP_TREE, expected_log=LOG_KEYS, removed_keys=ALL_KEYS,
         removed_files=tuple(level + "/f.txt" for level in DEEP_LEVELS[:-1])),
    refused("windows_directory_is_refused", "C:\\WINDOWS\\VIEW.EXE %1",
            "the Windows directory emptied"),
    refused("folder_inside_windows_directory_is_refused", "c:\\windows\\system32\\VIEW.EXE %1",
            "a folder of the Windows directory emptied, named in other letter case"),
    refused("drive_root_is_refused", "C:\\VIEW.EXE %1",
            "the cut's bare \"C:\" entered as drive C's current directory, C:\\ emptied"),
    refused("program_files_is_refused", "C:\\Program Files\\VIEW.EXE %1",
            "every program's shared folder emptied"),
    refused("quoted_command_is_refused", '"C:\\APPS\\VIEWER\\VIEW.EXE" "%1"',
            "a name with a leading double quote used as a directory"),
    refused("relative_directory_is_refused", "APPS\\VIEWER\\VIEW.EXE %1",
            "a relative name resolved against the current directory and emptied"),
    refused("parent_component_is_refused", "C:\\APPS\\..\\WINDOWS\\VIEW.EXE %1",
            "the Windows directory reached through '..'"),
    refused("command_cut_inside_its_argument_is_refused",
            "C:\\APPS\\VIEWER\\VIEW.EXE /LOG=C:\\TEMP\\V.LOG %1",
            "the cut 'C:\\APPS\\VIEWER\\VIEW.EXE /LOG=C:\\TEMP' used: the colon inside a name "
            "is refused, so neither C:\\TEMP nor the viewer's folder is touched"),
    Scenario("unparsable_registry_is_left_byte_for_byte",
             "a registry that could not be read rewritten, losing what it held",
             "", dict(VIEWER_TREE),
             raw_registry="REGEDIT4\r\n\r\n" + EXTENSION + "this is not a value\r\n\r\n"
             + PROGID + SHELL + OPEN + command(default(VIEW_COMMAND)),
             native_only="registry.reg is the stand-in's own store"),
]
