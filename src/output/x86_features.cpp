// The x86-64 kernels' detection: the decision for any inputs, and, in x86-64
// builds, the inputs read from this processor.
// Note: cpuid.h and inline xgetbv, not __builtin_cpu_supports, which needs a
// compiler runtime that the macOS link lacks.
#include "output/x86_features.h"

#if defined(__x86_64__)
#include <cpuid.h>

#include "platform/processor.h"
#endif

namespace kel {
namespace {

constexpr std::uint32_t osxsaveBit = 1u << 27, avxBit = 1u << 28, popcntBit = 1u << 23;  // Leaf 1, ecx.
constexpr std::uint32_t avx2Bit = 1u << 5, bmi2Bit = 1u << 8, avx512fBit = 1u << 16,
                        avx512bwBit = 1u << 30, avx512vlBit = 1u << 31;               // Leaf 7, ebx.
constexpr std::uint32_t avx512vbmiBit = 1u << 1, avx512vbmi2Bit = 1u << 6;             // Leaf 7, ecx.
constexpr std::uint64_t ymmState = 0x6;   // XCR0: SSE and AVX state.
constexpr std::uint64_t zmmState = 0xE0;  // XCR0: opmask, ZMM0-15 upper halves, ZMM16-31.

}  // namespace

X86Features x86FeaturesFrom(const X86Detection& in) {
  X86Features features;
  std::uint32_t needed = osxsaveBit | avxBit | popcntBit;
  if (!in.hasLeaf1 || (in.leaf1Ecx & needed) != needed) return features;
  if ((in.xcr0 & ymmState) != ymmState || in.maxLeaf < 7) return features;
  features.avx2 = (in.leaf7Ebx & avx2Bit) != 0;
  bool bmi2 = (in.leaf7Ebx & bmi2Bit) != 0;
  bool avx512 = false, vbmi = false, vbmi2 = false;
  if (in.osAvx512) {
    // The OS's word on AVX-512 replaces both CPUID's and XCR0's.
    const OsAvx512& os = *in.osAvx512;
    avx512 = os.f && os.bw && os.vl;
    vbmi = os.vbmi;
    vbmi2 = os.vbmi2;
  } else {
    avx512 = (in.xcr0 & zmmState) == zmmState && (in.leaf7Ebx & avx512fBit) != 0 &&
             (in.leaf7Ebx & avx512bwBit) != 0 && (in.leaf7Ebx & avx512vlBit) != 0;
    vbmi = (in.leaf7Ecx & avx512vbmiBit) != 0;
    vbmi2 = (in.leaf7Ecx & avx512vbmi2Bit) != 0;
  }
  features.avx512Vbmi = features.avx2 && avx512 && vbmi;
  features.avx512Vbmi2 = features.avx512Vbmi && vbmi2 && bmi2;
  return features;
}

#if defined(__x86_64__)
namespace {

std::uint64_t readXcr0() {
  std::uint32_t low = 0, high = 0;
  __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  return std::uint64_t{high} << 32 | low;
}

}  // namespace

X86Features x86Features() {
  X86Detection in;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  in.hasLeaf1 = __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0;
  in.leaf1Ecx = ecx;
  // xgetbv itself exists only when the OS has turned on XSAVE.
  if (in.hasLeaf1 && (ecx & osxsaveBit) != 0) in.xcr0 = readXcr0();
  in.maxLeaf = __get_cpuid_max(0, nullptr);
  if (in.maxLeaf >= 7) {
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    in.leaf7Ebx = ebx;
    in.leaf7Ecx = ecx;
  }
  in.osAvx512 = osAvx512Support();
  return x86FeaturesFrom(in);
}
#endif

}  // namespace kel
