#include "output/json_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <random>

#include "../readback/readback_log.h"

namespace kel {
namespace {

// The JSON text of value alone, from the record {"v":value}, checked to fill exactly
// its promised size. Logged, so that the read-back also checks it with Python's own
// UTF-8 decoder and JSON parser.
std::string valueText(Value value) {
  Record record;
  record.set("v", value);
  std::string text = jsonText(record).value_or(""), buffer(text.size() + 8, '\x55');
  EXPECT_EQ(jsonTextSize(record).value_or(0), text.size());
  // The room a line is built in: the size itself, but for Base64 text.
  std::size_t room = jsonTextRoom(record).value_or(0);
  if (std::holds_alternative<Base64Text>(value)) {
    EXPECT_GE(room, text.size());
  } else {
    EXPECT_EQ(room, text.size());
  }
  if (!text.empty()) formatJsonText(record, buffer.data());
  EXPECT_TRUE(buffer == text + std::string(8, '\x55')) << "another text, or one past its size";
  readback::log("json_text_test", record, text);
  return text.size() < 6 ? text : text.substr(5, text.size() - 6);
}

// UTF-8 of a scalar value, written from the bit layout of each sequence length.
std::string utf8(char32_t c) {
  auto byte = [](char32_t bits) { return static_cast<char>(bits); };
  auto tail = [&](int shift) { return byte(0x80 | (c >> shift & 63)); };
  if (c < 0x80) return {byte(c)};
  if (c < 0x800) return {byte(0xC0 | c >> 6), tail(0)};
  if (c < 0x10000) return {byte(0xE0 | c >> 12), tail(6), tail(0)};
  return {byte(0xF0 | c >> 18), tail(12), tail(6), tail(0)};
}

TEST(JsonStringTest, WritesEveryScalarValueAsItsUtf8BytesOrItsEscape) {
  // The escapes: two characters where RFC 8259 has them, "/" escaped too, and "\u00XX"
  // for the other control characters.
  const std::string_view shortForms = "\"\\/\b\f\n\r\t", letters = "\"\\/bfnrt";
  std::string all, sample, expected = "\"";
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;  // Surrogates are not scalar values.
    std::size_t at = c < 0x80 ? shortForms.find(char(c)) : shortForms.npos;
    if (at != shortForms.npos) expected += {'\\', letters[at]};
    else expected += c < 0x20 ? "\\u00" + readback::hex(utf8(c)) : utf8(c);
    all += utf8(c);
    if (c < 0x800 || c % 61 == 0) sample += utf8(c);  // Small enough for the read-back.
  }
  std::string text = valueText(std::string_view(all));
  std::size_t same = 0;
  while (same < text.size() && same < expected.size() && text[same] == expected[same]) ++same;
  EXPECT_TRUE(text == expected + '"') << "from byte " << same << ": " << text.substr(same, 32)
                                      << "\nand not: " << expected.substr(same, 32);
  valueText(std::string_view(sample));
}

TEST(JsonStringTest, ReplacesEachMaximalIllFormedSubpartWithOneReplacementCharacter) {
  const std::string r = "\xEF\xBF\xBD";
  const std::pair<std::string, std::string> cases[] = {
      {"\xC0\x80", r + r},                               // An overlong form.
      {"\xED\xA0\x80", r + r + r},                       // A surrogate.
      {"\xF4\x90\x80\x80", r + r + r + r},               // Above U+10FFFF.
      {"a\xF0\x9F\x8E", "a" + r},                        // Cut short at the end.
      {"\xE2\x82\xE2\x82\xAC/", r + "\xE2\x82\xAC\\/"},  // A new lead ends the subpart.
  };
  for (const auto& [input, text] : cases) EXPECT_EQ(valueText(std::string_view(input)), '"' + text + '"');
  // The read-back compares the rest with Python's decoder. Each case follows an "A",
  // which no sequence continues: every pair of bytes, every lead byte before any three
  // boundary bytes, and short random strings rich in lead and continuation bytes.
  const std::string_view edges = "\x7F\x80\x8F\x90\x9F\xA0\xBF\xC0";
  for (unsigned a = 0; a < 256; ++a) {
    std::string pairs, quads;
    for (unsigned b = 0; b < 256; ++b) pairs += {'A', char(a), char(b)};
    for (std::size_t i = 0; a >= 0xC0 && i < 512; ++i)
      quads += {'A', char(a), edges[i % 8], edges[i / 8 % 8], edges[i / 64]};
    valueText(std::string_view(pairs));
    valueText(std::string_view(quads));
  }
  std::mt19937 random(7);
  for (int i = 0; i < 3000; ++i) {
    std::string input(random() % 25, '\0');
    for (char& c : input) c = char(random() | (random() % 256 < 200 ? 0x80 : 0));
    valueText(std::string_view(input));
  }
}

TEST(JsonBase64Test, FitsTheRoomFoundWithoutReadingTheBytesWhateverTheirSlashes) {
  // Bytes of all bits set are Base64 text of "/" only, each written as "\/": the
  // most room a text can take, all of it when no "=" pads it. Then bytes with no
  // "/" at all, and random ones.
  std::mt19937 random(5);
  for (std::size_t n = 0; n < 200; ++n) {
    std::vector<std::uint8_t> full(n, 0xFF), none(n, 0), mixed(n);
    for (auto& byte : mixed) byte = static_cast<std::uint8_t>(random());
    for (const auto* bytes : {&full, &none, &mixed}) {
      Record record;
      record.set("artwork", Base64Text{*bytes});
      std::size_t room = jsonTextRoom(record).value_or(0), size = jsonTextSize(record).value_or(0);
      std::string buffer(room + 8, '\x55');
      char* end = formatJsonText(record, buffer.data());
      EXPECT_EQ(std::size_t(end - buffer.data()), size) << n;
      EXPECT_EQ(buffer.substr(room), std::string(8, '\x55')) << "written past the room, " << n;
      if (bytes == &full && n % 3 == 0) {
        EXPECT_EQ(room, size) << n;
      }
      if (n % 50 == 1) valueText(Base64Text{*bytes});
    }
  }
}

TEST(JsonNumberTest, WritesNumbersThatReadBackExactly) {
  using Limits = std::numeric_limits<double>;
  const std::pair<Value, std::string_view> cases[] = {
      {std::numeric_limits<std::int64_t>::min(), "-9223372036854775808"},
      {-0.0, "-0"}, {215.0, "215"}, {0.1, "0.1"}, {-Limits::denorm_min(), "-5e-324"},
      {Limits::max(), "1.7976931348623157e+308"}, {Limits::min(), "2.2250738585072014e-308"},
  };
  for (const auto& [value, expected] : cases) EXPECT_EQ(valueText(value), expected);
  // Any finite double, subnormals and short decimals included, reads back to the same bits.
  std::mt19937_64 random(11);
  for (int i = 0; i < 10000; ++i) {
    std::uint64_t bits = random() & (i % 4 == 0 ? 0x800FFFFFFFFFFFFFu : ~std::uint64_t{0});
    double value = i % 4 == 1 ? double(bits % 1000000) / 1000.0 : std::bit_cast<double>(bits);
    if (!std::isfinite(value)) continue;
    std::string text = valueText(value);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(std::strtod(text.c_str(), nullptr)),
              std::bit_cast<std::uint64_t>(value)) << text;
  }
}

}  // namespace
}  // namespace kel
