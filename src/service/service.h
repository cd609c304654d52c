#pragma once
// The now-playing service: where it lives, the entry points the bridge resolves by
// name, and the notifications it posts.

#include <array>
#include <string_view>

namespace kel {

inline constexpr const char* servicePath =
    "/System/Library/PrivateFrameworks/MediaRemote.framework/MediaRemote";

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

// The entry points, written once during start-up, before any other thread of ours
// exists, and only read afterwards.
extern void* getNowPlayingInfo;
extern void* getIsPlaying;
extern void* sendCommand;
extern void* setElapsedTime;

// Opens the service library and resolves the five entry points into the pointers
// above. Returns the registration entry, or null when the library or any entry
// point is missing (then the four pointers are unusable).
void* bindService();

}  // namespace kel
