#include "commands/trim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>

#include "utf8_reference.h"

namespace kel {
namespace {

TEST(TrimTest, TrimsExactlyTheMembersOfTheSetForEveryCodePoint) {
  // The process tests check the set itself against Python's Unicode database; here
  // the lookup and the trimming must agree with it for every code point (an encoded
  // surrogate is not UTF-8, so it is text).
  const auto& set = whitespaceAndNewlines;
  for (char32_t c = 0; c <= 0x10FFFF && !HasFatalFailure(); ++c) {
    const bool member = std::find(set.begin(), set.end(), c) != set.end();
    const std::string e = encodeUtf8(c), inner = "a" + e + "b", text = e + " \t" + inner + "\n" + e, alone = " " + e + "\r\n";
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
