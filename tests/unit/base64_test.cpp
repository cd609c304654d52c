#include "output/base64.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iostream>

#include "output/x86_features.h"
#include "support.h"

namespace kel {
namespace {

// Encodes bytes with every kernel, plain and with each "/" as "\/", into a buffer
// with a sentinel after the text, and compares size and text with the reference.
void expectEncodes(std::span<const std::uint8_t> bytes, const char* what) {
  const std::string plain = test::base64(bytes);
  std::string escaped;
  for (char c : plain) escaped += c == '/' ? std::string("\\/") : std::string(1, c);
  const Base64Kernel& saved = base64Kernel();
  for (const Base64Kernel* kernel : base64Kernels()) {
    useBase64Kernel(*kernel);
    for (bool escape : {false, true}) {
      const std::string& text = escape ? escaped : plain;
      SCOPED_TRACE(testing::Message() << kernel->name << ", " << what << ", " << bytes.size() << " bytes, escape " << escape);
      ASSERT_EQ(escape ? base64EscapedSize(bytes) : base64Size(bytes.size()), text.size());
      std::string buffer(text.size() + 64, '\x55');
      char* end = (escape ? encodeBase64Escaped : encodeBase64)(bytes, buffer.data());
      ASSERT_EQ(std::size_t(end - buffer.data()), text.size());
      ASSERT_TRUE(buffer.compare(0, text.size(), text) == 0);
      ASSERT_EQ(buffer.find_first_not_of('\x55', text.size()), std::string::npos) << "written past the text";
    }
  }
  useBase64Kernel(saved);
}

TEST(Base64Test, EveryKernelWritesTheReferenceTextForEveryLengthUpTo1000) {
  const std::string_view rfc[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
  const char* texts[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
  for (std::size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(test::base64({reinterpret_cast<const std::uint8_t*>(rfc[i].data()), rfc[i].size()}), texts[i]);
  }
  // Every byte value in each place of a group; then random bytes, all bits set (every
  // sextet "/"), and with the bits that would make a "/" cleared (no "/" at all).
  std::vector<std::uint8_t> every(768);
  for (unsigned i = 0; i < 768; ++i) every[i] = std::uint8_t(i / 3);
  expectEncodes(every, "every byte value");
  for (std::size_t n = 0; n <= 1000 && !HasFatalFailure(); ++n) {
    std::vector<std::uint8_t> bytes = test::randomBytes(n, unsigned(n)), slashes(n, 0xFF);
    expectEncodes(bytes, "random");
    ASSERT_EQ(countBase64Slashes(slashes), n / 3 * 4 + (n % 3 > 0) + (n % 3 > 1));
    expectEncodes(slashes, "all \"/\"");
    for (std::size_t i = 0; i < n; ++i) bytes[i] &= i % 3 == 2 ? 0x7E : 0x7F;
    ASSERT_EQ(countBase64Slashes(bytes), 0u);
    expectEncodes(bytes, "no \"/\"");
  }
}

TEST(Base64Test, EveryKernelWritesTheReferenceTextOfLargeBuffers) {
  constexpr std::size_t mebibyte = 1 << 20;
  for (std::size_t size : {std::size_t{65537}, mebibyte + 5, 4 * mebibyte, 4 * mebibyte + 1, 4 * mebibyte + 2}) {
    expectEncodes(test::randomBytes(size, unsigned(size)), "large random");
  }
}

// scripts/test prints this line from the Arm build, to show the NEON kernel ran.
TEST(Base64Test, StartsWithTheFastestKernelThisProcessorRuns) {
  ASSERT_FALSE(base64Kernels().empty());
  EXPECT_EQ(base64Kernels().front(), &scalarBase64);
  EXPECT_EQ(&base64Kernel(), base64Kernels().back()) << base64Kernel().name;
  std::cout << "base64 kernel: " << base64Kernel().name << "\n";
}

// A broken detection would fall back to a slower kernel and every other test would
// still pass; the list must match what Linux reports of the processor.
TEST(Base64Test, ListsTheVectorKernelsThatTheProcessorsFlagsAllow) {
#if defined(__aarch64__)
  ASSERT_EQ(base64Kernels().size(), 2u);  // NEON is part of every AArch64 processor.
  EXPECT_EQ(base64Kernels()[1], &neonBase64);
#elif !defined(__x86_64__) || !defined(__linux__)
  GTEST_SKIP() << "reads x86-64 flags from /proc/cpuinfo";
#else
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string flags;
  while (std::getline(cpuinfo, flags) && flags.rfind("flags", 0) != 0) {}
  flags = flags.substr(flags.find(':') + 1) + " ";
  auto has = [&](std::string flag) { return flags.find(" " + flag + " ") != std::string::npos; };
  auto listed = [](std::string_view name) {
    return std::any_of(base64Kernels().begin(), base64Kernels().end(), [&](auto* kernel) { return kernel->name == name; });
  };
  bool vbmi = has("avx512f") && has("avx512bw") && has("avx512vl") && has("avx512vbmi") && has("popcnt");
  EXPECT_EQ(listed("avx2"), has("avx2") && has("popcnt")) << flags;
  EXPECT_EQ(listed("avx512vbmi"), vbmi) << flags;
  EXPECT_EQ(listed("avx512vbmi2"), vbmi && has("avx512_vbmi2") && has("bmi2")) << flags;
#endif
}

// What XCR0 does not show, macOS's own report does, and a feature missing anywhere
// keeps its kernel out.
TEST(X86FeaturesTest, DecidesFromCpuidXcr0AndTheOsReport) {
  X86Detection all;
  all.hasLeaf1 = true;
  all.leaf1Ecx = 1u << 27 | 1u << 28 | 1u << 23;  // OSXSAVE, AVX, POPCNT.
  all.maxLeaf = 7;
  all.leaf7Ebx = 1u << 5 | 1u << 8 | 1u << 16 | 1u << 30 | 1u << 31;  // AVX2, BMI2, F, BW, VL.
  all.leaf7Ecx = 1u << 1 | 1u << 6;  // VBMI, VBMI2.
  all.xcr0 = 0xE7;
  using Change = std::function<void(X86Detection&)>;
  const std::pair<Change, const char*> cases[] = {
      {[](X86Detection&) {}, "2vV"},
      {[](X86Detection& in) { in.hasLeaf1 = false; }, "---"},
      {[](X86Detection& in) { in.leaf1Ecx &= ~(1u << 27); }, "---"},
      {[](X86Detection& in) { in.leaf1Ecx &= ~(1u << 23); }, "---"},
      {[](X86Detection& in) { in.xcr0 = 0x3; }, "---"},  // No YMM state.
      {[](X86Detection& in) { in.maxLeaf = 6; }, "---"},
      {[](X86Detection& in) { in.xcr0 = 0x7; }, "2--"},  // No ZMM state.
      {[](X86Detection& in) { in.leaf7Ebx &= ~(1u << 30); }, "2--"},
      {[](X86Detection& in) { in.leaf7Ecx &= ~(1u << 6); }, "2v-"},
      {[](X86Detection& in) { in.leaf7Ebx &= ~(1u << 8); }, "2v-"},
      // An Intel Mac at start-up: XCR0 without ZMM state, the OS's report with AVX-512.
      {[](X86Detection& in) { in.xcr0 = 0x7, in.osAvx512 = OsAvx512{true, true, true, true, true}; }, "2vV"},
      {[](X86Detection& in) { in.xcr0 = 0x7, in.osAvx512 = OsAvx512{true, true, true, true, false}; }, "2v-"},
      // The report replaces CPUID's AVX-512 bits.
      {[](X86Detection& in) { in.osAvx512 = OsAvx512{true, true, true, false, true}; }, "2--"},
      {[](X86Detection& in) { in.osAvx512 = OsAvx512{}; }, "2--"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    X86Detection in = all;
    cases[i].first(in);
    X86Features f = x86FeaturesFrom(in);
    EXPECT_EQ(std::string(f.avx2 ? "2" : "-") + (f.avx512Vbmi ? "v" : "-") + (f.avx512Vbmi2 ? "V" : "-"), cases[i].second)
        << "case " << i;
  }
}

}  // namespace
}  // namespace kel
