// What the x86-64 kernels may use: the processor's CPUID bits, and XCR0 for the
// registers the OS saves on a context switch (without that the upper halves of
// the vector registers would be lost, or the instructions fault).
// Note: cpuid.h and inline xgetbv, not __builtin_cpu_supports, which needs a
// compiler runtime that the macOS link lacks.
#include "output/base64_x86.h"

#include <cpuid.h>

namespace kel {
namespace {

constexpr unsigned osxsaveBit = 1u << 27, avxBit = 1u << 28, popcntBit = 1u << 23;  // Leaf 1, ecx.
constexpr unsigned avx2Bit = 1u << 5, bmi2Bit = 1u << 8, avx512fBit = 1u << 16, avx512bwBit = 1u << 30,
                   avx512vlBit = 1u << 31;                                            // Leaf 7, ebx.
constexpr unsigned avx512vbmiBit = 1u << 1, avx512vbmi2Bit = 1u << 6;                 // Leaf 7, ecx.
constexpr std::uint64_t ymmState = 0x6;    // XCR0: SSE and AVX state.
constexpr std::uint64_t zmmState = 0xE0;   // XCR0: opmask, ZMM0-15 upper halves, ZMM16-31.

std::uint64_t readXcr0() {
  std::uint32_t low = 0, high = 0;
  __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  return std::uint64_t{high} << 32 | low;
}

}  // namespace

X86Features x86Features() {
  X86Features features;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return features;
  // xgetbv itself exists only when the OS has turned on XSAVE.
  if ((ecx & osxsaveBit) == 0 || (ecx & avxBit) == 0 || (ecx & popcntBit) == 0) return features;
  std::uint64_t xcr0 = readXcr0();
  if ((xcr0 & ymmState) != ymmState || __get_cpuid_max(0, nullptr) < 7) return features;
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  features.avx2 = (ebx & avx2Bit) != 0;
  bool avx512 = features.avx2 && (xcr0 & zmmState) == zmmState && (ebx & avx512fBit) != 0 &&
                (ebx & avx512bwBit) != 0 && (ebx & avx512vlBit) != 0;
  features.avx512Vbmi = avx512 && (ecx & avx512vbmiBit) != 0;
  features.avx512Vbmi2 = features.avx512Vbmi && (ecx & avx512vbmi2Bit) != 0 && (ebx & bmi2Bit) != 0;
  return features;
}

}  // namespace kel
