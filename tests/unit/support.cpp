#include "support.h"

#include <gtest/gtest.h>

#include <future>
#include <random>

namespace kel::test {

std::string utf8(char32_t c) {
  if (c < 0x80) return std::string(1, static_cast<char>(c));
  const int tail = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  const unsigned leads[] = {0, 0xC0, 0xE0, 0xF0};
  std::string out(1, static_cast<char>(leads[tail] | (c >> (6 * tail))));
  for (int i = tail - 1; i >= 0; --i) out += static_cast<char>(0x80 | ((c >> (6 * i)) & 0x3F));
  return out;
}

std::string base64(std::span<const std::uint8_t> bytes) {
  const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
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

std::vector<std::uint8_t> pattern(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i % 251);
  return bytes;
}

std::vector<std::uint8_t> randomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::uint8_t> bytes(size);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
  return bytes;
}

void drain(Queue queue) {
  std::promise<void> done;
  submit(queue, [&] { done.set_value(); });
  ASSERT_EQ(done.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
}

}  // namespace kel::test

// Under the sanitizers a finding ends the test at once, whatever path it takes to its end.
extern "C" const char* __asan_default_options() { return "halt_on_error=1:abort_on_error=1"; }
extern "C" const char* __ubsan_default_options() { return "halt_on_error=1:print_stacktrace=1"; }
extern "C" const char* __tsan_default_options() { return "halt_on_error=1:abort_on_error=1:second_deadlock_stack=1"; }

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
