#pragma once
// The x86-64 Base64 kernels and the helpers their escaping shares. Included only
// where __x86_64__ is defined; each kernel's code is compiled for its own
// instruction set, everything else for baseline x86-64.

#include "output/base64.h"
#include "output/base64_spread.h"
#include "output/x86_features.h"

#include <immintrin.h>

#include <array>

namespace kel {

extern const Base64Kernel avx2Base64;
extern const Base64Kernel avx512VbmiBase64;
extern const Base64Kernel avx512Vbmi2Base64;

// Writes the 8 chars in bytes 0-7 of source, which holds backslashes in bytes
// 8-15, with a backslash before each char whose bit is set in mask; returns the
// end. Stores 16 bytes, so up to 8 past the end: the caller leaves room that
// later text overwrites.
[[gnu::target("avx2,popcnt"), gnu::always_inline]] inline char* spreadEight(__m128i source, unsigned mask,
                                                                           char* out) {
  __m128i control = _mm_load_si128(reinterpret_cast<const __m128i*>(slashSpread[mask].data()));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(source, control));
  return out + 8 + __builtin_popcount(mask);
}

// The same for 16 chars and the 16 bits of mask.
[[gnu::target("avx2,popcnt"), gnu::always_inline]] inline char* spreadSixteen(__m128i chars, unsigned mask,
                                                                             char* out) {
  const __m128i backslashes = _mm_set1_epi8('\\');
  out = spreadEight(_mm_unpacklo_epi64(chars, backslashes), mask & 0xFF, out);
  return spreadEight(_mm_unpackhi_epi64(chars, backslashes), mask >> 8 & 0xFF, out);
}

}  // namespace kel
