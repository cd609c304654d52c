#pragma once
// Calling the now-playing service's entry points, each resolved by name into an
// untyped pointer. Their signatures are the platform's (blocks on macOS, a function
// and a context on Linux), so only the edge knows how to call them.

#include <cstdint>
#include <functional>
#include <string>

#include "platform/info_value.h"
#include "platform/queue.h"

namespace kel {

// Where the bridge opens the service: MediaRemote's framework on macOS; on Linux
// the MPRIS service library in the folder that holds the bridge library itself,
// so that the build tree and every installed tree find their own. Fixed, not
// configurable.
std::string servicePath();

void callRegister(void* entry, Queue queue);

// The callback runs once, on queue, with the playing byte (non-zero: playing).
void callGetIsPlaying(void* entry, Queue queue, std::function<void(std::uint8_t)> callback);

// The callback runs once, on queue, with the info dictionary, which may be null and
// is valid while the callback runs.
void callGetNowPlayingInfo(void* entry, Queue queue, std::function<void(InfoDictionary)> callback);

// Sends a command code with null options; the service's result is ignored.
void callSendCommand(void* entry, std::int32_t code);

void callSetElapsedTime(void* entry, double seconds);

}  // namespace kel
