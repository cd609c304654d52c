// Answering the bridge's queries. Each answer is submitted to the bridge's queue;
// what needs the bus (the position, read at the moment of the query) is asked by
// the bus thread, with a short timeout, so that a player that does not answer
// costs the bridge only that value's freshness.

#include <chrono>
#include <memory>
#include <string>
#include <utility>

#include "mpris/bus_calls.h"
#include "mpris/bus_thread.h"
#include "mpris/bus_values.h"
#include "mpris/info_dictionary.h"
#include "mpris/player_watch.h"
#include "mpris/service.h"
#include "mpris/service_state.h"

namespace kel::mpris {
namespace {

constexpr std::chrono::milliseconds positionTimeout{250};

void answerIsPlaying(Queue queue, service_abi::IsPlayingCallback callback, void* context) {
  std::uint8_t playing = 0;
  {
    ServiceState& state = serviceState();
    std::lock_guard lock(state.mutex);
    const Player* player = chosenPlayer(state);
    playing = player != nullptr && player->status == Status::playing ? 1 : 0;
  }
  submit(queue, [callback, context, playing] { callback(context, playing); });
}

void submitInfo(Queue queue, service_abi::InfoCallback callback, void* context,
                std::shared_ptr<const InfoDictionaryImpl> info) {
  // The task holds the dictionary until the callback has returned.
  submit(queue, [callback, context, info = std::move(info)] { callback(context, info.get()); });
}

// Bus thread. Builds the answer from what is known of owner now: no player gives
// no dictionary.
void answerInfoFor(const std::string& owner, Queue queue, service_abi::InfoCallback callback, void* context) {
  std::shared_ptr<const InfoDictionaryImpl> info;
  {
    ServiceState& state = serviceState();
    std::lock_guard lock(state.mutex);
    auto found = state.players.byOwner.find(owner);
    if (found != state.players.byOwner.end()) info = buildInfo(found->second);
  }
  submitInfo(queue, callback, context, std::move(info));
}

// Bus thread, once the service is ready.
void answerInfo(Queue queue, service_abi::InfoCallback callback, void* context) {
  std::string owner;
  bool needsPosition = false;
  {
    ServiceState& state = serviceState();
    std::lock_guard lock(state.mutex);
    if (const Player* player = chosenPlayer(state)) {
      owner = player->owner;
      needsPosition = player->metadata.present;
    }
  }
  if (!needsPosition) {
    answerInfoFor(owner, queue, callback, context);
    return;
  }
  getProperty(sessionBus(), owner.c_str(), playerInterface, "Position", positionTimeout,
              [owner, queue, callback, context](sd_bus_message* reply) {
                if (isAnswer(reply)) {
                  ServiceState& state = serviceState();
                  std::lock_guard lock(state.mutex);
                  if (auto found = state.players.byOwner.find(owner); found != state.players.byOwner.end()) {
                    PropertyChanges changes;
                    readProperty(reply, "Position", true, state.players, found->second, changes);
                  }
                }
                answerInfoFor(owner, queue, callback, context);
              });
}

}  // namespace

void getIsPlaying(Queue queue, service_abi::IsPlayingCallback callback, void* context) {
  startService();
  bool ready = false;
  {
    ServiceState& state = serviceState();
    std::lock_guard lock(state.mutex);
    ready = state.ready;
  }
  // Once ready, the answer needs nothing from the bus; before, it waits on the bus
  // thread for the first look at the players.
  if (ready) {
    answerIsPlaying(queue, callback, context);
    return;
  }
  runOnBus([queue, callback, context] {
    whenReady([queue, callback, context] { answerIsPlaying(queue, callback, context); });
  });
}

void getNowPlayingInfo(Queue queue, service_abi::InfoCallback callback, void* context) {
  startService();
  runOnBus([queue, callback, context] {
    whenReady([queue, callback, context] { answerInfo(queue, callback, context); });
  });
}

}  // namespace kel::mpris
