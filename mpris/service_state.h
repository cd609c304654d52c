#pragma once
// The service's shared state: what the players last reported, which of them the
// bridge is shown, and whether the first look at the bus is done. The bus thread
// writes it; the entry points read it. Every member is guarded by mutex.

#include <mutex>
#include <string>

#include "mpris/player.h"

namespace kel::mpris {

struct ServiceState {
  std::mutex mutex;
  Players players;
  // The owner of the now-playing player; empty for none.
  std::string chosen;
  // False until the players on the bus at start-up have been read (or that took
  // too long), so that the first answers do not report a player missing that
  // is there.
  bool ready = false;
};

ServiceState& serviceState();

// The now-playing player, or null; call with the mutex held.
const Player* chosenPlayer(const ServiceState& state);

}  // namespace kel::mpris
