#!/usr/bin/env python3
"""Reads back every JSON line the unit tests produced, with Python's own parser.

Each file in the folder holds entries of two lines: "E " and the values the line
must hold (see readback_log.h), then "L " and the line exactly as written. Every
line must be one compact JSON object in valid UTF-8, with every "/" escaped, whose
members are the expected ones, in order, with the same values.

Usage: readback.py FOLDER PROGRAM...  (each PROGRAM must have left a file)
"""

import base64
import json
import struct
import sys
from pathlib import Path


class Mismatch(Exception):
    pass


def reject_constant(name):
    raise Mismatch(f"non-JSON constant {name}")


class Members(list):
    """An object's members as (name, value) pairs, in order, duplicates kept."""


def check_raw_text(line):
    """Outside strings there is no whitespace; inside them every "/" is escaped."""
    in_string = False
    escaped = False
    for index, byte in enumerate(line):
        if in_string:
            if escaped:
                escaped = False
            elif byte == 0x5C:
                escaped = True
            elif byte == 0x22:
                in_string = False
            elif byte == 0x2F:
                raise Mismatch(f"unescaped '/' at byte {index}")
        elif byte == 0x22:
            in_string = True
        elif byte in b" \t\r\n":
            raise Mismatch(f"whitespace between tokens at byte {index}")


def check_value(kind, payload, value):
    if kind == "n":
        ok = value is None
    elif kind in ("t", "f"):
        ok = value is (kind == "t")
    elif kind == "i":
        # An integer is written without a fraction or an exponent.
        ok = isinstance(value, tuple) and value[0] == "int" and int(value[1]) == int(payload)
    elif kind == "d":
        expected = struct.unpack(">d", bytes.fromhex(payload))[0]
        ok = (isinstance(value, tuple)
              and struct.pack(">d", float(value[1])) == struct.pack(">d", expected))
    elif kind == "s":
        # Each invalid UTF-8 sequence must have become one U+FFFD, as Python's
        # own decoder replaces them.
        ok = value == bytes.fromhex(payload).decode("utf-8", "replace")
    elif kind == "b":
        source = bytes.fromhex(payload)
        ok = (isinstance(value, str)
              and value == base64.b64encode(source).decode("ascii")
              and base64.b64decode(value, validate=True) == source)
    else:
        raise Mismatch(f"unknown kind {kind!r}")
    if not ok:
        shown = repr(value)
        raise Mismatch(f"kind {kind} expected {payload[:80]!r}, read {shown[:80]}")


def check_entry(expectation, line):
    check_raw_text(line)
    text = line.decode("utf-8")  # Strict: the line must be valid UTF-8.
    members = json.loads(
        text,
        object_pairs_hook=Members,
        parse_int=lambda token: ("int", token),
        parse_float=lambda token: ("float", token),
        parse_constant=reject_constant,
    )
    if not isinstance(members, Members):
        raise Mismatch("the line is not one object")
    expected = [field.split(":", 2) for field in expectation.split()]
    names = [name for name, _ in members]
    expected_names = [bytes.fromhex(name).decode("utf-8", "replace") for name, _, _ in expected]
    if names != expected_names:
        raise Mismatch(f"members {names!r}, expected {expected_names!r}")
    for (_, kind, payload), (_, value) in zip(expected, members):
        check_value(kind, payload, value)


def check_file(path):
    lines = path.read_bytes().split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    if len(lines) % 2:
        raise Mismatch(f"{path.name}: an entry without its line")
    count = 0
    for number in range(0, len(lines), 2):
        head, line = lines[number], lines[number + 1]
        if not head.startswith(b"E ") or not line.startswith(b"L "):
            raise Mismatch(f"{path.name}:{number + 1}: not an entry")
        try:
            check_entry(head[2:].decode("ascii"), line[2:])
        except (Mismatch, ValueError) as error:
            raise Mismatch(f"{path.name}:{number + 2}: {error}") from error
        count += 1
    return count


def main():
    folder = Path(sys.argv[1])
    failed = False
    for program in sys.argv[2:]:
        path = folder / f"{program}.txt"
        try:
            if not path.exists():
                raise Mismatch(f"{path} is missing: run {program} first")
            count = check_file(path)
            if count == 0:
                raise Mismatch(f"{path.name} holds no lines")
            print(f"{path.name}: {count} lines read back")
        except Mismatch as error:
            print(f"FAIL {error}")
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
