// Watching the players. Everything here but whenReady runs on the bus thread; what
// it learns goes into the service state under its mutex, and announce tells the
// bridge.

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "mpris/bus.h"
#include "mpris/players.h"
#include "platform/linux/linux_platform.h"
#include "service/service.h"

namespace kel::mpris {
namespace {

using std::chrono::milliseconds;

// A player that is slow to describe itself is still read; only the first answers
// stop waiting for it after readyDeadline.
constexpr milliseconds readTimeout{2000};
constexpr milliseconds readyDeadline{500};

// Reads of the start-up look still unanswered.
int startupReads = 0;

void markReady() {
  std::vector<std::function<void()>> tasks;
  {
    ServiceState& state = serviceState();
    std::lock_guard lock(state.mutex);
    if (state.ready) return;
    state.ready = true;
    tasks.swap(state.waiting);
  }
  for (auto& task : tasks) task();
}

void startupReadDone() {
  if (--startupReads == 0) markReady();
}

constexpr std::string_view infoDidChange = notificationNames[0];
constexpr std::string_view isPlayingDidChange = notificationNames[1];
constexpr std::string_view applicationDidChange = notificationNames[2];

// The bundle identifier of the now-playing player last announced; bus thread
// only, and never destroyed.
std::optional<std::string>& presented() {
  static auto* bundle = new std::optional<std::string>;
  return *bundle;
}

// Bus thread, after the properties of the player owner changed (changes), or after
// players came or went (playersChanged): chooses the now-playing player again,
// updates the identifier the bridge is shown, and posts the notifications
// MediaRemote posts. Nothing is posted before the service is ready: the bridge's
// first publication waits for that anyway.
void announce(std::string_view owner, const PropertyChanges& changes, bool playersChanged) {
  std::optional<std::string> bundle;
  bool isChosen = false;
  bool ready = false;
  bool chosenChanged = false;
  {
    ServiceState& state = serviceState();
    std::lock_guard lock(state.mutex);
    const Player* chosen = choosePlayer(state.players);
    std::string chosenOwner = chosen == nullptr ? std::string() : chosen->owner;
    if (chosen != nullptr) bundle = bundleIdentifier(*chosen);
    chosenChanged = chosenOwner != state.chosen;
    state.chosen = chosenOwner;
    isChosen = chosen != nullptr && chosenOwner == owner;
    ready = state.ready;
  }
  bool bundleChanged = bundle != presented();
  if (bundleChanged) presented() = bundle;
  if (!ready) return;
  // Posted outside the lock: the bridge's observers only enqueue, but nothing here
  // needs the state any more.
  if (chosenChanged || bundleChanged || playersChanged) postNotification(applicationDidChange);
  if (isChosen && changes.status) postNotification(isPlayingDidChange);
  if (isChosen && (changes.metadata || changes.rate || changes.position)) postNotification(infoDidChange);
}

// Applies a reply or a signal to the player owner, if it is still there.
template <typename Read>
void updatePlayer(const std::string& owner, Read read) {
  PropertyChanges changes;
  {
    ServiceState& state = serviceState();
    std::lock_guard lock(state.mutex);
    auto found = state.players.byOwner.find(owner);
    if (found == state.players.byOwner.end()) return;
    read(state.players, found->second, changes);
  }
  announce(owner, changes, false);
}

// The properties being read anew, each asked again once more if announced as
// changed meanwhile: a burst of signals costs two reads, not one per signal. Bus
// thread only, and never destroyed.
std::map<std::string, bool>& refreshing() {
  static auto* reads = new std::map<std::string, bool>;
  return *reads;
}

void refreshProperty(const std::string& owner, const char* interface, const char* name, bool startup) {
  std::string key = owner + '/' + interface + '/' + name;
  if (!startup) {
    auto [read, first] = refreshing().try_emplace(key, false);
    if (!first) {
      read->second = true;
      return;
    }
  }
  if (startup) ++startupReads;
  bool isPlayer = interface == std::string_view(playerInterface);
  getProperty(sessionBus(), owner.c_str(), interface, name, readTimeout,
              [owner, isPlayer, interface = std::string(interface), name = std::string(name), key,
               startup](sd_bus_message* reply) {
                if (isAnswer(reply)) {
                  updatePlayer(owner, [&](Players& players, Player& player, PropertyChanges& changes) {
                    readProperty(reply, name, isPlayer, players, player, changes);
                  });
                }
                if (startup) {
                  startupReadDone();
                } else if (auto read = refreshing().find(key); read != refreshing().end()) {
                  bool again = read->second;
                  refreshing().erase(read);
                  if (again) refreshProperty(owner, interface.c_str(), name.c_str(), false);
                }
              });
}

// Reads everything the bridge is shown of a player that just appeared.
void readPlayer(const std::string& owner, bool startup) {
  if (startup) ++startupReads;
  getAllProperties(sessionBus(), owner.c_str(), playerInterface, readTimeout, [owner, startup](sd_bus_message* reply) {
    if (isAnswer(reply)) {
      updatePlayer(owner, [&](Players& players, Player& player, PropertyChanges& changes) {
        readProperties(reply, true, players, player, changes);
      });
    }
    if (startup) startupReadDone();
  });
  refreshProperty(owner, rootInterface, "DesktopEntry", startup);
}

// Records that owner has (or, with newOwner empty, no longer has) the player name
// name, formerly owned by oldOwner.
void moveName(const std::string& name, const std::string& oldOwner, const std::string& newOwner, bool startup) {
  bool appeared = false;
  {
    ServiceState& state = serviceState();
    std::lock_guard lock(state.mutex);
    auto& byOwner = state.players.byOwner;
    if (auto old = byOwner.find(oldOwner); !oldOwner.empty() && old != byOwner.end()) {
      std::erase(old->second.names, name);
      if (old->second.names.empty()) byOwner.erase(old);
    }
    if (!newOwner.empty()) {
      auto [found, created] = byOwner.try_emplace(newOwner);
      Player& player = found->second;
      player.owner = newOwner;
      if (std::find(player.names.begin(), player.names.end(), name) == player.names.end()) {
        player.names.push_back(name);
      }
      appeared = created;
    }
  }
  if (appeared) readPlayer(newOwner, startup);
  announce({}, {}, true);
}

int onNameOwnerChanged(sd_bus_message* message, void*, sd_bus_error*) {
  const char* name = nullptr;
  const char* oldOwner = nullptr;
  const char* newOwner = nullptr;
  if (sd_bus_message_read(message, "sss", &name, &oldOwner, &newOwner) < 0) return 0;
  if (!isPlayerName(name)) return 0;
  moveName(name, oldOwner, newOwner, false);
  return 0;
}

int onPropertiesChanged(sd_bus_message* message, void*, sd_bus_error*) {
  const char* sender = sd_bus_message_get_sender(message);
  const char* interface = nullptr;
  if (sender == nullptr || sd_bus_message_read_basic(message, 's', &interface) <= 0) return 0;
  bool isPlayer = interface == std::string_view(playerInterface);
  if (!isPlayer && interface != std::string_view(rootInterface)) return 0;
  std::string owner = sender;
  bool read = false;
  updatePlayer(owner, [&](Players& players, Player& player, PropertyChanges& changes) {
    read = readProperties(message, isPlayer, players, player, changes);
  });
  if (!read) return 0;
  // A property announced as changed without its value is read anew.
  std::vector<std::string> invalidated;
  const char* name = nullptr;
  if (sd_bus_message_enter_container(message, 'a', "s") > 0) {
    while (sd_bus_message_read_basic(message, 's', &name) > 0) invalidated.emplace_back(name);
  }
  for (const std::string& property : invalidated) {
    bool wanted = isPlayer ? property == "PlaybackStatus" || property == "Rate" || property == "Metadata"
                           : property == "DesktopEntry";
    if (wanted) refreshProperty(owner, interface, property.c_str(), false);
  }
  return 0;
}

int onSeeked(sd_bus_message* message, void*, sd_bus_error*) {
  const char* sender = sd_bus_message_get_sender(message);
  if (sender == nullptr) return 0;
  updatePlayer(sender, [&](Players&, Player& player, PropertyChanges& changes) {
    changes.position = readSeeked(message, player);
  });
  return 0;
}

// Runs after the connection closed, outside sd-bus's own dispatch, so that the
// connection can go: with it go the players, and the bridge sees no player.
int onClosed(sd_event_source*, void*) {
  {
    ServiceState& state = serviceState();
    std::lock_guard lock(state.mutex);
    state.players.byOwner.clear();
  }
  dropSessionBus();
  startupReads = 0;
  markReady();
  announce({}, {}, true);
  return 0;
}

int onMessage(sd_bus_message* message, void*, sd_bus_error*) {
  if (sd_bus_message_is_signal(message, "org.freedesktop.DBus.Local", "Disconnected") > 0) {
    sd_event_add_defer(busEvent(), nullptr, onClosed, nullptr);
  }
  return 0;
}

// A match the bus refused leaves the service with less news, not without a bus.
int onMatchInstalled(sd_bus_message*, void*, sd_bus_error*) {
  return 0;
}

int onDeadline(sd_event_source*, std::uint64_t, void*) {
  markReady();
  return 0;
}

void readPlayersOnBus() {
  ++startupReads;
  callBusDaemon(sessionBus(), "ListNames", nullptr, readTimeout, [](sd_bus_message* reply) {
    std::vector<std::string> names;
    if (isAnswer(reply) && sd_bus_message_enter_container(reply, 'a', "s") > 0) {
      const char* name = nullptr;
      while (sd_bus_message_read_basic(reply, 's', &name) > 0) {
        if (isPlayerName(name)) names.emplace_back(name);
      }
    }
    for (const std::string& name : names) {
      ++startupReads;
      callBusDaemon(sessionBus(), "GetNameOwner", name.c_str(), readTimeout, [name](sd_bus_message* owned) {
        const char* owner = nullptr;
        if (isAnswer(owned) && sd_bus_message_read_basic(owned, 's', &owner) > 0) moveName(name, {}, owner, true);
        startupReadDone();
      });
    }
    startupReadDone();
  });
}

}  // namespace

void watchPlayers() {
  sd_bus* bus = sessionBus();
  if (bus == nullptr) {
    markReady();
    return;
  }
  sd_bus_add_filter(bus, nullptr, onMessage, nullptr);
  // The matches go out before the first look, so that the bus daemon reports every
  // change after the look.
  sd_bus_add_match_async(bus, nullptr,
                         "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                         "member='NameOwnerChanged',arg0namespace='org.mpris.MediaPlayer2'",
                         onNameOwnerChanged, onMatchInstalled, nullptr);
  sd_bus_match_signal_async(bus, nullptr, nullptr, playerPath, propertiesInterface, "PropertiesChanged",
                            onPropertiesChanged, onMatchInstalled, nullptr);
  sd_bus_match_signal_async(bus, nullptr, nullptr, playerPath, playerInterface, "Seeked", onSeeked,
                            onMatchInstalled, nullptr);
  readPlayersOnBus();
  sd_event_add_time_relative(busEvent(), nullptr, CLOCK_MONOTONIC,
                             std::chrono::duration_cast<std::chrono::microseconds>(readyDeadline).count(), 1000,
                             onDeadline, nullptr);
}

void whenReady(std::function<void()> task) {
  {
    ServiceState& state = serviceState();
    std::lock_guard lock(state.mutex);
    if (!state.ready) {
      state.waiting.push_back(std::move(task));
      return;
    }
  }
  task();
}

}  // namespace kel::mpris
