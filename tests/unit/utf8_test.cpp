#include "commands/utf8.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kel {
namespace {

bool isScalar(char32_t codePoint) {
  return codePoint <= 0x10FFFF && (codePoint < 0xD800 || codePoint > 0xDFFF);
}

// The reference: the one encoding RFC 3629 gives each scalar value.
std::string encode(char32_t codePoint) {
  std::string out;
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (codePoint >> 18));
    out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
  return out;
}

// Whatever the decoder accepts at the start of bytes must be the reference
// encoding of a scalar value.
void expectAcceptedOnlyIfEncoding(const std::string& bytes) {
  Decoded decoded = decodeUtf8(bytes, 0);
  if (decoded.length == 0) return;
  ASSERT_TRUE(isScalar(decoded.codePoint)) << std::hex << static_cast<std::uint32_t>(decoded.codePoint);
  ASSERT_EQ(encode(decoded.codePoint), bytes.substr(0, decoded.length));
}

TEST(Utf8Test, DecodesEveryScalarValueForwardAndBackward) {
  for (char32_t codePoint = 0; codePoint <= 0x10FFFF; ++codePoint) {
    if (!isScalar(codePoint)) continue;
    std::string text = "a" + encode(codePoint);
    Decoded forward = decodeUtf8(text, 1);
    Decoded backward = decodeUtf8Before(text, text.size());
    ASSERT_EQ(forward.codePoint, codePoint);
    ASSERT_EQ(forward.length, text.size() - 1);
    ASSERT_EQ(backward.codePoint, codePoint);
    ASSERT_EQ(backward.length, text.size() - 1);
    ASSERT_TRUE(isValidUtf8(text));
  }
}

TEST(Utf8Test, AcceptsNoSequenceOfUpToThreeBytesThatIsNotAnEncoding) {
  std::string bytes(3, '\0');
  for (unsigned first = 0; first < 256; ++first) {
    bytes.resize(1);
    bytes[0] = static_cast<char>(first);
    expectAcceptedOnlyIfEncoding(bytes);
    for (unsigned second = 0; second < 256; ++second) {
      bytes.resize(2);
      bytes[1] = static_cast<char>(second);
      expectAcceptedOnlyIfEncoding(bytes);
      bytes.resize(3);
      for (unsigned third = 0; third < 256; ++third) {
        bytes[2] = static_cast<char>(third);
        expectAcceptedOnlyIfEncoding(bytes);
      }
    }
  }
}

TEST(Utf8Test, AcceptsNoFourByteSequenceThatIsNotAnEncoding) {
  // Every lead and second byte, with the last two at the edges of the
  // continuation range.
  const unsigned edges[] = {0x00, 0x7F, 0x80, 0xBF, 0xC0, 0xFF};
  std::string bytes(4, '\0');
  for (unsigned first = 0xF0; first < 256; ++first) {
    for (unsigned second = 0; second < 256; ++second) {
      for (unsigned third : edges) {
        for (unsigned fourth : edges) {
          bytes = {static_cast<char>(first), static_cast<char>(second), static_cast<char>(third),
                   static_cast<char>(fourth)};
          expectAcceptedOnlyIfEncoding(bytes);
        }
      }
    }
  }
}

TEST(Utf8Test, TellsValidTextFromInvalid) {
  struct Case {
    std::string text;
    bool valid;
  };
  const std::vector<Case> cases = {
      {"", true},
      {"play", true},
      {"h\xC3\xA9llo \xE3\x80\x80 \xF0\x9F\x8E\xB5", true},
      {"\xEF\xBB\xBFplay", true},      // A byte order mark is a character like any other.
      {"\xEF\xBF\xBF", true},          // U+FFFF: a noncharacter, but valid.
      {"\xC0\xAF", false},             // Overlong "/".
      {"\xE0\x80\xAF", false},         // Overlong "/".
      {"\xF0\x80\x80\xAF", false},     // Overlong "/".
      {"\xED\xA0\x80", false},         // U+D800, a surrogate.
      {"\xED\xBF\xBF", false},         // U+DFFF, a surrogate.
      {"\xF4\x90\x80\x80", false},     // Above U+10FFFF.
      {"\xF8\x88\x80\x80\x80", false}, // Five-byte form.
      {"\xE2\x82", false},             // Cut short at the end.
      {"\xE2\x82play", false},         // Cut short in the middle.
      {"abc\x80", false},              // A stray continuation byte.
      {"\xFF", false},
      {"\xFE", false},
  };
  for (const Case& c : cases) EXPECT_EQ(isValidUtf8(c.text), c.valid) << testing::PrintToString(c.text);
}

TEST(Utf8Test, FindsNoCodePointBeforeABrokenEnd) {
  const std::vector<std::string> cases = {
      "a\x80", "\xE2\x80", "\x80\x80\x80\x80", "\xF0\x9F\x8E", "a\xC3", "\xED\xA0\x80",
  };
  for (const std::string& text : cases) {
    EXPECT_EQ(decodeUtf8Before(text, text.size()).length, 0u) << testing::PrintToString(text);
  }
}

}  // namespace
}  // namespace kel
