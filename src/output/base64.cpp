#include "output/base64.h"

#include <array>
#include <atomic>

#if defined(__x86_64__)
#include "output/base64_x86.h"
#endif

namespace kel {
namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr unsigned slash = 63;  // The sextet written as "/".

// The 24 bits of a whole group of three bytes, first byte highest.
std::uint32_t groupBits(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]};
}

}  // namespace

std::size_t countBase64Slashes(std::span<const std::uint8_t> bytes) {
  const std::uint8_t* p = bytes.data();
  std::size_t whole = bytes.size() / 3 * 3;
  std::size_t count = 0;
  for (std::size_t i = 0; i < whole; i += 3) {
    std::uint32_t bits = groupBits(p + i);
    count += (bits >> 18 == slash) + ((bits >> 12 & 63) == slash) + ((bits >> 6 & 63) == slash) +
             ((bits & 63) == slash);
  }
  // Note: the last sextet of a partial group has zero low bits, so only the
  // sextets taken whole from the bytes can be "/".
  std::size_t rest = bytes.size() - whole;
  if (rest >= 1) count += (p[whole] >> 2) == slash;
  if (rest == 2) count += ((p[whole] & 3u) << 4 | unsigned{p[whole + 1]} >> 4) == slash;
  return count;
}

namespace {

template <bool escapeSlash>
char* put(char* out, std::uint32_t sextet) {
  if (escapeSlash && sextet == slash) *out++ = '\\';
  *out++ = alphabet[sextet];
  return out;
}

template <bool escapeSlash>
char* encodeScalarAs(std::span<const std::uint8_t> bytes, char* out) {
  const std::uint8_t* p = bytes.data();
  std::size_t whole = bytes.size() / 3 * 3;
  for (std::size_t i = 0; i < whole; i += 3) {
    std::uint32_t bits = groupBits(p + i);
    out = put<escapeSlash>(out, bits >> 18);
    out = put<escapeSlash>(out, bits >> 12 & 63);
    out = put<escapeSlash>(out, bits >> 6 & 63);
    out = put<escapeSlash>(out, bits & 63);
  }
  std::size_t rest = bytes.size() - whole;
  if (rest == 0) return out;
  // The missing bytes count as zero bits; "=" stands for each missing byte.
  std::uint32_t bits = std::uint32_t{p[whole]} << 16;
  if (rest == 2) bits |= std::uint32_t{p[whole + 1]} << 8;
  out = put<escapeSlash>(out, bits >> 18);
  out = put<escapeSlash>(out, bits >> 12 & 63);
  *out++ = rest == 2 ? alphabet[bits >> 6 & 63] : '=';
  *out++ = '=';
  return out;
}

char* encodeScalar(std::span<const std::uint8_t> bytes, char* out, bool escapeSlash) {
  return escapeSlash ? encodeScalarAs<true>(bytes, out) : encodeScalarAs<false>(bytes, out);
}

}  // namespace

const Base64Kernel scalarBase64 = {"scalar", encodeScalar};

namespace {

// The kernels this processor runs, slowest first.
struct KernelList {
  std::array<const Base64Kernel*, 4> kernels{};
  std::size_t count = 0;
};

KernelList runnableKernels() {
  KernelList list;
  list.kernels[list.count++] = &scalarBase64;
#if defined(__x86_64__)
  X86Features cpu = x86Features();
  if (cpu.avx2) list.kernels[list.count++] = &avx2Base64;
  if (cpu.avx512Vbmi) list.kernels[list.count++] = &avx512VbmiBase64;
  if (cpu.avx512Vbmi2) list.kernels[list.count++] = &avx512Vbmi2Base64;
#elif defined(__aarch64__)
  list.kernels[list.count++] = &neonBase64;
#endif
  return list;
}

// Chosen once, as the library loads: the fastest kernel is the last listed.
const KernelList kernelList = runnableKernels();

// Note: atomic only so that a test forcing a kernel is no data race; the kernel
// is chosen before any encoding that matters.
std::atomic<const Base64Kernel*> activeKernel{kernelList.kernels[kernelList.count - 1]};

}  // namespace

std::span<const Base64Kernel* const> base64Kernels() {
  return {kernelList.kernels.data(), kernelList.count};
}

const Base64Kernel& base64Kernel() {
  return *activeKernel.load(std::memory_order_relaxed);
}

void useBase64Kernel(const Base64Kernel& kernel) {
  activeKernel.store(&kernel, std::memory_order_relaxed);
}

std::size_t base64EscapedSize(std::span<const std::uint8_t> bytes) {
  return base64Size(bytes.size()) + countBase64Slashes(bytes);
}

char* encodeBase64(std::span<const std::uint8_t> bytes, char* out) {
  return base64Kernel().encode(bytes, out, false);
}

char* encodeBase64Escaped(std::span<const std::uint8_t> bytes, char* out) {
  return base64Kernel().encode(bytes, out, true);
}

}  // namespace kel
