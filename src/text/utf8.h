#pragma once
// UTF-8 as RFC 3629 defines it: no overlong forms, no surrogates, nothing above
// U+10FFFF. The JSON writer replaces what is not valid; command lines are accepted
// only when they are valid.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kel {

// One UTF-8 sequence at the start of a text: a well-formed encoding of codePoint,
// or, when valid is false, the maximal subpart of an ill-formed one (the longest
// start of some well-formed sequence, at least one byte), which a writer replaces
// by one U+FFFD.
struct Utf8Sequence {
  char32_t codePoint = 0;
  std::size_t length = 0;
  bool valid = false;
};

// The sequence at the start of text, which is not empty.
Utf8Sequence nextUtf8Sequence(std::string_view text);

// One code point read from UTF-8 text. A length of 0 means that the bytes at that
// position do not begin a valid encoding.
struct Decoded {
  char32_t codePoint = 0;
  std::size_t length = 0;
};

// The code point that starts at byte at (below text.size()).
Decoded decodeUtf8(std::string_view text, std::size_t at);

// The code point that ends at byte end (above 0): the last one of text.substr(0, end).
Decoded decodeUtf8Before(std::string_view text, std::size_t end);

bool isValidUtf8(std::string_view text);

// Appends the UTF-8 encoding of a Unicode scalar value (not a surrogate, at most
// U+10FFFF).
void appendUtf8(char32_t codePoint, std::string& out);

// The UTF-8 text of UTF-16 code units, as a Core Foundation string holds them. A
// surrogate that is not half of a pair, which such strings may hold, becomes U+FFFD.
std::string utf8FromUtf16(std::span<const std::uint16_t> units);

}  // namespace kel
