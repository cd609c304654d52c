// Carrying out the bridge's commands: each is sent from the bus thread to the
// now-playing player, expecting no reply, and the entry point returns once the call
// has left for the bus daemon.

#include "mpris/commands.h"

#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "mpris/bus.h"
#include "mpris/players.h"
#include "service/service.h"

namespace kel::mpris {
namespace {

// MediaRemote's command codes and the Player methods that do the same.
const char* methodFor(std::int32_t code) {
  switch (code) {
    case commandCode::play:
      return "Play";
    case commandCode::pause:
      return "Pause";
    case commandCode::togglePlayPause:
      return "PlayPause";
    case commandCode::nextTrack:
      return "Next";
    case commandCode::previousTrack:
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

// The bridge's queue. Has the call that makeCall builds on the bus thread (null: none
// to send) sent there, once the first look at the bus is done, and waits until it
// has left for the bus daemon. Returns whether it did. The wait is what makes the
// bridge's end of input cover the bus, and what holds the bridge's queue, and so the
// host, while the bus takes nothing: one command at a time is ever in the service.
bool carryOut(std::function<Message()> makeCall) {
  struct Handover {
    std::mutex mutex;
    std::condition_variable finished;
    std::optional<bool> sent;  // guarded by mutex
  };
  auto handover = std::make_shared<Handover>();
  auto finish = [handover](bool sent) {
    {
      std::lock_guard lock(handover->mutex);
      handover->sent = sent;
    }
    handover->finished.notify_one();
  };
  startService();
  runOnBus([makeCall = std::move(makeCall), finish] {
    whenReady([makeCall, finish] {
      Message call = makeCall();
      // No retry: sd-bus refuses only a connection that is gone for good (the
      // service does not connect again) or a queue far past what one call fills.
      if (call == nullptr || sd_bus_message_set_expect_reply(call.get(), 0) < 0 ||
          sd_bus_send(sessionBus(), call.get(), nullptr) < 0) {
        finish(false);
        return;
      }
      whenWritten(finish);
    });
  });
  std::unique_lock lock(handover->mutex);
  handover->finished.wait(lock, [&] { return handover->sent.has_value(); });
  return *handover->sent;
}

}  // namespace

bool sendCommand(std::int32_t code) {
  const char* method = methodFor(code);
  if (method == nullptr) return false;
  return carryOut([method]() -> Message {
    std::optional<std::string> owner = chosenOwner();
    if (!owner) return nullptr;
    return newCall(sessionBus(), owner->c_str(), playerPath, playerInterface, method);
  });
}

void setElapsedTime(double seconds) {
  carryOut([seconds]() -> Message {
    std::optional<std::string> trackId;
    std::optional<std::string> owner = chosenOwner(&trackId);
    // SetPosition names the track it means; without one, a player would ignore it.
    if (!owner || !trackId) return nullptr;
    Message call = newCall(sessionBus(), owner->c_str(), playerPath, playerInterface, "SetPosition");
    if (call && sd_bus_message_append(call.get(), "ox", trackId->c_str(), microseconds(seconds)) < 0) return nullptr;
    return call;
  });
}

}  // namespace kel::mpris
