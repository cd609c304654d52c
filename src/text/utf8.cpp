#include "text/utf8.h"

namespace kel {

// The ranges follow the table of well-formed UTF-8 byte sequences in the Unicode
// standard: the lead byte gives the length and the range of the second byte; later
// bytes lie in 80..BF.
Utf8Sequence nextUtf8Sequence(std::string_view text) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned lead = byte(0);
  std::size_t following;
  unsigned low = 0x80;
  unsigned high = 0xBF;
  if (lead < 0x80) {
    return {lead, 1, true};
  } else if (lead < 0xC2) {
    return {0, 1, false};
  } else if (lead < 0xE0) {
    following = 1;
  } else if (lead < 0xF0) {
    following = 2;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead < 0xF5) {
    following = 3;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {0, 1, false};
  }
  char32_t codePoint = lead & (0x3Fu >> following);
  for (std::size_t i = 1; i <= following; ++i) {
    if (i == text.size() || byte(i) < low || byte(i) > high) return {0, i, false};
    codePoint = (codePoint << 6) | (byte(i) & 0x3Fu);
    low = 0x80;
    high = 0xBF;
  }
  return {codePoint, following + 1, true};
}

Decoded decodeUtf8(std::string_view text, std::size_t at) {
  Utf8Sequence sequence = nextUtf8Sequence(text.substr(at));
  if (!sequence.valid) return {};
  return {sequence.codePoint, sequence.length};
}

Decoded decodeUtf8Before(std::string_view text, std::size_t end) {
  // The lead byte is at most three continuation bytes back.
  std::size_t start = end - 1;
  while (start > 0 && end - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
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

void appendUtf8(char32_t codePoint, std::string& out) {
  auto put = [&](unsigned byte) { out.push_back(static_cast<char>(byte)); };
  if (codePoint < 0x80) {
    put(codePoint);
  } else if (codePoint < 0x800) {
    put(0xC0 | (codePoint >> 6));
    put(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    put(0xE0 | (codePoint >> 12));
    put(0x80 | ((codePoint >> 6) & 0x3F));
    put(0x80 | (codePoint & 0x3F));
  } else {
    put(0xF0 | (codePoint >> 18));
    put(0x80 | ((codePoint >> 12) & 0x3F));
    put(0x80 | ((codePoint >> 6) & 0x3F));
    put(0x80 | (codePoint & 0x3F));
  }
}

std::string utf8FromUtf16(std::span<const std::uint16_t> units) {
  auto isHigh = [](char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; };
  auto isLow = [](char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; };
  std::string out;
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t unit = units[i];
    if (isHigh(unit) && i + 1 < units.size() && isLow(units[i + 1])) {
      appendUtf8(0x10000 + ((unit - 0xD800) << 10) + (units[++i] - 0xDC00), out);
    } else if (isHigh(unit) || isLow(unit)) {
      appendUtf8(0xFFFD, out);
    } else {
      appendUtf8(unit, out);
    }
  }
  return out;
}

}  // namespace kel
