#include "commands/trim.h"

#include <algorithm>

#include "text/utf8.h"

namespace kel {

bool isWhitespaceOrNewline(char32_t codePoint) {
  return std::binary_search(whitespaceAndNewlines.begin(), whitespaceAndNewlines.end(), codePoint);
}

std::string_view trimWhitespace(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size()) {
    Decoded decoded = decodeUtf8(text, start);
    if (decoded.length == 0 || !isWhitespaceOrNewline(decoded.codePoint)) break;
    start += decoded.length;
  }
  std::size_t end = text.size();
  while (end > start) {
    Decoded decoded = decodeUtf8Before(text, end);
    if (decoded.length == 0 || !isWhitespaceOrNewline(decoded.codePoint)) break;
    end -= decoded.length;
  }
  return text.substr(start, end - start);
}

}  // namespace kel
