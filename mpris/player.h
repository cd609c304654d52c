#pragma once
// What the MPRIS players on the session bus last reported, and the rules that pick
// the now-playing one among them. Plain data: the bus thread fills it under the
// service state's mutex.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kel::mpris {

// The track a player describes in its Metadata property. A member is empty when the
// player left it out or gave it a value of another D-Bus type.
struct Metadata {
  // The player reported at least one entry, of whatever key or type.
  bool present = false;
  std::optional<std::string> title;
  std::optional<std::string> album;
  std::optional<std::vector<std::string>> artists;
  std::optional<double> lengthSeconds;
  std::optional<std::string> trackId;  // an object path
  // Shared, as a data: URL may hold a whole image.
  std::shared_ptr<const std::string> artUrl;
};

enum class Status : std::uint8_t { unknown, playing, paused, stopped };

// A position the player reported, and the moment it held (seconds since 1970 on
// CLOCK_REALTIME).
struct Position {
  double seconds = 0;
  double at = 0;
};

// One player process, known by its unique bus name.
struct Player {
  std::string owner;
  // Its org.mpris.MediaPlayer2.* names, in the order it took them.
  std::vector<std::string> names;
  std::optional<std::string> desktopEntry;
  Status status = Status::unknown;
  std::optional<double> rate;
  Metadata metadata;
  std::optional<Position> position;
  // Moments on Players::clock: when it last started playing (0 while it is not
  // playing), and when it was last playing or paused (0: never, while watched).
  std::uint64_t playingSince = 0;
  std::uint64_t lastActive = 0;
};

struct Players {
  std::map<std::string, Player, std::less<>> byOwner;
  // Counts status changes, so that "most recently" needs no wall clock.
  std::uint64_t clock = 0;
};

// Whether name is an MPRIS player's bus name. playerctld only proxies the other
// players, so it is not one of them.
bool isPlayerName(std::string_view name);

// A bus name without "org.mpris.MediaPlayer2." and without an ".instance..." suffix,
// which a player adds when another instance has the plain name.
std::string identifierFromBusName(std::string_view name);

// The player's DesktopEntry when it has one, else the identifier of its first name.
std::string bundleIdentifier(const Player& player);

// Records a change of status, with the moments the choice depends on.
void setStatus(Players& players, Player& player, Status status);

// The now-playing player: the one that most recently started playing; if none is
// playing, the paused one that was most recently active; if none is paused, the
// one most recently playing or paused before it stopped; else none (null).
const Player* choosePlayer(const Players& players);

}  // namespace kel::mpris
