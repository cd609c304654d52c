#include "sim/cover_image.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace kel::sim {
namespace {

constexpr std::array<std::uint32_t, 256> crcTable = [] {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}();

// The most bytes one stored deflate block can hold.
constexpr std::size_t maxStoredBlock = 65535;

void appendBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void appendChunk(std::vector<std::uint8_t>& png, std::string_view type, std::span<const std::uint8_t> data) {
  appendBigEndian(png, static_cast<std::uint32_t>(data.size()));
  std::size_t typeAt = png.size();
  png.insert(png.end(), type.begin(), type.end());
  png.insert(png.end(), data.begin(), data.end());
  // The chunk's CRC covers its type and its data, not its length.
  appendBigEndian(png, crc32(std::span(png).subspan(typeAt)));
}

// A zlib stream holding raw in stored (uncompressed) blocks.
std::vector<std::uint8_t> storedZlib(std::span<const std::uint8_t> raw) {
  // 0x78 0x01: deflate with a 32 KiB window, no dictionary, fastest level; the pair
  // is a multiple of 31, as the format requires.
  std::vector<std::uint8_t> out = {0x78, 0x01};
  std::size_t at = 0;
  do {
    std::size_t length = std::min(maxStoredBlock, raw.size() - at);
    bool last = at + length == raw.size();
    out.push_back(last ? 1 : 0);  // BFINAL, and BTYPE 00: stored.
    auto len = static_cast<std::uint16_t>(length);
    auto nlen = static_cast<std::uint16_t>(~len);
    out.insert(out.end(), {static_cast<std::uint8_t>(len), static_cast<std::uint8_t>(len >> 8),
                           static_cast<std::uint8_t>(nlen), static_cast<std::uint8_t>(nlen >> 8)});
    out.insert(out.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
               raw.begin() + static_cast<std::ptrdiff_t>(at + length));
    at += length;
  } while (at < raw.size());
  appendBigEndian(out, adler32(raw));
  return out;
}

std::uint8_t mix(std::uint8_t from, std::uint8_t to, int step, int steps) {
  return static_cast<std::uint8_t>((from * (steps - step) + to * step) / steps);
}

}  // namespace

std::uint32_t crc32(std::span<const std::uint8_t> bytes) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::uint8_t byte : bytes) c = crcTable[(c ^ byte) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

std::uint32_t adler32(std::span<const std::uint8_t> bytes) {
  constexpr std::uint32_t modulus = 65521;
  std::uint32_t a = 1;
  std::uint32_t b = 0;
  for (std::uint8_t byte : bytes) {
    a = (a + byte) % modulus;
    b = (b + a) % modulus;
  }
  return b << 16 | a;
}

std::vector<std::uint8_t> coverImage(int size, const CoverColours& colours) {
  size = std::clamp(size, 1, 128);
  // Each row starts with its filter type, 0 (none), followed by its RGB pixels.
  std::vector<std::uint8_t> raw;
  raw.reserve(std::size_t(size) * std::size_t(1 + 3 * size));
  int centre2 = size;  // Twice the centre, so that distances stay whole numbers.
  int outer = size * 7 / 20;
  int inner = std::max(1, size / 12);
  for (int y = 0; y < size; ++y) {
    raw.push_back(0);
    Colour row{mix(colours.top.red, colours.bottom.red, y, size),
               mix(colours.top.green, colours.bottom.green, y, size),
               mix(colours.top.blue, colours.bottom.blue, y, size)};
    for (int x = 0; x < size; ++x) {
      int dx = 2 * x + 1 - centre2;
      int dy = 2 * y + 1 - centre2;
      int distance2 = dx * dx + dy * dy;
      bool onDisc = distance2 <= 4 * outer * outer && distance2 > 4 * inner * inner;
      const Colour& pixel = onDisc ? colours.disc : row;
      raw.insert(raw.end(), {pixel.red, pixel.green, pixel.blue});
    }
  }

  std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  appendBigEndian(header, static_cast<std::uint32_t>(size));
  appendBigEndian(header, static_cast<std::uint32_t>(size));
  // Bit depth 8, colour type 2 (RGB), deflate, adaptive filtering, no interlace.
  header.insert(header.end(), {8, 2, 0, 0, 0});
  appendChunk(png, "IHDR", header);
  appendChunk(png, "IDAT", storedZlib(raw));
  appendChunk(png, "IEND", {});
  return png;
}

}  // namespace kel::sim
