#include "output/base64.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "../readback/readback_log.h"
#include "output/json_text.h"

namespace kel {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A plain reference: six bits at a time off a bit queue, "=" to a multiple of four.
std::string reference(const Bytes& bytes) {
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::uint32_t queue = 0;
  int bits = 0;
  for (std::uint8_t byte : bytes) {
    queue = queue << 8 | byte;
    for (bits += 8; bits >= 6; bits -= 6) out += alphabet[queue >> (bits - 6) & 63];
  }
  if (bits > 0) out += alphabet[queue << (6 - bits) & 63];
  while (out.size() % 4 != 0) out += '=';
  return out;
}

std::string escapeSlashes(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '/') out += '\\';
    out += c;
  }
  return out;
}

Bytes bytesOf(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

// Runs body once with each kernel this build offers, made the active one.
template <typename Body>
void forEachKernel(Body body) {
  const Base64Kernel& saved = base64Kernel();
  for (const Base64Kernel* kernel : base64Kernels()) {
    SCOPED_TRACE(kernel->name);
    useBase64Kernel(*kernel);
    body(*kernel);
  }
  useBase64Kernel(saved);
}

// Encodes bytes both ways, checking the promised sizes and that nothing is written
// past them, and compares with the reference.
void expectEncodes(const Bytes& bytes, const std::string& expected) {
  std::vector<char> buffer(2 * base64Size(bytes.size()) + 8, '\x55');
  char* end = encodeBase64(bytes, buffer.data());
  EXPECT_EQ(base64Size(bytes.size()), expected.size());
  ASSERT_EQ(std::string(buffer.data(), end), expected) << bytes.size() << " bytes";
  EXPECT_EQ(buffer[expected.size()], '\x55');

  std::string escaped = escapeSlashes(expected);
  std::fill(buffer.begin(), buffer.end(), '\x55');
  end = encodeBase64Escaped(bytes, buffer.data());
  EXPECT_EQ(base64EscapedSize(bytes), escaped.size());
  ASSERT_EQ(std::string(buffer.data(), end), escaped) << bytes.size() << " bytes";
  EXPECT_EQ(buffer[escaped.size()], '\x55');
}

TEST(Base64Test, EncodesTheRfc4648Vectors) {
  struct Case {
    std::string_view input;
    std::string expected;
  } cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  forEachKernel([&](const Base64Kernel&) {
    for (const Case& c : cases) expectEncodes(bytesOf(c.input), c.expected);
  });
}

TEST(Base64Test, EscapesEverySlashIncludingInPartialGroups) {
  struct Case {
    Bytes input;
    std::string_view expected;
  } cases[] = {
      {{0xFF, 0xFF, 0xFF}, "\\/\\/\\/\\/"},
      {{0xFC}, "\\/A=="},
      {{0x03, 0xF0}, "A\\/A="},
      {{0xFB, 0xFF}, "+\\/8="},
      {{0x00, 0x0F, 0xFF}, "AA\\/\\/"},
  };
  forEachKernel([&](const Base64Kernel&) {
    for (const Case& c : cases) {
      std::string text(base64EscapedSize(c.input), '\0');
      encodeBase64Escaped(c.input, text.data());
      EXPECT_EQ(text, c.expected);
    }
  });
}

TEST(Base64Test, MatchesTheReferenceForEveryLengthAndByteValue) {
  std::mt19937 random(3);
  std::vector<Bytes> inputs;
  for (std::size_t length = 0; length <= 300; ++length) {
    Bytes bytes(length);
    for (auto& byte : bytes) byte = std::uint8_t(random());
    inputs.push_back(bytes);
    // Rich in "/": bytes with most bits set.
    for (auto& byte : bytes) byte |= std::uint8_t(random() | random());
    inputs.push_back(bytes);
  }
  // Every byte value in each of the three places of a group, so every sextet is
  // written from every position.
  Bytes all;
  for (unsigned value = 0; value < 256; ++value) all.push_back(std::uint8_t(value));
  for (std::size_t shift = 0; shift < 3; ++shift) {
    inputs.push_back(all);
    all.insert(all.begin(), 0);
  }
  forEachKernel([&](const Base64Kernel&) {
    for (const Bytes& bytes : inputs) expectEncodes(bytes, reference(bytes));
  });
  // The same texts inside records, as the read-back sees them.
  for (const Bytes& bytes : inputs) {
    Record record;
    record.set("artwork", Base64Text{bytes});
    std::optional<std::string> text = jsonText(record);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, "{\"artwork\":\"" + escapeSlashes(reference(bytes)) + "\"}");
    readback::log("base64_test", record, *text);
  }
}

TEST(Base64Test, OffersTheScalarKernelFirstAndUsesOneItOffers) {
  std::span<const Base64Kernel* const> kernels = base64Kernels();
  ASSERT_FALSE(kernels.empty());
  EXPECT_EQ(kernels[0], &scalarBase64);
  EXPECT_NE(std::find(kernels.begin(), kernels.end(), &base64Kernel()), kernels.end());
}

}  // namespace
}  // namespace kel
