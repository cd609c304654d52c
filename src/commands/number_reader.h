#pragma once
// Reading the number of a "seek" command, in the manner of Foundation's doubleValue.

#include <string_view>

namespace kel {

// The decimal number at the start of text, or 0 when text does not start with one.
// Spaces and tabs before the number are skipped. The longest prefix of this form
// is read: an optional sign, digits with at most one "." among them and at least
// one digit in all, then an optional exponent ("e" or "E", an optional sign,
// digits). "." is the decimal separator whatever the locale. Too large a value
// gives an infinity of its sign, too small a value gives a zero of its sign.
// Note: other leading whitespace, spelled-out infinities and NaN, and
// hexadecimal are not numbers here: "inf" and "nan" read as 0, "0x10" as 0.
double readNumber(std::string_view text);

}  // namespace kel
