#include "commands/utf8.h"

#include <cstdint>

namespace kel {

namespace {

bool isContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

}  // namespace

Decoded decodeUtf8(std::string_view text, std::size_t at) {
  auto lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) return {lead, 1};
  std::size_t length = 0;
  char32_t codePoint = 0;
  char32_t smallest = 0;  // Anything below it is an overlong form.
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    codePoint = lead & 0x1Fu;
    smallest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    codePoint = lead & 0x0Fu;
    smallest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    codePoint = lead & 0x07u;
    smallest = 0x10000;
  } else {
    return {};  // A continuation byte, or a lead byte no valid encoding uses.
  }
  if (text.size() - at < length) return {};
  for (std::size_t i = 1; i < length; ++i) {
    auto byte = static_cast<unsigned char>(text[at + i]);
    if (!isContinuation(byte)) return {};
    codePoint = (codePoint << 6) | (byte & 0x3Fu);
  }
  if (codePoint < smallest || codePoint > 0x10FFFF) return {};
  if (codePoint >= 0xD800 && codePoint <= 0xDFFF) return {};
  return {codePoint, length};
}

Decoded decodeUtf8Before(std::string_view text, std::size_t end) {
  // The lead byte is at most three continuation bytes back.
  std::size_t start = end - 1;
  while (start > 0 && end - start < 4 && isContinuation(static_cast<unsigned char>(text[start]))) --start;
  Decoded decoded = decodeUtf8(text, start);
  if (start + decoded.length != end) return {};
  return decoded;
}

bool isValidUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    std::size_t length = decodeUtf8(text, at).length;
    if (length == 0) return false;
    at += length;
  }
  return true;
}

}  // namespace kel
