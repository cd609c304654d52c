#pragma once
// Answering the bridge's queries: whether the now-playing player plays, and its
// info dictionary with the cover art that its mpris:artUrl names (the bytes of a
// local file or of a data: URL, and their image type; nothing is fetched over a
// network).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/linux_platform.h"
#include "service/service.h"

namespace kel::mpris {

// Each answers once, on queue, never inside the call, and never waits on the bus.
void getIsPlaying(Queue queue, service_abi::IsPlayingCallback callback, void* context);
void getNowPlayingInfo(Queue queue, service_abi::InfoCallback callback, void* context);

// The artwork.

using Bytes = std::vector<std::uint8_t>;

// The bridge sends no artwork above this size. Reading one byte more lets it see
// that a file is too large without this library deciding for it.
inline constexpr std::size_t artworkReadLimit = artworkLimit + 1;

// %XX sequences decoded; a "%" not followed by two hex digits stays as it is.
std::string decodePercent(std::string_view text);

// The artwork at url when it is a file:// URL of a regular local file or a data:
// URL, at most limit bytes of it; nothing for other schemes or when it cannot be read.
std::optional<Bytes> fetchArtwork(std::string_view url, std::size_t limit = artworkReadLimit);

// The MIME type that the bytes' signature shows (PNG, JPEG, GIF, WebP), or "".
std::string_view artworkMIME(const Bytes& bytes);

// What the bridge is given of a cover: the bytes, shared by every answer that shows
// them, their identity and their type.
struct Artwork {
  Bytes bytes;
  std::string identity;
  std::string_view mime;
};

// The identity of the artwork at url: the URL itself, but for a data: URL, whose
// text holds the whole image, "data:" MEDIATYPE ";" LENGTH ";" and the 64-bit
// FNV-1a digest of the bytes in 16 hex digits, for example
// "data:image/png;973;2d03326270092a63".
std::string artworkIdentity(std::string_view url, const Bytes& bytes);

// An answer waits this long at most for the artwork it shows.
inline constexpr std::chrono::microseconds artworkWait{1'000'000};

// Bus thread. The artwork at url if it has been read: the last cover read is kept
// while players name the same URL. Null otherwise.
std::shared_ptr<const Artwork> keptArtwork(const std::shared_ptr<const std::string>& url);

// Bus thread. Reads the artwork at url on a thread of its own (a file on a hung
// mount must hold up nothing), or joins the read under way; when it ends, ended
// runs on the bus thread, told whether it found artwork. Returns false, and
// forgets ended, when a read of url has been under way for longer than
// artworkWait already: that one is not waited for again. A read that fails is
// tried again at the next call.
bool readArtwork(const std::shared_ptr<const std::string>& url, std::function<void(bool found)> ended);

}  // namespace kel::mpris
