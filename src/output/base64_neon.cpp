// The NEON kernel: 48 bytes to 64 chars per step. Every AArch64 processor has
// these instructions, so the kernel needs no detection.
// Compiled into every build; only arm64 ones hold the kernel.
#if defined(__aarch64__)
#include <arm_neon.h>

#include <array>
#include <bit>

#include "output/base64.h"
#include "output/base64_spread.h"

namespace kel {
namespace {

// Note: the slash mask reads register lanes as one 64-bit number, byte k from
// lanes 8k to 8k + 7, which holds on little-endian AArch64 (Apple's and Linux's)
// only.
static_assert(std::endian::native == std::endian::little);

constexpr std::size_t stepBytes = 48;
// The escaping stores up to 8 bytes past its chars; stopping with at least 6
// bytes left leaves at least 8 chars for the scalar tail to write over them.
constexpr std::size_t escapedTailBytes = 6;

alignas(16) constexpr std::uint8_t alphabet[64] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M',
    'N', 'O', 'P', 'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j',
    'k', 'l', 'm', 'n', 'o', 'p', 'q', 'r', 's', 't', 'u', 'v', 'w', 'x', 'y', 'z', '0', '1', '2', '3', '4', '5', '6',
    '7', '8', '9', '+', '/'};

// The chars of 16 groups (48 bytes): register j holds the j-th char of each
// group. ld3 splits the groups' first, second and third bytes into a register
// each, so each sextet takes a few shifts; tbl with the alphabet in four
// registers maps the sextets to chars.
uint8x16x4_t groupChars(const std::uint8_t* p, const uint8x16x4_t& alphabetTable) {
  uint8x16x3_t in = vld3q_u8(p);
  const uint8x16_t low6 = vdupq_n_u8(63);
  uint8x16_t s0 = vshrq_n_u8(in.val[0], 2);
  uint8x16_t s1 = vandq_u8(vsriq_n_u8(vshlq_n_u8(in.val[0], 4), in.val[1], 4), low6);
  uint8x16_t s2 = vandq_u8(vsriq_n_u8(vshlq_n_u8(in.val[1], 2), in.val[2], 6), low6);
  uint8x16_t s3 = vandq_u8(in.val[2], low6);
  return {{vqtbl4q_u8(alphabetTable, s0), vqtbl4q_u8(alphabetTable, s1), vqtbl4q_u8(alphabetTable, s2),
           vqtbl4q_u8(alphabetTable, s3)}};
}

// The same 64 chars in text order, 16 per register, by two rounds of zips (what
// st4 does on its way to memory).
uint8x16x4_t textOrder(const uint8x16x4_t& c) {
  uint16x8_t t0 = vreinterpretq_u16_u8(vzip1q_u8(c.val[0], c.val[1]));
  uint16x8_t t1 = vreinterpretq_u16_u8(vzip2q_u8(c.val[0], c.val[1]));
  uint16x8_t u0 = vreinterpretq_u16_u8(vzip1q_u8(c.val[2], c.val[3]));
  uint16x8_t u1 = vreinterpretq_u16_u8(vzip2q_u8(c.val[2], c.val[3]));
  return {{vreinterpretq_u8_u16(vzip1q_u16(t0, u0)), vreinterpretq_u8_u16(vzip2q_u16(t0, u0)),
           vreinterpretq_u8_u16(vzip1q_u16(t1, u1)), vreinterpretq_u8_u16(vzip2q_u16(t1, u1))}};
}

// Byte k of the result has bit i set where char 8k + i of the 64 is "/": each
// char's "/" test keeps its own bit, and pairwise additions sum each 8.
std::uint64_t slashMask(const uint8x16x4_t& text) {
  const uint8x16_t bits = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
  const uint8x16_t slash = vdupq_n_u8('/');
  uint8x16_t m0 = vandq_u8(vceqq_u8(text.val[0], slash), bits), m1 = vandq_u8(vceqq_u8(text.val[1], slash), bits);
  uint8x16_t m2 = vandq_u8(vceqq_u8(text.val[2], slash), bits), m3 = vandq_u8(vceqq_u8(text.val[3], slash), bits);
  uint8x16_t sums = vpaddq_u8(vpaddq_u8(m0, m1), vpaddq_u8(m2, m3));
  return vgetq_lane_u64(vreinterpretq_u64_u8(vpaddq_u8(sums, sums)), 0);
}

// Writes the 8 chars in bytes 0-7 of source, which holds backslashes in bytes
// 8-15, with a backslash before each char whose bit is set in mask, and returns
// out + width. Stores 16 bytes, so up to 8 past the end: the caller leaves room
// that later text overwrites.
char* spreadEight(uint8x16_t source, unsigned mask, unsigned width, char* out) {
  uint8x16_t control = vld1q_u8(slashSpread[mask].data());
  vst1q_u8(reinterpret_cast<std::uint8_t*>(out), vqtbl1q_u8(source, control));
  return out + width;
}

char* encodeNeon(std::span<const std::uint8_t> bytes, char* out, bool escapeSlash) {
  const uint8x16x4_t alphabetTable = vld1q_u8_x4(alphabet);
  std::size_t i = 0;
  if (escapeSlash) {
    const uint8x16_t backslashes = vdupq_n_u8('\\');
    for (; bytes.size() - i >= stepBytes + escapedTailBytes; i += stepBytes) {
      uint8x16x4_t text = textOrder(groupChars(bytes.data() + i, alphabetTable));
      std::uint64_t mask = slashMask(text);
      // Each 8 chars take 8 bytes and one more per "/".
      std::uint64_t widths = vget_lane_u64(vreinterpret_u64_u8(vadd_u8(vcnt_u8(vcreate_u8(mask)), vdup_n_u8(8))), 0);
      for (unsigned k = 0; k < 4; ++k) {
        uint8x16_t chars16 = text.val[k];
        unsigned low = 16 * k, high = 16 * k + 8;
        out = spreadEight(vcombine_u8(vget_low_u8(chars16), vget_low_u8(backslashes)), unsigned(mask >> low & 0xFF),
                          unsigned(widths >> low & 0xFF), out);
        out = spreadEight(vextq_u8(chars16, backslashes, 8), unsigned(mask >> high & 0xFF),
                          unsigned(widths >> high & 0xFF), out);
      }
    }
  } else {
    for (; bytes.size() - i >= stepBytes; i += stepBytes, out += 64) {
      vst4q_u8(reinterpret_cast<std::uint8_t*>(out), groupChars(bytes.data() + i, alphabetTable));
    }
  }
  return scalarBase64.encode(bytes.subspan(i), out, escapeSlash);
}

}  // namespace

const Base64Kernel neonBase64 = {"neon", encodeNeon};

}  // namespace kel

#endif  // __aarch64__
