#pragma once
// Base64 text (RFC 4648, section 4: the standard alphabet, "=" padding, no line
// breaks), encoded straight from the source bytes into a caller's buffer.
//
//   std::size_t size = base64EscapedSize(bytes);  // Room for the text, "/" as "\/".
//   char* end = encodeBase64Escaped(bytes, buffer);

#include <cstddef>
#include <cstdint>
#include <span>

namespace kel {

// One implementation of the encoder. Every kernel writes the same text; kernels
// differ only in speed, and the same tests run them all.
struct Base64Kernel {
  const char* name;
  // Writes the Base64 text of bytes to out, each "/" as "\/" when escapeSlash is
  // set, and returns the end of the text.
  char* (*encode)(std::span<const std::uint8_t> bytes, char* out, bool escapeSlash);
};

// The portable kernel, always built.
extern const Base64Kernel scalarBase64;
#if defined(__aarch64__)
// The NEON kernel: every AArch64 processor runs it.
extern const Base64Kernel neonBase64;
#endif

// The kernels this build can run on this processor, the scalar one first and
// the fastest last: on x86-64 those for AVX2, AVX-512 VBMI and AVX-512 VBMI2 that
// the processor has; on arm64 the NEON one.
std::span<const Base64Kernel* const> base64Kernels();

// The kernel that the functions below use. It starts, from the library's load,
// as the fastest one this processor can run.
const Base64Kernel& base64Kernel();
// Makes the functions below use kernel. For tests and benchmarks that force one.
void useBase64Kernel(const Base64Kernel& kernel);

// The length of the Base64 text of byteCount bytes.
constexpr std::size_t base64Size(std::size_t byteCount) {
  return (byteCount + 2) / 3 * 4;
}
// How many "/" the Base64 text of bytes holds. A pass over the bytes, with no
// vector kernel: lines are sized without it (jsonTextRoom), so only the exact
// sizes that tests ask for take it.
std::size_t countBase64Slashes(std::span<const std::uint8_t> bytes);
// The length of the Base64 text of bytes once each "/" is written as "\/".
std::size_t base64EscapedSize(std::span<const std::uint8_t> bytes);

// Write the Base64 text of bytes to out, which has room for base64Size or
// base64EscapedSize chars, and return the end of the text.
char* encodeBase64(std::span<const std::uint8_t> bytes, char* out);
char* encodeBase64Escaped(std::span<const std::uint8_t> bytes, char* out);

}  // namespace kel
