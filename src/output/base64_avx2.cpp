// The AVX2 kernel: 24 bytes to 32 chars per step, in the two 128-bit lanes.
// Compiled into every build; only x86-64 ones hold the kernel.
#if defined(__x86_64__)
#include "output/base64_x86.h"

namespace kel {
namespace {

// A step reads 28 bytes (two 16-byte loads 12 apart) and uses 24. Stopping with
// at least 4 bytes left also leaves at least 8 chars for the scalar tail to
// write over what the escaping stores past its chars.
constexpr std::size_t stepBytes = 24;
constexpr std::size_t stepReads = 28;

// The 32 sextets of 24 bytes, one per byte, in text order.
[[gnu::target("avx2")]] __m256i sextets(const std::uint8_t* p) {
  __m256i in = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
                                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)), 1);
  // Each group a b c to b a c b: read as a 32-bit word, its sextets then sit at
  // bits 10, 4, 22 and 16.
  in = _mm256_shuffle_epi8(in, _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10, 1, 0, 2, 1, 4, 3,
                                                5, 4, 7, 6, 8, 7, 10, 9, 11, 10));
  // mulhi by 2^6 and 2^10 shifts sextets 0 and 2 down to bytes 0 and 2; mullo by
  // 2^4 and 2^8 shifts sextets 1 and 3 up to bytes 1 and 3.
  __m256i first = _mm256_mulhi_epu16(_mm256_and_si256(in, _mm256_set1_epi32(0x0FC0FC00)),
                                     _mm256_set1_epi32(0x04000040));
  __m256i second = _mm256_mullo_epi16(_mm256_and_si256(in, _mm256_set1_epi32(0x003F03F0)),
                                      _mm256_set1_epi32(0x01000010));
  return _mm256_or_si256(first, second);
}

// Sextets to chars by adding the offset of their range of the alphabet: 0-25
// pick entry 13, 26-51 entry 0, 52-63 entries 1-12 (by saturating subtraction).
[[gnu::target("avx2")]] __m256i toChars(__m256i sextets) {
  __m256i range = _mm256_subs_epu8(sextets, _mm256_set1_epi8(51));
  __m256i upper = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), sextets);
  range = _mm256_or_si256(range, _mm256_and_si256(upper, _mm256_set1_epi8(13)));
  const __m256i offsets = _mm256_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                           '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0,
                                           'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                           '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
  return _mm256_add_epi8(sextets, _mm256_shuffle_epi8(offsets, range));
}

[[gnu::target("avx2")]] unsigned slashMask(__m256i sextets) {
  return unsigned(_mm256_movemask_epi8(_mm256_cmpeq_epi8(sextets, _mm256_set1_epi8(63))));
}

[[gnu::target("avx2,popcnt")]] char* encodeAvx2(std::span<const std::uint8_t> bytes, char* out, bool escapeSlash) {
  std::size_t i = 0;
  if (escapeSlash) {
    for (; bytes.size() - i >= stepReads; i += stepBytes) {
      __m256i s = sextets(bytes.data() + i);
      __m256i chars = toChars(s);
      unsigned mask = slashMask(s);
      out = spreadSixteen(_mm256_castsi256_si128(chars), mask & 0xFFFF, out);
      out = spreadSixteen(_mm256_extracti128_si256(chars, 1), mask >> 16, out);
    }
  } else {
    for (; bytes.size() - i >= stepReads; i += stepBytes, out += 32) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), toChars(sextets(bytes.data() + i)));
    }
  }
  return scalarBase64.encode(bytes.subspan(i), out, escapeSlash);
}

}  // namespace

const Base64Kernel avx2Base64 = {"avx2", encodeAvx2};

}  // namespace kel

#endif  // __x86_64__
