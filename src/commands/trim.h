#pragma once
// Trimming a command line: the whitespace-and-newline characters of Foundation's
// whitespaceAndNewlineCharacterSet, removed from both ends.

#include <array>
#include <string_view>

namespace kel {

// Every code point that trimming removes: Unicode general category Z (Zs, Zl, Zp),
// the controls U+0009 to U+000D, and U+0085. In ascending order.
inline constexpr std::array<char32_t, 25> whitespaceAndNewlines = {
    0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x0020, 0x0085, 0x00A0, 0x1680,
    0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008,
    0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000,
};

bool isWhitespaceOrNewline(char32_t codePoint);

// The part of text (UTF-8) left when every whitespace-and-newline character is
// removed from its start and its end. Bytes that are not valid UTF-8 count as
// text and stop the trimming.
std::string_view trimWhitespace(std::string_view text);

}  // namespace kel
