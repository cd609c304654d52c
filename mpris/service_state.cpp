#include "mpris/service_state.h"

namespace kel::mpris {

ServiceState& serviceState() {
  // Note: never destroyed, as the bus thread and the bridge's queue may use it
  // until the process ends.
  static auto* state = new ServiceState;
  return *state;
}

const Player* chosenPlayer(const ServiceState& state) {
  if (state.chosen.empty()) return nullptr;
  auto found = state.players.byOwner.find(state.chosen);
  return found == state.players.byOwner.end() ? nullptr : &found->second;
}

}  // namespace kel::mpris
