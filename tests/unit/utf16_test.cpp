// UTF-16 code units, as the platform's strings hold them, become UTF-8 text in the
// record's store; an unpaired surrogate becomes U+FFFD.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "text/text_store.h"
#include "text/utf8.h"
#include "utf8_reference.h"

namespace kel {
namespace {

using Units = std::vector<std::uint16_t>;

// The reference UTF-16 encoding of a scalar value.
Units encodeUtf16(char32_t c) {
  if (c < 0x10000) return {static_cast<std::uint16_t>(c)};
  c -= 0x10000;
  return {static_cast<std::uint16_t>(0xD800 + (c >> 10)), static_cast<std::uint16_t>(0xDC00 + (c & 0x3FF))};
}

const std::string replacement = "\xEF\xBF\xBD";

TEST(Utf16Test, ConvertsEveryScalarValue) {
  // Each one alone and between ASCII letters, so that a pair is not read across
  // its neighbours.
  for (char32_t c = 0; c <= 0x10FFFF && !HasFailure(); ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    Units units = encodeUtf16(c);
    ASSERT_EQ(utf8FromUtf16(units), encodeUtf8(c)) << std::hex << unsigned(c);
    units.insert(units.begin(), 'a');
    units.push_back('z');
    ASSERT_EQ(utf8FromUtf16(units), "a" + encodeUtf8(c) + "z") << std::hex << unsigned(c);
  }
}

TEST(Utf16Test, ReplacesEachUnpairedSurrogate) {
  for (std::uint16_t s = 0xD800; s <= 0xDFFF && !HasFailure(); ++s) {
    const bool high = s < 0xDC00;
    // Alone, at either end of a text, and beside a surrogate of its own kind or
    // one in the wrong order: each unpaired half is one U+FFFD.
    ASSERT_EQ(utf8FromUtf16(Units{s}), replacement) << std::hex << s;
    ASSERT_EQ(utf8FromUtf16(Units{'a', s}), "a" + replacement) << std::hex << s;
    ASSERT_EQ(utf8FromUtf16(Units{s, 'a'}), replacement + "a") << std::hex << s;
    ASSERT_EQ(utf8FromUtf16(Units{s, s}), replacement + replacement) << std::hex << s;
    const auto other = static_cast<std::uint16_t>((high ? 0xDC00 : 0xD800) + (s & 0x3FF));
    if (!high) {
      ASSERT_EQ(utf8FromUtf16(Units{s, other}), replacement + replacement) << std::hex << s;
    }
    // A high half whose low half follows is the pair's code point, even after a
    // stray half.
    if (high) {
      char32_t pair = 0x10000 + ((s - 0xD800u) << 10) + (other - 0xDC00u);
      ASSERT_EQ(utf8FromUtf16(Units{s, s, other}), replacement + encodeUtf8(pair)) << std::hex << s;
      ASSERT_EQ(utf8FromUtf16(Units{0xDC00, s, other}), replacement + encodeUtf8(pair)) << std::hex << s;
    }
  }
  EXPECT_EQ(utf8FromUtf16(Units{}), "");
}

TEST(TextStoreTest, KeptTextsStayInPlace) {
  // Short texts live inside the string object itself, so a store that moved its
  // strings would leave the earlier views pointing at freed memory.
  TextStore store;
  std::vector<std::string_view> views;
  for (int i = 0; i < 1000; ++i) {
    if (i % 2 == 0) {
      views.push_back(store.keep(std::to_string(i)));
    } else {
      std::string digits = std::to_string(i);
      views.push_back(store.keepUtf16(Units(digits.begin(), digits.end())));
    }
  }
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(views[i], std::to_string(i));
}

}  // namespace
}  // namespace kel
