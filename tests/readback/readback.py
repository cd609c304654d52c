#!/usr/bin/env python3
"""Usage: readback.py FOLDER PROGRAM...  Reads back the lines the unit tests logged (see
readback_log.h) with Python's json module: each must be one compact object in valid UTF-8,
every "/" escaped, with the logged members in order, invalid UTF-8 as Python decodes it."""

import base64, json, re, struct, sys


class Number(str):  # A number's token as written.
    pass


def problem(expected, line):
    bare = re.sub(rb"\\.", b"", line)  # The line without its escapes.
    if b"/" in bare or re.search(rb"\s", re.sub(rb'"[^"]*"', b"", bare)):
        return "whitespace between tokens, or an unescaped '/'"
    members = json.loads(line.decode(), object_pairs_hook=tuple, parse_int=Number, parse_float=Number)
    fields = [field.split(":") for field in expected.decode().split()]
    if type(members) is not tuple or len(members) != len(fields):
        return f"{members!r:.200} does not hold {len(fields)} members"
    for (name, kind, payload), (key, value) in zip(fields, members):
        raw = bytes.fromhex(payload) if kind in "sb" else b""
        want = {"n": None, "t": True, "f": False, "i": Number(payload), "d": Number(payload),
                "s": raw.decode("utf-8", "replace"), "b": base64.b64encode(raw).decode()}[kind]
        if kind == "d" and type(value) is Number:  # The same bits, from whatever digits.
            value = Number(struct.unpack(">Q", struct.pack(">d", float(value)))[0])
        if key != bytes.fromhex(name).decode("utf-8", "replace") or (type(value), value) != (type(want), want):
            return f"{key!r}: {value!r:.80} is not {kind}:{payload:.80}"


failed = False
for program in sys.argv[2:]:
    entries = open(f"{sys.argv[1]}/{program}.readback", "rb").read().split(b"\n")[:-1]
    for number, entry in enumerate(entries, 1):
        try:
            error = problem(*entry.split(b"\t", 1))
        except (TypeError, ValueError) as exception:
            error = str(exception)
        if error:
            print(f"FAIL {program}.readback:{number}: {error}")
            failed = True
    print(f"{program}.readback: {len(entries)} lines read back")
    failed = failed or not entries
sys.exit(failed)
