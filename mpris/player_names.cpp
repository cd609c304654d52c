// Naming players: which bus names are players, and the identifier a player goes by.

#include "mpris/player.h"

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

}  // namespace kel::mpris
