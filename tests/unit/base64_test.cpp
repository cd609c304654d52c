#include "output/base64.h"
#include "output/x86_features.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

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

// Encodes bytes with every kernel forced in turn, plain and escaped, into buffers
// with a sentinel after the room promised, and compares with the scalar kernel.
void expectMatchesScalar(std::span<const std::uint8_t> bytes) {
  const Base64Kernel& saved = base64Kernel();
  for (bool escape : {false, true}) {
    useBase64Kernel(scalarBase64);
    std::size_t size = escape ? base64EscapedSize(bytes) : base64Size(bytes.size());
    std::string expected(size, '\0');
    char* end = (escape ? encodeBase64Escaped : encodeBase64)(bytes, expected.data());
    ASSERT_EQ(std::size_t(end - expected.data()), size);
    for (const Base64Kernel* kernel : base64Kernels()) {
      useBase64Kernel(*kernel);
      ASSERT_EQ(escape ? base64EscapedSize(bytes) : base64Size(bytes.size()), size) << kernel->name;
      std::string buffer(size + 64, '\x55');
      end = (escape ? encodeBase64Escaped : encodeBase64)(bytes, buffer.data());
      EXPECT_EQ(std::size_t(end - buffer.data()), size) << kernel->name << " " << bytes.size();
      EXPECT_TRUE(buffer.compare(0, size, expected) == 0) << kernel->name << " " << bytes.size() << " " << escape;
      EXPECT_EQ(buffer.find_first_not_of('\x55', size), std::string::npos) << kernel->name << " " << bytes.size();
    }
  }
  useBase64Kernel(saved);
}

std::vector<std::uint8_t> randomBytes(std::size_t size, std::mt19937& random) {
  std::vector<std::uint8_t> bytes(size);
  for (auto& byte : bytes) byte = std::uint8_t(random());
  return bytes;
}

TEST(Base64Test, EveryKernelWritesWhatTheScalarOneDoesForEveryLengthUpTo1000) {
  std::mt19937 random(7);
  for (std::size_t n = 0; n <= 1000; ++n) {
    std::vector<std::uint8_t> bytes = randomBytes(n, random);
    expectMatchesScalar(bytes);
    // All bits set: every sextet is "/".
    std::vector<std::uint8_t> slashes(n, 0xFF);
    ASSERT_EQ(countBase64Slashes(slashes), n / 3 * 4 + (n % 3 > 0) + (n % 3 > 1));
    expectMatchesScalar(slashes);
    // The bits that would make a "/" cleared: no sextet of a whole group has six
    // set bits once the top bit of each byte and the low bit of each third byte
    // are clear.
    for (std::size_t i = 0; i < n; ++i) bytes[i] &= i % 3 == 2 ? 0x7E : 0x7F;
    ASSERT_EQ(countBase64Slashes(bytes), 0u);
    expectMatchesScalar(bytes);
  }
}

TEST(Base64Test, EveryKernelWritesWhatTheScalarOneDoesForLargeRandomBuffers) {
  std::mt19937 random(11);
  constexpr std::size_t mebibyte = 1 << 20;
  for (std::size_t size : {std::size_t{65537}, mebibyte + 5, 4 * mebibyte - 1, 4 * mebibyte, 4 * mebibyte + 1,
                           4 * mebibyte + 2}) {
    expectMatchesScalar(randomBytes(size, random));
  }
}

TEST(Base64Test, StartsWithTheFastestKernelThisProcessorRuns) {
  ASSERT_FALSE(base64Kernels().empty());
  EXPECT_EQ(base64Kernels().front(), &scalarBase64);
  EXPECT_EQ(&base64Kernel(), base64Kernels().back()) << base64Kernel().name;
  std::cout << "base64 kernel: " << base64Kernel().name << "\n";
}

// A broken detection would fall back to a slower kernel and every other test
// would still pass; the kernel list must match what Linux reports of the processor.
TEST(Base64Test, ListsTheVectorKernelsThatTheProcessorsFlagsAllow) {
#if defined(__aarch64__)
  // NEON is part of every AArch64 processor: no flag decides it.
  ASSERT_EQ(base64Kernels().size(), 2u);
  EXPECT_EQ(base64Kernels()[1], &neonBase64);
#elif !defined(__x86_64__) || !defined(__linux__)
  GTEST_SKIP() << "reads x86-64 flags from /proc/cpuinfo";
#else
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line, flags;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("flags", 0) == 0) {
      flags = line.substr(line.find(':') + 1) + " ";
      break;
    }
  }
  auto has = [&](const char* flag) { return flags.find(" " + std::string(flag) + " ") != std::string::npos; };
  auto listed = [](std::string_view name) {
    return std::any_of(base64Kernels().begin(), base64Kernels().end(),
                       [&](const Base64Kernel* kernel) { return kernel->name == name; });
  };
  EXPECT_EQ(listed("avx2"), has("avx2") && has("popcnt")) << flags;
  bool vbmi = has("avx512f") && has("avx512bw") && has("avx512vl") && has("avx512vbmi") && has("popcnt");
  EXPECT_EQ(listed("avx512vbmi"), vbmi) << flags;
  EXPECT_EQ(listed("avx512vbmi2"), vbmi && has("avx512_vbmi2") && has("bmi2")) << flags;
#endif
}

}  // namespace
}  // namespace kel

namespace kel {
namespace {

// The choice from faked detection inputs: what XCR0 does not show, macOS's own
// report does, and a feature missing anywhere keeps its kernel out.
TEST(X86FeaturesTest, DecidesFromCpuidXcr0AndTheOsReport) {
  X86Detection all;
  all.hasLeaf1 = true;
  all.leaf1Ecx = 1u << 27 | 1u << 28 | 1u << 23;
  all.maxLeaf = 7;
  all.leaf7Ebx = 1u << 5 | 1u << 8 | 1u << 16 | 1u << 30 | 1u << 31;
  all.leaf7Ecx = 1u << 1 | 1u << 6;
  all.xcr0 = 0xE7;
  auto features = [](const X86Detection& in) {
    X86Features f = x86FeaturesFrom(in);
    return std::string(f.avx2 ? "2" : "-") + (f.avx512Vbmi ? "v" : "-") + (f.avx512Vbmi2 ? "V" : "-");
  };
  auto with = [&](auto change) {
    X86Detection in = all;
    change(in);
    return features(in);
  };
  EXPECT_EQ(features(all), "2vV");
  EXPECT_EQ(with([](X86Detection& in) { in.hasLeaf1 = false; }), "---");
  EXPECT_EQ(with([](X86Detection& in) { in.leaf1Ecx &= ~(1u << 27); }), "---");  // No OSXSAVE.
  EXPECT_EQ(with([](X86Detection& in) { in.leaf1Ecx &= ~(1u << 23); }), "---");  // No POPCNT.
  EXPECT_EQ(with([](X86Detection& in) { in.xcr0 = 0x3; }), "---");               // No YMM state.
  EXPECT_EQ(with([](X86Detection& in) { in.maxLeaf = 6; }), "---");
  EXPECT_EQ(with([](X86Detection& in) { in.xcr0 = 0x7; }), "2--");               // No ZMM state.
  EXPECT_EQ(with([](X86Detection& in) { in.leaf7Ebx &= ~(1u << 30); }), "2--");  // No AVX-512 BW.
  EXPECT_EQ(with([](X86Detection& in) { in.leaf7Ecx &= ~(1u << 6); }), "2v-");  // No VBMI2.
  EXPECT_EQ(with([](X86Detection& in) { in.leaf7Ebx &= ~(1u << 8); }), "2v-");  // No BMI2.
  // An Intel Mac at start-up: XCR0 without ZMM state, the OS's report with AVX-512.
  EXPECT_EQ(with([](X86Detection& in) {
              in.xcr0 = 0x7;
              in.osAvx512 = OsAvx512{true, true, true, true, true};
            }),
            "2vV");
  EXPECT_EQ(with([](X86Detection& in) {
              in.xcr0 = 0x7;
              in.osAvx512 = OsAvx512{true, true, true, true, false};
            }),
            "2v-");
  // The report replaces CPUID's AVX-512 bits: no VBMI reported, no VBMI kernel.
  EXPECT_EQ(with([](X86Detection& in) { in.osAvx512 = OsAvx512{true, true, true, false, true}; }), "2--");
  EXPECT_EQ(with([](X86Detection& in) { in.osAvx512 = OsAvx512{}; }), "2--");
}

}  // namespace
}  // namespace kel
