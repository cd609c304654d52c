#include "text/utf8.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "utf8_reference.h"

namespace kel {
namespace {

// The length of the well-formed sequence at the start of bytes, or 0, after the
// Unicode standard's table of well-formed byte sequences: the lead byte gives the
// length and the range of the second byte; later bytes lie in 80..BF.
std::size_t wellFormedLength(std::string_view bytes) {
  auto at = [&](std::size_t i) { return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0u; };
  const unsigned lead = at(0);
  if (lead < 0x80) return bytes.empty() ? 0 : 1;
  const std::size_t length = lead < 0xC2 ? 0 : lead <= 0xDF ? 2 : lead <= 0xEF ? 3 : lead <= 0xF4 ? 4 : 0;
  const unsigned low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
  const unsigned high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
  const bool rest = (length < 3 || (at(2) & 0xC0) == 0x80) && (length < 4 || (at(3) & 0xC0) == 0x80);
  return length > 0 && at(1) >= low && at(1) <= high && rest ? length : 0;
}

// Compares the three readers with the references on bytes.
void check(std::string_view b) {
  std::size_t before = 0, at = 0, n = 0;  // The sequence that ends b; how far b is well formed.
  for (std::size_t k = 1; k <= 4 && k <= b.size(); ++k) before = wellFormedLength(b.substr(b.size() - k)) == k ? k : before;
  while (at < b.size() && (n = wellFormedLength(b.substr(at))) > 0) at += n;
  const Decoded forward = decodeUtf8(b, 0), backward = decodeUtf8Before(b, b.size());
  auto shown = [&] { return testing::PrintToString(std::string(b)); };
  ASSERT_EQ(forward.length, wellFormedLength(b)) << shown();
  ASSERT_EQ(backward.length, before) << shown();
  ASSERT_EQ(isValidUtf8(b), at == b.size()) << shown();
  if (forward.length > 0) { ASSERT_EQ(encodeUtf8(forward.codePoint), b.substr(0, forward.length)) << shown(); }
  if (backward.length > 0) { ASSERT_EQ(encodeUtf8(backward.codePoint), b.substr(b.size() - before)) << shown(); }
}

TEST(Utf8Test, ReadsExactlyTheWellFormedSequences) {
  // Every code point, alone and after a stray continuation byte; every string of
  // up to three bytes; every four-byte string whose last two bytes lie at the edges
  // of the continuation range.
  const unsigned char edges[] = {0x00, 0x7F, 0x80, 0xBF, 0xC0, 0xFF};
  char b[4];
  for (std::uint32_t n = 0; n < (1u << 24) && !HasFatalFailure(); ++n) {
    check(encodeUtf8(n));
    check("\x80" + encodeUtf8(n));
    for (int i = 0; i < 3; ++i) b[i] = static_cast<char>(n >> (16 - 8 * i));
    check({b, 3});
    if ((n & 0xFF) != 0) continue;
    check({b, 1});
    check({b, 2});
    for (int e = 0; e < 36; ++e) {
      b[2] = static_cast<char>(edges[e / 6]);
      b[3] = static_cast<char>(edges[e % 6]);
      check({b, 4});
    }
  }
}

}  // namespace
}  // namespace kel
