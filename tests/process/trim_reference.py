"""The whitespace-and-newline set, derived from Python's own Unicode database
rather than from the bridge's table: Unicode general category Z (Zs, Zl, Zp),
the controls U+0009 to U+000D, and U+0085."""

import unicodedata


def whitespace_and_newlines():
    """Every code point of the set, ascending."""
    separators = {c for c in range(0x110000) if unicodedata.category(chr(c)).startswith("Z")}
    return sorted(separators | set(range(0x09, 0x0E)) | {0x85})


def is_surrogate(code_point):
    return 0xD800 <= code_point <= 0xDFFF
