#include "commands/trim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace kel {
namespace {

std::string encode(char32_t codePoint) {
  std::string out;
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
  return out;
}

TEST(TrimTest, LookupAgreesWithTheTableForEveryCodePoint) {
  // The lookup is a binary search; a table out of order would lose members.
  std::size_t members = 0;
  for (char32_t codePoint = 0; codePoint <= 0x10FFFF; ++codePoint) {
    bool listed = std::find(whitespaceAndNewlines.begin(), whitespaceAndNewlines.end(), codePoint) !=
                  whitespaceAndNewlines.end();
    ASSERT_EQ(isWhitespaceOrNewline(codePoint), listed) << std::hex << static_cast<std::uint32_t>(codePoint);
    if (listed) ++members;
  }
  EXPECT_EQ(members, whitespaceAndNewlines.size());
}

TEST(TrimTest, RemovesEveryMemberFromBothEnds) {
  for (char32_t member : whitespaceAndNewlines) {
    std::string space = encode(member);
    SCOPED_TRACE(static_cast<std::uint32_t>(member));
    EXPECT_EQ(trimWhitespace(space + "next" + space), "next");
    EXPECT_EQ(trimWhitespace(space + space + "a b" + space + space), "a b");
    EXPECT_EQ(trimWhitespace(space), "");
  }
}

TEST(TrimTest, TrimsOnlyTheEnds) {
  struct Case {
    std::string text;
    std::string trimmed;
  };
  const std::vector<Case> cases = {
      {"", ""},
      {"play", "play"},
      {"  play \r\n", "play"},
      {"\t\v\f\r\n play", "play"},
      {"seek   12.5\n", "seek   12.5"},
      {"\xE3\x80\x80next\xE2\x80\xA9", "next"},           // U+3000 before, U+2029 after.
      {"\xC2\x85\xC2\xA0play\xE2\x80\xAF\xE2\x81\x9F", "play"},  // U+0085, U+00A0; U+202F, U+205F.
      {"\xE1\x9A\x80" "a\xE2\x80\x8A", "a"},               // U+1680; U+200A.
      {"a \xE3\x80\x80 b", "a \xE3\x80\x80 b"},
      {" \xC3\xA9 ", "\xC3\xA9"},                          // A two-byte letter stays whole.
      {" \xF0\x9F\x8E\xB5 ", "\xF0\x9F\x8E\xB5"},          // A four-byte character stays whole.
      {"\xFF play ", "\xFF play"},                         // A bad byte is not whitespace.
      {" play \x80", "play \x80"},
  };
  for (const Case& c : cases) EXPECT_EQ(trimWhitespace(c.text), c.trimmed) << testing::PrintToString(c.text);
}

TEST(TrimTest, KeepsLookalikesOutsideTheSet) {
  // Format characters, other controls and separators of other categories.
  const char32_t others[] = {
      0x0000, 0x0008, 0x000E, 0x001C, 0x001D, 0x001E, 0x001F, 0x007F, 0x00AD, 0x180E,
      0x200B, 0x200C, 0x200D, 0x2060, 0xFEFF, 0x3164, 0x2800,
  };
  for (char32_t other : others) {
    std::string text = encode(other) + "next" + encode(other);
    EXPECT_EQ(trimWhitespace(text), text) << std::hex << static_cast<std::uint32_t>(other);
  }
}

}  // namespace
}  // namespace kel
