#include "commands/number_reader.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>

namespace kel {

namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// Far beyond any exponent a double can reach, and far below the overflow of int64.
constexpr std::int64_t exponentCap = 1'000'000'000;

}  // namespace

double readNumber(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }

  // The mantissa. Its decimal scale is the power of ten of its first non-zero
  // digit plus one: 123.4 has 3, 0.05 has -1. It tells an overflow from an
  // underflow when the value is out of range.
  std::size_t mantissaStart = at;
  std::size_t digits = 0;
  bool seenPoint = false;
  bool seenNonZero = false;
  std::int64_t scale = 0;
  for (; at < text.size(); ++at) {
    char c = text[at];
    if (isDigit(c)) {
      ++digits;
      if (c != '0') seenNonZero = true;
      if (!seenPoint && seenNonZero) ++scale;
      if (seenPoint && !seenNonZero) --scale;
    } else if (c == '.' && !seenPoint) {
      seenPoint = true;
    } else {
      break;
    }
  }
  if (digits == 0) return 0;

  // The exponent counts only with at least one digit; "5e" and "5e+" read as 5.
  std::int64_t exponent = 0;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    std::size_t next = at + 1;
    bool negativeExponent = false;
    if (next < text.size() && (text[next] == '+' || text[next] == '-')) {
      negativeExponent = text[next] == '-';
      ++next;
    }
    if (next < text.size() && isDigit(text[next])) {
      for (; next < text.size() && isDigit(text[next]); ++next) {
        if (exponent < exponentCap) exponent = exponent * 10 + (text[next] - '0');
      }
      if (negativeExponent) exponent = -exponent;
      at = next;
    }
  }

  // from_chars reads exactly this form, without the leading sign, and does not
  // depend on the locale.
  double value = 0;
  auto [end, error] = std::from_chars(text.data() + mantissaStart, text.data() + at, value);
  if (error == std::errc::result_out_of_range) {
    value = scale + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (error != std::errc() || end != text.data() + at) {
    value = 0;
  }
  return negative ? -value : value;
}

}  // namespace kel
