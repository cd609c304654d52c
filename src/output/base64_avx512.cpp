// The AVX-512 kernels: 48 bytes to 64 chars per step, with byte permutes across
// the whole register (vpermb) and a bit-field gather (vpmultishiftqb). The VBMI
// one escapes "/" with the shared 8-char table; the VBMI2 one with vpexpandb,
// which measured over twice as fast on a 4 MiB picture.
// Compiled into every build; only x86-64 ones hold the kernel.
#if defined(__x86_64__)
#include "output/base64_x86.h"

// g++ 12 takes the deliberately undefined pass-through operand of the unmasked
// AVX-512 intrinsics for an uninitialized variable.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace kel {
namespace {

// A step reads 64 bytes and uses 48. Stopping with at least 16 bytes left also
// leaves at least 24 chars for the scalar tail to write over what the escaping
// stores past its chars.
constexpr std::size_t stepBytes = 48;
constexpr std::size_t stepReads = 64;

#define KEL_AVX512 gnu::target("avx512f,avx512bw,avx512vl,avx512vbmi,popcnt")

// The 64 sextets of 48 bytes, one per byte, in text order; only the low six
// bits of each byte are the sextet.
[[KEL_AVX512]] __m512i sextets(const std::uint8_t* p) {
  // Group g's bytes a b c to b a c b in 32-bit word g: read as a word, its
  // sextets then sit at bits 10, 4, 22 and 16.
  alignas(64) static constexpr std::uint8_t order[64] = {1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10, 13, 12,
      14, 13, 16, 15, 17, 16, 19, 18, 20, 19, 22, 21, 23, 22, 25, 24, 26, 25, 28, 27, 29, 28, 31, 30, 32, 31, 34, 33,
      35, 34, 37, 36, 38, 37, 40, 39, 41, 40, 43, 42, 44, 43, 46, 45, 47, 46};
  __m512i words = _mm512_permutexvar_epi8(_mm512_load_si512(order), _mm512_loadu_si512(p));
  // Each byte takes the 8 bits from its shift on within its 64-bit word (the
  // two 32-bit words' shifts, the second's 32 further on).
  const __m512i shifts = _mm512_set1_epi64(0x3036242a1016040a);
  return _mm512_multishift_epi64_epi8(shifts, words);
}

// vpermb reads only the low six bits of each index: the junk above is ignored.
[[KEL_AVX512]] __m512i toChars(__m512i sextets) {
  alignas(64) static constexpr char alphabet[65] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  return _mm512_permutexvar_epi8(sextets, _mm512_load_si512(alphabet));
}

[[KEL_AVX512]] char* encodeAvx512(std::span<const std::uint8_t> bytes, char* out, bool escapeSlash) {
  std::size_t i = 0;
  if (escapeSlash) {
    for (; bytes.size() - i >= stepReads; i += stepBytes) {
      __m512i chars = toChars(sextets(bytes.data() + i));
      std::uint64_t mask = _mm512_cmpeq_epi8_mask(chars, _mm512_set1_epi8('/'));
      out = spreadSixteen(_mm512_castsi512_si128(chars), unsigned(mask & 0xFFFF), out);
      out = spreadSixteen(_mm512_extracti32x4_epi32(chars, 1), unsigned(mask >> 16 & 0xFFFF), out);
      out = spreadSixteen(_mm512_extracti32x4_epi32(chars, 2), unsigned(mask >> 32 & 0xFFFF), out);
      out = spreadSixteen(_mm512_extracti32x4_epi32(chars, 3), unsigned(mask >> 48), out);
    }
  } else {
    for (; bytes.size() - i >= stepReads; i += stepBytes, out += 64) {
      _mm512_storeu_si512(out, toChars(sextets(bytes.data() + i)));
    }
  }
  return scalarBase64.encode(bytes.subspan(i), out, escapeSlash);
}

#define KEL_AVX512_VBMI2 gnu::target("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2,bmi2,popcnt")

// Writes 32 chars (the low half of chars) with a backslash before each "/" (bit
// i of mask set for char i) by one vpexpandb, and returns the end. Stores 64
// bytes, up to 32 past the end.
[[KEL_AVX512_VBMI2]] char* expandThirtyTwo(__m512i chars, std::uint32_t mask, char* out) {
  // Two bits per char, the odd one the char itself, the even one its backslash,
  // kept for a "/" only; pext packs the kept bits into the expansion's mask,
  // clear where a backslash goes.
  constexpr std::uint64_t charBits = 0xAAAAAAAAAAAAAAAA;
  std::uint64_t kept = _pdep_u64(mask, ~charBits) | charBits;
  __mmask64 take = _pext_u64(charBits, kept);
  _mm512_storeu_si512(out, _mm512_mask_expand_epi8(_mm512_set1_epi8('\\'), take, chars));
  return out + 32 + __builtin_popcount(mask);
}

[[KEL_AVX512_VBMI2]] char* encodeAvx512Vbmi2(std::span<const std::uint8_t> bytes, char* out, bool escapeSlash) {
  if (!escapeSlash) return encodeAvx512(bytes, out, false);
  std::size_t i = 0;
  // Leave 24 bytes, 32 chars, for the scalar tail to write over the overshoot.
  for (; bytes.size() - i >= stepBytes + 24; i += stepBytes) {
    __m512i chars = toChars(sextets(bytes.data() + i));
    // Note: the mask goes to a general register whole; clang otherwise moves its
    // halves through the stack into a vector register, a stall on every step.
    std::uint64_t mask = _cvtmask64_u64(_mm512_cmpeq_epi8_mask(chars, _mm512_set1_epi8('/')));
    out = expandThirtyTwo(chars, std::uint32_t(mask), out);
    out = expandThirtyTwo(_mm512_castsi256_si512(_mm512_extracti64x4_epi64(chars, 1)), std::uint32_t(mask >> 32), out);
  }
  return scalarBase64.encode(bytes.subspan(i), out, true);
}

}  // namespace

const Base64Kernel avx512VbmiBase64 = {"avx512vbmi", encodeAvx512};
const Base64Kernel avx512Vbmi2Base64 = {"avx512vbmi2", encodeAvx512Vbmi2};

}  // namespace kel

#endif  // __x86_64__
