#!/usr/bin/env python3
"""Writes the seed corpus of each fuzz target into corpus/<target>/, one small file
per case, in the input form each target reads (described beside its decoder). The
files are committed; run this again only after changing a form or a case."""

import pathlib
import struct

here = pathlib.Path(__file__).resolve().parent
max_line = 65536
artwork_limit = 4194304


def text(data):
    data = data.encode() if isinstance(data, str) else data
    if len(data) < 255:
        return bytes([len(data)]) + data
    return b"\xff" + struct.pack("<H", len(data)) + data


def u64(value):
    return struct.pack("<Q", value & (2**64 - 1))


def f64(value):
    return struct.pack("<d", value)


# --- handle_command: the line itself.
commands = {
    "play": b"play",
    "padded_play": b"  play \r\n",
    "unicode_spaces": "\u00a0\u3000toggle\u2028\u0085".encode(),
    "zero_width_space": "\u200bplay".encode(),
    "byte_order_mark": "\ufeffnext".encode(),
    "nul_ends_text": b"toggle\0anything",
    "invalid_utf8": b"pause\xff",
    "upper_case": b"Play",
    "previous": b"previous",
    "refresh": b"refresh",
    "seek": b"seek 12.5",
    "seek_spaces": b"seek   1.5e2xyz",
    "seek_tab": b"seek\t12",
    "seek_negative": b"seek -1",
    "seek_negative_zero": b"seek -0",
    "seek_tiny_negative": b"seek -1e-999",
    "seek_huge": b"seek 1e999",
    "seek_inf": b"seek inf",
    "seek_hex": b"seek 0x10",
    "seek_no_break_space": "seek \u00a05".encode(),
    "seek_point": b"seek .",
}

# --- json_text: members, each a name, a kind byte and a value.
def null(name): return text(name) + b"\x00"
def boolean(name, value): return text(name) + b"\x01" + bytes([value])
def integer(name, value): return text(name) + b"\x02" + u64(value)
def real(name, value): return text(name) + b"\x03" + f64(value)
def string(name, value): return text(name) + b"\x04" + text(value)
def base64(name, value): return text(name) + b"\x05" + text(value)

json_text = {
    "every_kind": null("n") + boolean("b", 1) + integer("i", -5) + real("d", 0.5)
    + string("s", 'x/y"\\') + base64("a", b"\x00\x01\x02\x03\x04"),
    "integer_edges": integer("min", -2**63) + integer("max", 2**63 - 1) + integer("zero", 0),
    "real_edges": real("negative zero", -0.0) + real("subnormal", 5e-324)
    + real("largest", 1.7976931348623157e308) + real("fixed", 1e21) + real("tenth", 0.1)
    + real("integral", 123456789012345680.0) + real("above uint64", 9.876543210987654e19),
    "not_finite": real("nan", float("nan")) + real("inf", float("inf")),
    "not_finite_replaced": real("x", float("-inf")) + real("x", 1.0),
    "controls": string("c", bytes(range(0x20)) + b"\x7f"),
    "ill_formed": string("s", b"\xe0\x80|\xed\xa0\x80|\xf4\x90|\xe2\x82|\xc0\xaf|\xff|\xf0\x9f\x8e")
    + string("\xc3/\xff", b"ok"),
    "well_formed": string("s", "\U0001f3b5 \u2028 caf\u00e9 \u00a0".encode()),
    "base64_sizes": base64("0", b"") + base64("1", b"\xff") + base64("2", b"\xff\xfe")
    + base64("3", b"\xff\xff\xff") + base64("4", b"\xfb\xff"),
    "duplicate_names": string("a", "1") + boolean("a", 0) + null("b"),
    "capacity": b"".join(integer(f"m{i}", i) for i in range(18)),
    "long_string": string("s", "/" * 600),
}

# --- line_reader: read sizes, then the stream in pieces.
def reads(*sizes):
    return bytes([len(sizes)]) + b"".join(struct.pack("<I", size - 1)[:3] for size in sizes)

def literal(data):
    data = data.encode() if isinstance(data, str) else data
    return b"".join(bytes([len(data[i:i + 127])]) + data[i:i + 127] for i in range(0, len(data), 127))

def run(char, count):
    return b"\x80" + char.encode() + struct.pack("<I", count)[:3]

line_reader = {
    "lines": reads() + literal("play\nnext\n\nseek 5"),
    "byte_reads": reads(1) + literal(b"a\0b\r\n\nx\n"),
    "at_the_limit": reads(max_line - 1, 1, 7) + run("x", max_line) + literal("\nplay\n"),
    "over_the_limit": reads(4096) + run("y", max_line + 1) + literal("\nnext"),
    "far_over_without_line_feed": reads(max_line + 1, max_line + 2) + run("z", 2 * max_line + 2)
    + literal("\ntoggle"),
    "last_line_at_the_limit": reads(3) + literal("a\n") + run("w", max_line),
    "last_line_over_the_limit": reads() + literal("a\n") + run("v", max_line + 1),
    "line_feeds": reads(2, 5) + run("\n", 300),
}

# --- state_record: publications, each a repeat byte and, when new, the lookup codes,
# their texts, the playing byte and the dictionary.
RESPONDS_NIL, RESPONDS_OBJECT, RESPONDS_STRING, RESPONDS_OTHER = 4, 5, 6, 7
keys = {k: i for i, k in enumerate(
    "title artist album duration elapsed rate timestamp artworkData artworkIdentifier artworkMIME genre".split())}
kinds = {k: i for i, k in enumerate("absent string integer real boolean date bytes other".split())}
specials = {"nan": 0, "inf": 1, "-inf": 2, "-0": 3, "max": 4, "denorm": 5}

def lookup(registered=True, path=RESPONDS_OBJECT, client=RESPONDS_OBJECT, parent=0, bundle=RESPONDS_STRING,
           texts=("com.example.player",)):
    bits = int(registered) | path << 1 | client << 4 | parent << 7 | bundle << 10
    return struct.pack("<H", bits) + b"".join(text(t) for t in texts)

def entry(key, kind, value=None):
    out = bytes([keys[key], kinds[kind]])
    if kind == "string":
        out += text(value)
    elif kind == "integer":
        out += u64(value)
    elif kind in ("real", "date"):
        out += bytes([specials[value]]) if value in specials else b"\x06" + f64(value)
    elif kind == "boolean":
        out += bytes([value])
    elif kind == "bytes":
        out += bytes([value]) if isinstance(value, int) else b"\x03" + text(value)
    return out

def publication(look, playing, entries, repeat=False):
    if repeat:
        return b"\x01"
    if entries is None:
        return b"\x00" + look + bytes([playing, 0])
    return b"\x00" + look + bytes([playing, len(entries) + 1]) + b"".join(entries)

full = [entry("title", "string", "T"), entry("artist", "string", b"A/\xff\xc3"), entry("album", "string", "B"),
        entry("duration", "integer", 337), entry("elapsed", "real", 12.5), entry("rate", "boolean", 1),
        entry("timestamp", "date", 1733594434.625), entry("artworkData", "bytes", b"\x00\x01\x02\x03\x04"),
        entry("artworkMIME", "string", "image/jpeg")]
REPEAT = publication(None, 0, None, repeat=True)

state_record = {
    "full_then_repeat_then_gone": publication(lookup(), 1, full) + REPEAT
    + publication(lookup(registered=False, bundle=0, texts=()), 0, full) + publication(lookup(), 1, full),
    "helper_parent": publication(lookup(parent=RESPONDS_STRING, texts=("com.apple.Music", "com.apple.Music.helper")),
                                 1, [entry("title", "string", "x")]),
    "empty_parent": publication(lookup(parent=RESPONDS_STRING, texts=("", "com.example.b")), 0,
                                [entry("genre", "string", "jazz")]),
    "lookup_failures": publication(lookup(path=RESPONDS_NIL, texts=("b",)), 1, full)
    + publication(lookup(client=RESPONDS_STRING, texts=("c", "b")), 1, full)
    + publication(lookup(bundle=RESPONDS_STRING, texts=("",)), 1, full)
    + publication(lookup(bundle=RESPONDS_OTHER, texts=()), 1, full),
    "bad_values": publication(lookup(), 2, [
        entry("title", "string", ""), entry("artist", "integer", 5), entry("duration", "real", "nan"),
        entry("elapsed", "real", "-inf"), entry("rate", "real", "-0"), entry("timestamp", "date", "inf"),
        entry("album", "other")]),
    "number_kinds": publication(lookup(), 1, [
        entry("duration", "real", "max"), entry("elapsed", "integer", -2**63), entry("rate", "real", "denorm"),
        entry("timestamp", "integer", 1733594434)]),
    "artwork_at_the_limit": publication(lookup(), 1, [
        entry("artworkData", "bytes", 1), entry("artworkIdentifier", "string", ""),
        entry("artworkMIME", "string", "image/png")]) + REPEAT,
    "artwork_over_the_limit": publication(lookup(), 1, [
        entry("title", "string", "T"), entry("artworkData", "bytes", 2)])
    + publication(lookup(), 1, [entry("title", "string", "T"), entry("artworkData", "bytes", 0)]),
    "artwork_empty_and_identity_by_texts": publication(lookup(), 1, [
        entry("artworkData", "bytes", b""), entry("album", "string", "B")])
    + publication(lookup(), 1, [entry("title", "string", "T"), entry("album", "string", "B"),
                                entry("artworkData", "bytes", b"\xff\xff\xff"),
                                entry("artworkIdentifier", "integer", 3)])
    + publication(lookup(), 1, [entry("title", "string", "U"), entry("artworkData", "bytes", b"\xff")]),
    "no_dictionary_and_empty_one": publication(lookup(), 1, None) + publication(lookup(), 1, []),
}

for target, cases in {"handle_command": commands, "json_text": json_text, "line_reader": line_reader,
                      "state_record": state_record}.items():
    folder = here / "corpus" / target
    folder.mkdir(parents=True, exist_ok=True)
    for old in folder.iterdir():
        old.unlink()
    for name, data in cases.items():
        (folder / name).write_bytes(data)
