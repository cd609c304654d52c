#pragma once
// A reference UTF-8 encoder for the tests, independent of the code under test.

#include <string>

namespace kel {

// The one encoding RFC 3629 gives a code point; numbers beyond are encoded alike.
inline std::string encodeUtf8(char32_t c) {
  if (c < 0x80) return std::string(1, static_cast<char>(c));
  const int tail = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  const unsigned leads[] = {0, 0xC0, 0xE0, 0xF0};
  std::string out(1, static_cast<char>(leads[tail] | (c >> (6 * tail))));
  for (int i = tail - 1; i >= 0; --i) out += static_cast<char>(0x80 | ((c >> (6 * i)) & 0x3F));
  return out;
}

}  // namespace kel
