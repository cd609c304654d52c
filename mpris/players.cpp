// The players as the service knows them: which bus names are players, the
// identifier a player goes by, the choice of the now-playing one, and the state
// that holds them.

#include "mpris/players.h"

namespace kel::mpris {
namespace {

constexpr std::string_view playerPrefix = "org.mpris.MediaPlayer2.";
constexpr std::string_view instanceMark = ".instance";

}  // namespace

bool isPlayerName(std::string_view name) {
  if (!name.starts_with(playerPrefix) || name.size() == playerPrefix.size()) return false;
  std::string_view rest = name.substr(playerPrefix.size());
  return rest != "playerctld" && !rest.starts_with("playerctld.");
}

std::string identifierFromBusName(std::string_view name) {
  if (name.starts_with(playerPrefix)) name.remove_prefix(playerPrefix.size());
  if (auto mark = name.find(instanceMark); mark != std::string_view::npos) name = name.substr(0, mark);
  return std::string(name);
}

std::string bundleIdentifier(const Player& player) {
  if (player.desktopEntry && !player.desktopEntry->empty()) return *player.desktopEntry;
  return player.names.empty() ? std::string() : identifierFromBusName(player.names.front());
}


// Choosing the now-playing player among those on the bus.

void setStatus(Players& players, Player& player, Status status) {
  if (player.status == status) return;
  auto active = [](Status s) { return s == Status::playing || s == Status::paused; };
  ++players.clock;
  // Leaving playing or paused counts too: until then the player was active.
  if (active(player.status) || active(status)) player.lastActive = players.clock;
  player.playingSince = status == Status::playing ? players.clock : 0;
  player.status = status;
}

const Player* choosePlayer(const Players& players) {
  const Player* playing = nullptr;
  const Player* paused = nullptr;
  const Player* stopped = nullptr;
  for (const auto& [owner, player] : players.byOwner) {
    if (player.status == Status::playing) {
      if (playing == nullptr || player.playingSince > playing->playingSince) playing = &player;
    } else if (player.status == Status::paused) {
      if (paused == nullptr || player.lastActive > paused->lastActive) paused = &player;
    } else if (player.lastActive > 0) {
      if (stopped == nullptr || player.lastActive > stopped->lastActive) stopped = &player;
    }
  }
  if (playing != nullptr) return playing;
  return paused != nullptr ? paused : stopped;
}


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
