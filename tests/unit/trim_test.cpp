#include "commands/trim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>

namespace kel {
namespace {

// UTF-8, in the form RFC 3629 gives each code point.
std::string encode(char32_t c) {
  if (c < 0x80) return std::string(1, static_cast<char>(c));
  const int tail = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  const unsigned leads[] = {0, 0xC0, 0xE0, 0xF0};
  std::string out(1, static_cast<char>(leads[tail] | (c >> (6 * tail))));
  for (int i = tail - 1; i >= 0; --i) out += static_cast<char>(0x80 | ((c >> (6 * i)) & 0x3F));
  return out;
}

TEST(TrimTest, TrimsExactlyTheMembersOfTheSetForEveryCodePoint) {
  // The process tests check the set itself against Python's Unicode database; here
  // the lookup and the trimming must agree with it for every code point (an encoded
  // surrogate is not UTF-8, so it is text).
  const auto& set = whitespaceAndNewlines;
  for (char32_t c = 0; c <= 0x10FFFF && !HasFatalFailure(); ++c) {
    const bool member = std::find(set.begin(), set.end(), c) != set.end();
    const std::string e = encode(c), inner = "a" + e + "b", text = e + " \t" + inner + "\n" + e, alone = " " + e + "\r\n";
    ASSERT_EQ(std::tuple(isWhitespaceOrNewline(c), trimWhitespace(text), trimWhitespace(alone)),
              std::tuple(member, member ? inner : text, member ? "" : e));
  }
}

TEST(TrimTest, BytesThatAreNotUtf8StopTheTrimming) {
  const std::pair<std::string, std::string> cases[] = {
      {"\xFF play ", "\xFF play"},
      {" play \x80", "play \x80"},
      {" \xE3\x80 ", "\xE3\x80"},                // U+3000 cut short.
      {"\xE2\x80\xA8\x80\xE2\x80\xA8", "\x80"},  // U+2028 on either side of a stray byte.
  };
  for (const auto& [text, trimmed] : cases) EXPECT_EQ(trimWhitespace(text), trimmed) << testing::PrintToString(text);
}

}  // namespace
}  // namespace kel
