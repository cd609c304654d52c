#pragma once
// The service's entry points, as the library's exported functions call them, with
// the Linux signatures of the bridge's service_abi.

#include <cstdint>

#include "platform/linux/linux_platform.h"

namespace kel::mpris {

// Each answers once, on queue, never inside the call, and never waits on the bus.
void getIsPlaying(Queue queue, service_abi::IsPlayingCallback callback, void* context);
void getNowPlayingInfo(Queue queue, service_abi::InfoCallback callback, void* context);

// Send to the now-playing player, from the bus thread, and return once the call
// has left for the bus daemon: whether it did. Not to be called on the bus thread.
// Nothing happens when there is no player.
bool sendCommand(std::int32_t code);
void setElapsedTime(double seconds);

}  // namespace kel::mpris
