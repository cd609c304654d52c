#pragma once
// Cover art from a player's mpris:artUrl: the bytes of a local file or of a data:
// URL, and their image type. Nothing is fetched over a network.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kel::mpris {

using Bytes = std::vector<std::uint8_t>;

// The bridge sends no artwork above this size. Reading one byte more lets it see
// that a file is too large without this library deciding for it.
inline constexpr std::size_t artworkReadLimit = 4'194'304 + 1;

// %XX sequences decoded; a "%" not followed by two hex digits stays as it is.
std::string decodePercent(std::string_view text);

// Base64 (standard or URL-safe alphabet, padding optional, whitespace ignored);
// nothing when the text holds anything else.
std::optional<Bytes> decodeBase64(std::string_view text);

// The artwork at url when it is a file:// URL of a regular local file or a data:
// URL, at most limit bytes of it; nothing for other schemes or when it cannot be read.
std::optional<Bytes> fetchArtwork(std::string_view url, std::size_t limit = artworkReadLimit);

// The MIME type that the bytes' signature shows (PNG, JPEG, GIF, WebP), or "".
std::string_view artworkMIME(const Bytes& bytes);

// Bus thread. The artwork at url, read once and kept while the player names the
// same URL; null when there is none (asked again next time).
std::shared_ptr<const Bytes> artworkFor(const std::string& url);

}  // namespace kel::mpris
