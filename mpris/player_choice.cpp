// Choosing the now-playing player among those on the bus.

#include "mpris/player.h"

namespace kel::mpris {

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

}  // namespace kel::mpris
