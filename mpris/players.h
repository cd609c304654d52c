#pragma once
// The players: what the MPRIS players on the session bus last reported, read out of
// their messages, and the rules that pick the now-playing one among them. The bus
// thread watches the players and fills the service state under its mutex; the
// entry points read it.

#include <systemd/sd-bus.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
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

// The service's shared state: what the players last reported, which of them the
// bridge is shown, and whether the first look at the bus is done. The bus thread
// writes it; the entry points read it. Every member is guarded by mutex.
struct ServiceState {
  std::mutex mutex;
  Players players;
  // The owner of the now-playing player; empty for none.
  std::string chosen;
  // False until the players on the bus at start-up have been read (or that took
  // too long), so that the first answers do not report a player missing that
  // is there; until then, the tasks that wait for it.
  bool ready = false;
  std::vector<std::function<void()>> waiting;
};

ServiceState& serviceState();

// The now-playing player, or null; call with the mutex held.
const Player* chosenPlayer(const ServiceState& state);


// Reading what players report: their properties, as GetAll and Get answer them and
// as PropertiesChanged and Seeked announce them. A value of another D-Bus type than
// the one MPRIS gives it is left out; it never stops the rest from being read.

// Which of a player's properties a message set.
struct PropertyChanges {
  bool status = false;
  bool rate = false;
  bool metadata = false;
  bool position = false;
  bool desktopEntry = false;
};

// Reads an a{sv} of properties of the Player interface (isPlayer true) or of
// the root interface into player. Returns false when the message is not shaped so.
bool readProperties(sd_bus_message* message, bool isPlayer, Players& players, Player& player,
                    PropertyChanges& changes);

// Reads a Get answer: one variant holding the property called name.
bool readProperty(sd_bus_message* message, std::string_view name, bool isPlayer, Players& players,
                  Player& player, PropertyChanges& changes);

// Reads a Seeked signal's position (microseconds) into player.
bool readSeeked(sd_bus_message* message, Player& player);


// Watching the players on the session bus: the names that come and go, what each
// player reports, and the first look at the players already there.

// Bus thread, once, after connecting or failing to. Without a bus the service is
// ready at once, with no player.
void watchPlayers();

// Any thread. Runs task once the first look at the bus is done (or took too
// long): at once, on this thread, if it is; otherwise on the bus thread, when it
// is, after the tasks that waited before it. This is the one place that asks.
void whenReady(std::function<void()> task);

}  // namespace kel::mpris
