#pragma once
// Cover images for the virtual player: small PNG files made from scratch, with
// uncompressed (stored) deflate blocks, so that they need no compression library.

#include <cstdint>
#include <span>
#include <vector>

namespace kel::sim {

struct Colour {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
};

// The three colours of one cover: a gradient from top to bottom, and a disc.
struct CoverColours {
  Colour top;
  Colour bottom;
  Colour disc;
};

// A square RGB image of size × size pixels (1 to 128) as a complete PNG file:
// the gradient, with the disc in the middle and a hole in the disc.
//   std::vector<std::uint8_t> png = coverImage(48, {{200, 40, 40}, {40, 0, 0}, {240, 220, 200}});
std::vector<std::uint8_t> coverImage(int size, const CoverColours& colours);

// The CRC-32 of PNG chunks and gzip (ISO 3309, reflected polynomial 0xEDB88320).
std::uint32_t crc32(std::span<const std::uint8_t> bytes);

// The Adler-32 checksum that ends a zlib stream (RFC 1950).
std::uint32_t adler32(std::span<const std::uint8_t> bytes);

}  // namespace kel::sim
