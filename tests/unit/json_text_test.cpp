#include "output/json_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <unordered_set>
#include <vector>

#include "../readback/readback_log.h"

namespace kel {
namespace {

using namespace std::string_literals;
using Limits = std::numeric_limits<double>;

const std::string replacement = "\xEF\xBF\xBD";

// Formats record into a buffer with guard bytes past the promised size, checks that
// exactly the promised size was written, and hands the line to the read-back.
std::string textOf(const Record& record) {
  std::optional<std::size_t> size = jsonTextSize(record);
  if (!size) {
    ADD_FAILURE() << "the record has no JSON text";
    return {};
  }
  std::vector<char> buffer(*size + 8, '\x55');
  char* end = formatJsonText(record, buffer.data());
  EXPECT_EQ(static_cast<std::size_t>(end - buffer.data()), *size);
  EXPECT_EQ(std::string(buffer.data() + *size, 8), std::string(8, '\x55'));
  std::string text(buffer.data(), *size);
  EXPECT_EQ(jsonText(record), text);
  readback::log("json_text_test", record, text);
  return text;
}

// The JSON text of value alone: the record {"v":value} without its frame.
std::string valueText(Value value) {
  Record record;
  record.set("v", value);
  std::string text = textOf(record);
  if (text.size() < 6) return text;
  return text.substr(5, text.size() - 6);
}

// UTF-8 of a scalar value, written from the bit layout of each sequence length.
std::string utf8(char32_t c) {
  auto byte = [](std::uint32_t bits) { return static_cast<char>(bits); };
  if (c < 0x80) return {byte(c)};
  if (c < 0x800) return {byte(0xC0 | c >> 6), byte(0x80 | (c & 63))};
  if (c < 0x10000) return {byte(0xE0 | c >> 12), byte(0x80 | (c >> 6 & 63)), byte(0x80 | (c & 63))};
  return {byte(0xF0 | c >> 18), byte(0x80 | (c >> 12 & 63)), byte(0x80 | (c >> 6 & 63)),
          byte(0x80 | (c & 63))};
}

bool isSurrogate(char32_t c) {
  return c >= 0xD800 && c <= 0xDFFF;
}

// A character as a JSON string holds it: the two-character escape where RFC 8259
// has one, "/" escaped too, "\u00XX" for the other control characters, and the
// UTF-8 bytes for everything else.
std::string escaped(char32_t c) {
  const std::pair<char32_t, std::string_view> shortForms[] = {
      {'"', "\\\""}, {'\\', "\\\\"}, {'/', "\\/"},  {'\b', "\\b"},
      {'\f', "\\f"}, {'\n', "\\n"},   {'\r', "\\r"}, {'\t', "\\t"},
  };
  for (auto [character, text] : shortForms) {
    if (c == character) return std::string(text);
  }
  if (c >= 0x20) return utf8(c);
  char text[8];
  std::snprintf(text, sizeof text, "\\u%04x", static_cast<unsigned>(c));
  return text;
}

// Where two long texts first differ, for a readable failure.
std::string firstDifference(std::string_view actual, std::string_view expected) {
  auto [a, e] = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
  std::size_t at = std::size_t(a - actual.begin());
  std::size_t from = at < 16 ? 0 : at - 16;
  return "first difference at byte " + std::to_string(at) + ": written \"" +
         std::string(actual.substr(from, 32)) + "\", expected \"" +
         std::string(expected.substr(from, 32)) + '"';
}

TEST(JsonTextTest, WritesCompactObjectsWithMembersInOrder) {
  Record empty;
  Record unavailable;
  unavailable.set("error", std::string_view("unavailable"));
  Record state;
  state.set("bundle", std::string_view("com.example.player"));
  state.set("playing", true);
  state.set("title", std::string_view("AC/DC"));
  state.set("rate", false);
  state.set("elapsed", std::int64_t{-12});
  state.set("duration", 215.5);
  state.set("album", nullptr);
  state.set("a\"b/c", std::string_view("\x1f\n"));
  struct Case {
    const Record& record;
    std::string_view expected;
  } cases[] = {
      {empty, "{}"},
      {unavailable, R"({"error":"unavailable"})"},
      {state, R"({"bundle":"com.example.player","playing":true,"title":"AC\/DC","rate":false,)"
              R"("elapsed":-12,"duration":215.5,"album":null,"a\"b\/c":"\u001f\n"})"},
  };
  for (const Case& c : cases) EXPECT_EQ(textOf(c.record), c.expected);
}

TEST(JsonTextTest, RecordsWithNonFiniteNumbersHaveNoText) {
  for (double bad :
       {Limits::quiet_NaN(), -Limits::quiet_NaN(), Limits::infinity(), -Limits::infinity()}) {
    for (std::size_t position = 0; position < 3; ++position) {
      Record record;
      for (std::size_t i = 0; i < 3; ++i) {
        std::string_view names[] = {"a", "b", "c"};
        record.set(names[i], i == position ? Value(bad) : Value(1.0));
      }
      EXPECT_FALSE(jsonTextSize(record)) << bad << " at " << position;
      EXPECT_FALSE(jsonText(record)) << bad << " at " << position;
    }
  }
}

TEST(JsonStringTest, WritesEveryScalarValueAsItsUtf8Bytes) {
  std::string all;
  std::string expected = "\"";
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (isSurrogate(c)) continue;
    all += utf8(c);
    expected += escaped(c);
  }
  expected += '"';
  std::string text = valueText(std::string_view(all));
  EXPECT_TRUE(text == expected) << firstDifference(text, expected);
}

TEST(JsonStringTest, ReplacesEachMaximalInvalidSubpartWithOneReplacementCharacter) {
  const std::string& r = replacement;
  struct Case {
    std::string input;
    std::string expected;
  } cases[] = {
      {"\x80\xBF", r + r},  // Lone continuation bytes.
      {"\xC0\x80", r + r},  // Overlong forms.
      {"\xE0\x9F\xBF", r + r + r},
      {"\xF0\x8F\xBF\xBF", r + r + r + r},
      {"\xED\xA0\x80", r + r + r},          // A surrogate.
      {"\xF4\x90\x80\x80", r + r + r + r},  // Above U+10FFFF.
      {"\xF5\xFF", r + r},
      {"a\xF0\x9F\x8E", "a" + r},                        // Truncated at the end.
      {"\xE2\x82\xE2\x82\xAC/", r + "\xE2\x82\xAC\\/"},  // A new lead ends the subpart.
  };
  for (const Case& c : cases) {
    EXPECT_EQ(valueText(std::string_view(c.input)), '"' + c.expected + '"');
  }
}

// An independent reference for ill-formed input: the prefixes of every well-formed
// sequence, taken from the encoder above. At each point the longest prefix found
// is either a whole sequence, copied, or the maximal subpart, replaced.
struct Reference {
  std::unordered_set<std::uint64_t> prefixes;
  std::unordered_set<std::uint64_t> whole;

  // The bytes and their count in one number.
  static std::uint64_t key(std::string_view bytes) {
    std::uint64_t packed = std::uint64_t{bytes.size()} << 40;
    for (std::size_t i = 0; i < bytes.size(); ++i)
      packed |= std::uint64_t{std::uint8_t(bytes[i])} << 8 * i;
    return packed;
  }

  Reference() {
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
      if (isSurrogate(c)) continue;
      std::string sequence = utf8(c);
      whole.insert(key(sequence));
      for (std::size_t n = 1; n < sequence.size(); ++n) prefixes.insert(key(sequence.substr(0, n)));
    }
  }

  std::string text(std::string_view input) const {
    std::string out = "\"";
    for (std::size_t i = 0; i < input.size();) {
      std::size_t length = 1;
      bool valid = false;
      for (std::size_t n = 1; n <= 4 && i + n <= input.size(); ++n) {
        std::uint64_t part = key(input.substr(i, n));
        if (whole.count(part)) {
          length = n;
          valid = true;
          break;
        }
        if (!prefixes.count(part)) break;
        length = n;
      }
      if (!valid) {
        out += replacement;
      } else if (length == 1) {
        out += escaped(char32_t(input[i]));
      } else {
        out += input.substr(i, length);
      }
      i += length;
    }
    return out + '"';
  }
};

TEST(JsonStringTest, MatchesTheReferenceOnEveryShortSequence) {
  Reference reference;
  // Each case after an "A", which no sequence can continue, so cases stay apart.
  const std::string edges =
      "\x00\x41\x7F\x80\x8F\x90\x9F\xA0\xBF\xC0\xC2\xDF\xE0\xED\xF0\xF4\xF5\xFF"s;
  std::vector<std::string> groups(3);
  for (unsigned a = 0; a < 256; ++a) {
    for (unsigned b = 0; b < 256; ++b) {
      groups[0] += {'A', char(a), char(b)};  // Every pair.
      // Every triple after the three-byte leads with ranges of their own.
      if (a == 0xE0 || a == 0xE1 || a == 0xED || a == 0xEF) {
        for (unsigned c = 0; c < 256; ++c) groups[1] += {'A', char(a), char(b), char(c)};
      }
    }
    if (a < 0xC0) continue;  // Those bytes stand alone, as the pairs show.
    for (char b : edges) {   // Every lead byte before boundary bytes.
      for (char c : edges) {
        for (char d : edges) groups[2] += {'A', char(a), b, c, d};
      }
    }
  }
  for (const std::string& group : groups) {
    std::string text = valueText(std::string_view(group));
    std::string expected = reference.text(group);
    EXPECT_TRUE(text == expected) << firstDifference(text, expected);
  }
  // Random strings rich in lead and continuation bytes, also read back by Python.
  std::mt19937 random(7);
  std::uniform_int_distribution<int> length(0, 24);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int i = 0; i < 3000; ++i) {
    std::string input(std::size_t(length(random)), '\0');
    for (char& c : input) c = char(byte(random) | (byte(random) < 200 ? 0x80 : 0));
    EXPECT_EQ(valueText(std::string_view(input)), reference.text(input));
  }
}

TEST(JsonNumberTest, WritesIntegersWithoutAFraction) {
  struct Case {
    std::int64_t value;
    std::string_view expected;
  } cases[] = {
      {0, "0"},
      {-1, "-1"},
      {1000000, "1000000"},
      {std::numeric_limits<std::int64_t>::max(), "9223372036854775807"},
      {std::numeric_limits<std::int64_t>::min(), "-9223372036854775808"},
  };
  for (const Case& c : cases) EXPECT_EQ(valueText(c.value), c.expected);
}

// The number grammar of RFC 8259.
bool isJsonNumber(std::string_view text) {
  std::size_t i = 0;
  auto digits = [&] {
    std::size_t start = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    return i - start;
  };
  if (i < text.size() && text[i] == '-') ++i;
  std::size_t start = i;
  std::size_t intDigits = digits();
  if (intDigits == 0 || (intDigits > 1 && text[start] == '0')) return false;
  if (i < text.size() && text[i] == '.' && (++i, digits() == 0)) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (digits() == 0) return false;
  }
  return i == text.size();
}

void expectReadsBack(double value) {
  std::string text = valueText(value);
  ASSERT_TRUE(isJsonNumber(text)) << text;
  double back = std::strtod(text.c_str(), nullptr);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(value)) << text;
}

TEST(JsonNumberTest, WritesDoublesThatReadBackBitExactly) {
  struct Case {
    double value;
    std::string_view expected;  // Empty where any shortest form will do.
  } cases[] = {
      {0.0, "0"},
      {-0.0, "-0"},
      {1.5, "1.5"},
      {0.1, "0.1"},
      {215.0, "215"},
      {1e300, ""},
      {1e-7, ""},
      {1e21, ""},
      {Limits::max(), "1.7976931348623157e+308"},
      {-Limits::max(), "-1.7976931348623157e+308"},
      {Limits::min(), "2.2250738585072014e-308"},  // The least normal double.
      {Limits::min() - Limits::denorm_min(), ""},  // The greatest subnormal.
      {Limits::denorm_min(), "5e-324"},
      {-Limits::denorm_min(), "-5e-324"},
      {9007199254740993.0, ""},
  };
  for (const Case& c : cases) {
    expectReadsBack(c.value);
    if (!c.expected.empty()) {
      EXPECT_EQ(valueText(c.value), c.expected);
    }
  }
  std::mt19937_64 random(11);
  for (int i = 0; i < 40000; ++i) {
    std::uint64_t bits = random();
    if (i % 4 == 0) bits &= 0x800FFFFFFFFFFFFFu;  // A subnormal.
    double value = std::bit_cast<double>(bits);
    if (std::isfinite(value)) expectReadsBack(value);
  }
  for (int i = 0; i < 5000; ++i) expectReadsBack(double(random() % 1000000) / 1000.0);
}

}  // namespace
}  // namespace kel
