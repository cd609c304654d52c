#include "commands/number_reader.h"

#include <string>

#include "platform/io.h"

namespace kel {

namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

double readNumber(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
  std::size_t start = at;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;

  std::size_t digits = 0;
  bool seenPoint = false;
  for (; at < text.size(); ++at) {
    if (isDigit(text[at])) {
      ++digits;
    } else if (text[at] == '.' && !seenPoint) {
      seenPoint = true;
    } else {
      break;
    }
  }
  if (digits == 0) return 0;

  // The exponent counts only with at least one digit; "5e" and "5e+" read as 5.
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    std::size_t next = at + 1;
    if (next < text.size() && (text[next] == '+' || text[next] == '-')) ++next;
    if (next < text.size() && isDigit(text[next])) {
      while (next < text.size() && isDigit(text[next])) ++next;
      at = next;
    }
  }

  // Only the form checked above reaches strtod, so none of its extensions (other
  // whitespace, "inf", "nan", hexadecimal) can apply. It rounds correctly, and
  // gives an infinity on overflow and a zero or subnormal on underflow.
  std::string number(text.substr(start, at - start));
  return readDecimalInCLocale(number.c_str());
}

}  // namespace kel
