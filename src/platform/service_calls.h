#pragma once
// Resolving and calling the now-playing service's entry points. Their signatures are
// the platform's (blocks on macOS, a function and a context on Linux), so each edge
// types them where it resolves them, and only the edge calls them.

#include <cstdint>
#include <functional>

#include "platform/info_value.h"
#include "platform/queue.h"

namespace kel {

// The start-up thread, before any other thread of ours exists. Opens the service
// and resolves its entry points; false when the library or any entry point is
// missing. The service is MediaRemote's framework on macOS; on Linux the MPRIS
// service library in the folder that holds the bridge library itself, so that the
// build tree and every installed tree find their own. Fixed, not configurable.
bool bindService();

void callRegister(Queue queue);

// The callback runs once, on queue, with the playing byte (non-zero: playing).
void callGetIsPlaying(Queue queue, std::function<void(std::uint8_t)> callback);

// The callback runs once, on queue, with the info dictionary, which may be null and
// is valid while the callback runs.
void callGetNowPlayingInfo(Queue queue, std::function<void(InfoDictionary)> callback);

// Sends a command code with null options; the service's result is ignored.
void callSendCommand(std::int32_t code);

void callSetElapsedTime(double seconds);

}  // namespace kel
