#include <gtest/gtest.h>

#include <tuple>

#include "support.h"
#include "text/text_store.h"
#include "text/utf8.h"

namespace kel {
namespace {

TEST(Utf8Test, ReadsExactlyTheScalarValues) {
  // Every number the encoding's bit layout holds: surrogates and numbers above U+10FFFF
  // are not UTF-8. Read forwards, backwards after a stray continuation byte, and whole.
  for (char32_t c = 0; c < 0x200000 && !HasFatalFailure(); c += c < 0x110000 ? 1 : 0x1001) {
    const bool scalar = c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
    const std::string e = test::utf8(c), after = "\x80" + e;
    const Decoded forward = decodeUtf8(e, 0), backward = decodeUtf8Before(after, after.size());
    const std::size_t length = scalar ? e.size() : 0;
    ASSERT_EQ(std::tuple(forward.length, backward.length, isValidUtf8(e), isValidUtf8(after)),
              std::tuple(length, length, scalar, false)) << std::hex << unsigned(c);
    if (scalar) { ASSERT_EQ(std::pair(forward.codePoint, backward.codePoint), std::pair(c, c)) << std::hex << unsigned(c); }
  }
  // Overlong forms, the edges of the second byte's range, sequences cut short or broken.
  for (std::string_view bad : {"\xC0\x80", "\xC1\xBF", "\xE0\x9F\xBF", "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80",
                               "\xF5\x80\x80\x80", "\x80", "\xBF", "\xFE", "\xFF", "\xC2", "\xE1\x80", "\xF1\x80\x80",
                               "\xE1\xC0\x80", "\xF1\x80\xC0\x80", "\xC2\xC2\x80\x80"}) {
    EXPECT_EQ(decodeUtf8(bad, 0).length, 0u) << testing::PrintToString(std::string(bad));
    EXPECT_EQ(decodeUtf8Before(bad, bad.size()).length, 0u) << testing::PrintToString(std::string(bad));
    EXPECT_FALSE(isValidUtf8(bad)) << testing::PrintToString(std::string(bad));
  }
}

using Units = std::vector<std::uint16_t>;
const std::string replacement = "\xEF\xBF\xBD";

TEST(Utf16Test, ConvertsEveryScalarValueAndReplacesEachUnpairedSurrogate) {
  for (char32_t c = 0; c <= 0x10FFFF && !HasFatalFailure(); ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    Units units{'a', std::uint16_t(c)};
    if (c >= 0x10000) units = {'a', std::uint16_t(0xD800 + ((c - 0x10000) >> 10)), std::uint16_t(0xDC00 + (c & 0x3FF))};
    units.push_back('z');
    ASSERT_EQ(utf8FromUtf16(units), "a" + test::utf8(c) + "z") << std::hex << unsigned(c);
  }
  for (std::uint16_t s = 0xD800; s <= 0xDFFF && !HasFatalFailure(); ++s) {
    // Alone, at either end, twice, and in the wrong order: each unpaired half is one U+FFFD.
    const bool high = s < 0xDC00;
    const auto other = std::uint16_t((high ? 0xDC00 : 0xD800) + (s & 0x3FF));
    ASSERT_EQ(utf8FromUtf16(Units{s}), replacement) << std::hex << s;
    ASSERT_EQ(utf8FromUtf16(Units{'a', s}), "a" + replacement) << std::hex << s;
    ASSERT_EQ(utf8FromUtf16(Units{s, 'a'}), replacement + "a") << std::hex << s;
    ASSERT_EQ(utf8FromUtf16(Units{s, s}), replacement + replacement) << std::hex << s;
    if (!high) { ASSERT_EQ(utf8FromUtf16(Units{s, other}), replacement + replacement) << std::hex << s; }
    // A high half whose low half follows is the pair's code point, even after a stray half.
    const std::string pair = test::utf8(0x10000 + ((s & 0x3FFu) << 10) + (other & 0x3FFu));
    if (high) { ASSERT_EQ(utf8FromUtf16(Units{0xDC00, s, other}), replacement + pair) << std::hex << s; }
  }
}

TEST(TextStoreTest, KeptTextsStayInPlace) {
  // Short texts live inside the string object itself, so a store that moved its
  // strings would leave the earlier views pointing at freed memory.
  TextStore store;
  std::vector<std::string_view> views;
  for (int i = 0; i < 1000; ++i) {
    std::string digits = std::to_string(i);
    views.push_back(i % 2 == 0 ? store.keep(digits) : store.keepUtf16(Units(digits.begin(), digits.end())));
  }
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(views[std::size_t(i)], std::to_string(i));
}

}  // namespace
}  // namespace kel
