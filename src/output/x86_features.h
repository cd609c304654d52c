#pragma once
// Which x86-64 Base64 kernels a processor may run, decided from what detection
// read: CPUID's bits, XCR0 (the register state the OS saves on a context switch;
// without it the upper halves of the vector registers would be lost, or the
// instructions fault), and, where the OS says so itself, its AVX-512 support.
// The decision is plain code, so tests give it any inputs on any processor.

#include <cstdint>
#include <optional>

namespace kel {

// What the x86-64 kernels need, as the processor and the OS allow it.
struct X86Features {
  bool avx2 = false;        // AVX2 and POPCNT; YMM state.
  bool avx512Vbmi = false;  // AVX-512 F, BW, VL and VBMI, and POPCNT; ZMM and opmask state.
  bool avx512Vbmi2 = false; // As avx512Vbmi, and VBMI2 and BMI2.
};

// The AVX-512 features an OS reports for its threads. macOS turns AVX-512 state
// on for a thread at its first AVX-512 instruction, so XCR0 at start-up does not
// show it there: its sysctl values (hw.optional.avx512f and siblings) do.
struct OsAvx512 {
  bool f = false, bw = false, vl = false, vbmi = false, vbmi2 = false;
};

struct X86Detection {
  bool hasLeaf1 = false;
  std::uint32_t leaf1Ecx = 0;
  std::uint32_t maxLeaf = 0;
  std::uint32_t leaf7Ebx = 0, leaf7Ecx = 0;
  std::uint64_t xcr0 = 0;              // Read only when leaf 1 shows OSXSAVE.
  std::optional<OsAvx512> osAvx512;    // Takes the place of XCR0's AVX-512 state.
};

X86Features x86FeaturesFrom(const X86Detection& detected);

// This processor's, read once by the kernel list (x86-64 builds only).
X86Features x86Features();

}  // namespace kel
