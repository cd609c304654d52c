#include "output/base64.h"

#include <gtest/gtest.h>

#include <random>

namespace kel {
namespace {

// A plain reference: six bits at a time off a bit queue, "=" to a multiple of four.
std::string reference(std::span<const std::uint8_t> bytes) {
  const std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
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

// Encodes bytes with each kernel this build offers, plain and with each "/" as "\/",
// and checks the promised sizes, the texts, and that nothing is written past them.
void expectEncodes(std::span<const std::uint8_t> bytes, const std::string& plain) {
  std::string escaped;
  for (char c : plain) escaped += c == '/' ? std::string("\\/") : std::string(1, c);
  const Base64Kernel& saved = base64Kernel();
  for (const Base64Kernel* kernel : base64Kernels()) {
    useBase64Kernel(*kernel);
    for (bool escape : {false, true}) {
      const std::string& text = escape ? escaped : plain;
      std::string buffer(2 * text.size() + 8, '\x55');
      EXPECT_EQ(escape ? base64EscapedSize(bytes) : base64Size(bytes.size()), text.size());
      char* end = (escape ? encodeBase64Escaped : encodeBase64)(bytes, buffer.data());
      EXPECT_EQ(buffer.substr(0, std::size_t(end - buffer.data())), text) << kernel->name;
      EXPECT_EQ(buffer.find_first_not_of('\x55', text.size()), std::string::npos) << kernel->name;
    }
  }
  useBase64Kernel(saved);
}

TEST(Base64Test, EncodesTheRfc4648VectorsAndEveryLengthAndByteValueAsTheReference) {
  const std::pair<std::string_view, std::string> vectors[] = {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="},
      {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
  for (const auto& [input, text] : vectors) expectEncodes(std::vector<std::uint8_t>(input.begin(), input.end()), text);
  // Every byte value in each of the three places of a group, so every sextet is written
  // from every position; then random bytes, twice of each length up to 300, the second
  // time rich in "/" (bytes with most bits set).
  std::vector<std::vector<std::uint8_t>> inputs(1);
  for (unsigned i = 0; i < 768; ++i) inputs[0].push_back(std::uint8_t(i / 3));
  std::mt19937 random(3);
  for (std::size_t n = 0; n < 602; ++n) {
    for (auto& byte : inputs.emplace_back(n / 2)) byte = std::uint8_t(random() | (n % 2 ? random() | random() : 0));
  }
  for (const auto& bytes : inputs) expectEncodes(bytes, reference(bytes));
}

}  // namespace
}  // namespace kel
