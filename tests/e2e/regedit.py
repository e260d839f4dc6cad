"""Reading regedit's text format into keys and values, to compare registries
before and after a run whatever wrote them (the stand-in or Wine's regedit).

`registry_keys_and_values(text)` gives {key path: {value name: (type, data)}}:
- key paths as first written, e.g. "HKEY_CLASSES_ROOT\\Zelvorant\\shell";
  every key above a section counts as present, as regedit creates it on
  import; a key written twice in other letter case is one key;
- value names as written, "" for the default value ("@");
- (1, str) for REG_SZ and (2, str) for REG_EXPAND_SZ, without the
  terminating NUL; (7, tuple of str) for REG_MULTI_SZ; (4, int) for
  REG_DWORD; (type number, bytes) for every other hex value.
Both headers are read, "REGEDIT4" (hex text in the ANSI code page) and
"Windows Registry Editor Version 5.00" (hex text in UTF-16LE); bytes with a
UTF-16 byte-order mark, as regedit exports them, are decoded first.
"""

REGEDIT4 = "REGEDIT4"
VERSION5 = "Windows Registry Editor Version 5.00"

REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ = 1, 2, 3, 4, 7
TEXT_TYPES = (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ)


class RegeditError(ValueError):
    pass


def decode_reg_file(data: bytes) -> str:
    if data.startswith(b"\xff\xfe"):
        return data[2:].decode("utf-16-le")
    if data.startswith(b"\xef\xbb\xbf"):
        return data[3:].decode("utf-8")
    return data.decode("latin-1")


def logical_lines(text: str):
    """Lines with hex continuations (a trailing backslash) joined."""
    pending = ""
    for line in text.replace("\r\n", "\n").split("\n"):
        stripped = line.rstrip()
        if pending:
            stripped = stripped.lstrip()
        if stripped.endswith("\\") and "=hex" in pending + stripped:
            pending += stripped[:-1]
            continue
        yield pending + stripped
        pending = ""
    if pending:
        yield pending


def read_quoted(text: str, start: int):
    """The unescaped text of the literal that opens at `start`, and the index
    after its closing quote."""
    if start >= len(text) or text[start] != '"':
        raise RegeditError("expected a quoted text: %r" % text)
    out, i = [], start + 1
    while i < len(text):
        c = text[i]
        if c == '"':
            return "".join(out), i + 1
        if c == "\\" and i + 1 < len(text) and text[i + 1] in '\\"':
            i += 1
            c = text[i]
        out.append(c)
        i += 1
    raise RegeditError("unterminated text: %r" % text)


def hex_bytes(text: str) -> bytes:
    digits = [d.strip() for d in text.split(",") if d.strip()]
    try:
        return bytes(int(d, 16) for d in digits)
    except ValueError:
        raise RegeditError("bad hex data: %r" % text) from None


def text_of(raw: bytes, version5: bool) -> str:
    return raw.decode("utf-16-le" if version5 else "latin-1")


def typed_hex(kind: int, raw: bytes, version5: bool):
    if kind in (REG_SZ, REG_EXPAND_SZ):
        return text_of(raw, version5).split("\0", 1)[0]
    if kind == REG_MULTI_SZ:
        return tuple(s for s in text_of(raw, version5).split("\0") if s)
    if kind == REG_DWORD and len(raw) == 4:
        return int.from_bytes(raw, "little")
    return raw


def parse_data(data: str, version5: bool):
    if data.startswith('"'):
        text, end = read_quoted(data, 0)
        if data[end:].strip():
            raise RegeditError("text after a string value: %r" % data)
        return REG_SZ, text
    if data.startswith("dword:"):
        return REG_DWORD, int(data[6:], 16)
    if data.startswith("hex:"):
        return REG_BINARY, hex_bytes(data[4:])
    if data.startswith("hex(") and "):" in data:
        kind = int(data[4 : data.index(")")], 16)
        return kind, typed_hex(kind, hex_bytes(data[data.index("):") + 2 :]), version5)
    raise RegeditError("unknown value data: %r" % data)


def parse_value(line: str, version5: bool):
    if line.startswith("@"):
        name, rest = "", line[1:]
    else:
        name, end = read_quoted(line, 0)
        rest = line[end:]
    rest = rest.lstrip()
    if not rest.startswith("="):
        raise RegeditError("expected '=': %r" % line)
    return name, parse_data(rest[1:].strip(), version5)


class Keys:
    """Keys by their path, letter case aside, keeping the first spelling."""

    def __init__(self):
        self.values = {}
        self.spelling = {}

    def add(self, path: str) -> dict:
        names = path.split("\\")
        if any(not n for n in names):
            raise RegeditError("empty key name in %r" % path)
        for depth in range(1, len(names) + 1):
            prefix = self.spelling.get(
                "\\".join(names[: depth - 1]).upper(), "\\".join(names[: depth - 1])
            )
            full = (prefix + "\\" if depth > 1 else "") + names[depth - 1]
            spelled = self.spelling.setdefault(full.upper(), full)
            self.values.setdefault(spelled, {})
        return self.values[self.spelling[path.upper()]]


def registry_keys_and_values(reg_text) -> dict:
    text = decode_reg_file(reg_text) if isinstance(reg_text, bytes) else reg_text
    lines = logical_lines(text)
    header = next(lines, "").strip()
    if header not in (REGEDIT4, VERSION5):
        raise RegeditError("not a regedit file: %r" % header)
    version5 = header == VERSION5
    keys, current = Keys(), None
    for line in lines:
        line = line.strip()
        if not line or line.startswith(";"):
            continue
        if line.startswith("[-"):
            current = None  # a deletion, as regedit imports it: nothing to hold
        elif line.startswith("[") and line.endswith("]"):
            current = keys.add(line[1:-1])
        elif current is None:
            raise RegeditError("value outside a key: %r" % line)
        else:
            name, typed = parse_value(line, version5)
            current[name] = typed
    return keys.values


def without_keys(registry: dict, removed) -> dict:
    """`registry` without the keys in `removed` and every key below them."""
    gone = [r.upper() for r in removed]

    def is_gone(path):
        upper = path.upper()
        return any(upper == g or upper.startswith(g + "\\") for g in gone)

    return {k: v for k, v in registry.items() if not is_gone(k)}
