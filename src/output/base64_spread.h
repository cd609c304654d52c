#pragma once
// The table with which the vector kernels escape "/", 8 chars at a time: x86's
// pshufb and AArch64's tbl both give a zero byte for the control 0xFF.

#include <array>
#include <cstdint>

namespace kel {

// Entry m is the byte shuffle control that spreads 8 chars (source bytes 0-7) to
// 8 + popcount(m) bytes, a backslash (source byte 8) before each char whose bit
// is set in m. The bytes after those are don't-cares (0xFF: zero).
using SpreadControl = std::array<std::uint8_t, 16>;
constexpr std::array<SpreadControl, 256> makeSlashSpread() {
  std::array<SpreadControl, 256> table{};
  for (unsigned mask = 0; mask < 256; ++mask) {
    unsigned at = 0;
    for (std::uint8_t i = 0; i < 8; ++i) {
      if (mask >> i & 1) table[mask][at++] = 8;
      table[mask][at++] = i;
    }
    while (at < 16) table[mask][at++] = 0xFF;
  }
  return table;
}
alignas(64) inline constexpr std::array<SpreadControl, 256> slashSpread = makeSlashSpread();

}  // namespace kel
