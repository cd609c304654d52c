#pragma once
// The bridge's commands: each is sent from the bus thread to the now-playing
// player, and the entry point returns once the call has left for the bus daemon.

#include <cstdint>

namespace kel::mpris {

// The bridge's queue. Send to the now-playing player, from the bus thread, and
// return once the call has left for the bus daemon: whether it did. Not to be
// called on the bus thread. Nothing happens when there is no player.
bool sendCommand(std::int32_t code);
void setElapsedTime(double seconds);

}  // namespace kel::mpris
