// Carrying out the bridge's commands: each is sent from the bus thread to the
// now-playing player, expecting no reply, so the entry points return at once.

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "mpris/bus_calls.h"
#include "mpris/bus_thread.h"
#include "mpris/player_watch.h"
#include "mpris/service.h"
#include "mpris/service_state.h"

namespace kel::mpris {
namespace {

// MediaRemote's command codes and the Player methods that do the same.
const char* methodFor(std::int32_t code) {
  switch (code) {
    case 0:
      return "Play";
    case 1:
      return "Pause";
    case 2:
      return "PlayPause";
    case 4:
      return "Next";
    case 5:
      return "Previous";
    default:
      return nullptr;
  }
}

// Bus thread. The now-playing player's owner and current track, if there is one.
std::optional<std::string> chosenOwner(std::optional<std::string>* trackId = nullptr) {
  ServiceState& state = serviceState();
  std::lock_guard lock(state.mutex);
  const Player* player = chosenPlayer(state);
  if (player == nullptr) return std::nullopt;
  if (trackId != nullptr) *trackId = player->metadata.trackId;
  return player->owner;
}

std::int64_t microseconds(double seconds) {
  double value = seconds * 1e6;
  if (!(value > 0)) return 0;
  if (value >= static_cast<double>(std::numeric_limits<std::int64_t>::max())) {
    return std::numeric_limits<std::int64_t>::max();
  }
  return std::llround(value);
}

}  // namespace

bool sendCommand(std::int32_t code) {
  const char* method = methodFor(code);
  if (method == nullptr) return false;
  startService();
  // A command that comes before the first look at the bus is done (a host that
  // writes "pause" at once) waits for it, so that it finds the player.
  runOnBus([method] {
    whenReady([method] {
      std::optional<std::string> owner = chosenOwner();
      if (!owner) return;
      sendWithoutReply(sessionBus(), newCall(sessionBus(), owner->c_str(), playerPath, playerInterface, method));
    });
  });
  return true;
}

void setElapsedTime(double seconds) {
  startService();
  runOnBus([seconds] {
    whenReady([seconds] {
      std::optional<std::string> trackId;
      std::optional<std::string> owner = chosenOwner(&trackId);
      // SetPosition names the track it means; without one, a player would ignore it.
      if (!owner || !trackId) return;
      Message call = newCall(sessionBus(), owner->c_str(), playerPath, playerInterface, "SetPosition");
      if (call && sd_bus_message_append(call.get(), "ox", trackId->c_str(), microseconds(seconds)) < 0) return;
      sendWithoutReply(sessionBus(), std::move(call));
    });
  });
}

}  // namespace kel::mpris
