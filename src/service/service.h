#pragma once
// The now-playing service's vocabulary, defined here once for the bridge and for
// every service that speaks it (the simulated and the MPRIS service): where it
// lives, the entry points the bridge resolves by name, the notifications it
// posts, the info dictionary's keys, the command codes, and the artwork limit.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kel {

// On macOS, the system's MediaRemote framework.
inline constexpr const char* mediaRemotePath =
    "/System/Library/PrivateFrameworks/MediaRemote.framework/MediaRemote";

// On Linux, the MPRIS service library, which is installed beside the bridge library.
inline constexpr std::string_view linuxServiceFile = "libkelmprisservice.so";

// In the order they are resolved.
inline constexpr std::array<const char*, 5> entryPointNames = {
    "MRMediaRemoteRegisterForNowPlayingNotifications",
    "MRMediaRemoteGetNowPlayingInfo",
    "MRMediaRemoteGetNowPlayingApplicationIsPlaying",
    "MRMediaRemoteSendCommand",
    "MRMediaRemoteSetElapsedTime",
};

// In the order they are subscribed.
inline constexpr std::array<std::string_view, 4> notificationNames = {
    "kMRMediaRemoteNowPlayingInfoDidChangeNotification",
    "kMRMediaRemoteNowPlayingApplicationIsPlayingDidChangeNotification",
    "kMRMediaRemoteNowPlayingApplicationDidChangeNotification",
    "kMRMediaRemoteNowPlayingPlaybackQueueChangedNotification",
};

// The info dictionary's keys, MediaRemote's names.
namespace infoKey {
inline constexpr std::string_view title = "kMRMediaRemoteNowPlayingInfoTitle";
inline constexpr std::string_view artist = "kMRMediaRemoteNowPlayingInfoArtist";
inline constexpr std::string_view album = "kMRMediaRemoteNowPlayingInfoAlbum";
inline constexpr std::string_view duration = "kMRMediaRemoteNowPlayingInfoDuration";
inline constexpr std::string_view elapsedTime = "kMRMediaRemoteNowPlayingInfoElapsedTime";
inline constexpr std::string_view playbackRate = "kMRMediaRemoteNowPlayingInfoPlaybackRate";
inline constexpr std::string_view timestamp = "kMRMediaRemoteNowPlayingInfoTimestamp";
inline constexpr std::string_view artworkData = "kMRMediaRemoteNowPlayingInfoArtworkData";
inline constexpr std::string_view artworkIdentifier = "kMRMediaRemoteNowPlayingInfoArtworkIdentifier";
inline constexpr std::string_view artworkMIMEType = "kMRMediaRemoteNowPlayingInfoArtworkMIMEType";
}  // namespace infoKey

// The codes MRMediaRemoteSendCommand takes. Code 3 (stop) is never sent.
namespace commandCode {
inline constexpr std::int32_t play = 0;
inline constexpr std::int32_t pause = 1;
inline constexpr std::int32_t togglePlayPause = 2;
inline constexpr std::int32_t nextTrack = 4;
inline constexpr std::int32_t previousTrack = 5;
}  // namespace commandCode

// Artwork of more bytes than this is never sent.
inline constexpr std::size_t artworkLimit = 4'194'304;

// Opens the service library at path and resolves the entry points, in the order of
// entryPointNames; nothing when the library or any entry point is missing. Each
// platform gives them its own types.
std::optional<std::array<void*, entryPointNames.size()>> resolveEntryPoints(const char* path);

}  // namespace kel
